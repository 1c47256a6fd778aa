#pragma once

namespace tt {

// The account's Kick channels.
class Canales {
public:
    Canales() = default;
};

}  // namespace tt
