#pragma once

namespace tt {

// Watch over the usable networks and their upload speed.
class Redes {
public:
    Redes() = default;
};

}  // namespace tt
