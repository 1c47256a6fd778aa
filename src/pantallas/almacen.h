#pragma once

namespace tt {

// The chosen channel's screens and their media.
class Almacen {
public:
    Almacen() = default;
};

}  // namespace tt
