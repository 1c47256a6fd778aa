#include "comun/reloj.h"

#include <ctime>

namespace tt {

double ahora() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace tt
