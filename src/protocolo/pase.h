#pragma once

#include <string>

namespace tt {

// The permission of one transmission, granted by the control service. `llave` and `pase` are
// credentials: never logged.
struct Pase {
    std::string entrada;  // relay host and port joined by a colon
    std::string sid;
    std::string llave;
    std::string pase;
    int segundos = 0;
};

}  // namespace tt
