#include "engine/bloque_audio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tt {

double pico(const BloqueAudio& b) {
    const std::size_t n = b.bytes.size();
    const std::uint8_t* p = b.bytes.data();
    double maximo = 0;
    if (b.formato.flotante && b.formato.bits == 32) {
        for (std::size_t i = 0; i + 4 <= n; i += 4) {
            float v;
            std::memcpy(&v, p + i, 4);
            if (std::isfinite(v)) maximo = std::max(maximo, double(std::fabs(v)));
        }
        return maximo;
    }
    if (b.formato.flotante) return 0;
    if (b.formato.bits == 32) {
        for (std::size_t i = 0; i + 4 <= n; i += 4) {
            std::int32_t v;
            std::memcpy(&v, p + i, 4);
            maximo = std::max(maximo, std::fabs(double(v)));
        }
        return maximo / 2147483648.0;
    }
    if (b.formato.bits == 16) {
        for (std::size_t i = 0; i + 2 <= n; i += 2) {
            std::int16_t v;
            std::memcpy(&v, p + i, 2);
            maximo = std::max(maximo, std::fabs(double(v)));
        }
        return maximo / 32768.0;
    }
    return 0;
}

}  // namespace tt
