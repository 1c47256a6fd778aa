#include "engine/reloj_muestras.h"

#include <algorithm>

namespace tt {

double RelojMuestras::hora(double llegada, std::int64_t cuadros, int hz) {
    if (hz <= 0) return llegada;
    const double porCuenta = double(contados_) / hz;
    // Had the buffer arrived the instant its last sample was taken, its first one was taken then.
    const double desfase = llegada - double(cuadros) / hz - porCuenta;
    if (!base_ || desfase < *base_ || desfase - *base_ > 0.2)
        base_ = desfase;
    else
        *base_ += std::min(desfase - *base_, 0.001 * (llegada - ultimaLlegada_));
    ultimaLlegada_ = llegada;
    contados_ += cuadros;
    return *base_ + porCuenta;
}

}  // namespace tt
