#pragma once

namespace tt {

// The engine: capture, composition and the encoder processes of each transmission.
class Motor {
public:
    Motor() = default;
};

}  // namespace tt
