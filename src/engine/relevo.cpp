#include "engine/relevo.h"

#include <algorithm>
#include <utility>

namespace tt {

namespace {
std::vector<std::uint8_t> tomar(std::vector<std::uint8_t>& v) {
    std::vector<std::uint8_t> t;
    t.swap(v);
    return t;
}
}  // namespace

Relevo::Relevo(std::int64_t c, std::int64_t m, bool urgente) : cuadro(c), muestra(m), retenido_(urgente) {}

void Relevo::pasar(Paso& p) {
    p.cerrarViejo = true;
    paso_ = true;
    if (!abierto_) return;
    p.alNuevo = tomar(cola_);
    p.completo = true;
}

Relevo::Paso Relevo::audio(std::vector<std::uint8_t> bytes, std::optional<std::size_t> antes) {
    Paso p;
    if (antes && antesDelCorte()) {
        const auto hasta = bytes.begin() + std::ptrdiff_t(std::min(*antes, bytes.size()));
        p.alViejo.assign(bytes.begin(), hasta);
        bytes.erase(bytes.begin(), hasta);
        // Not launched yet: the old encoder keeps its audio until it is, the rest waits.
        if (lanzado_) pasar(p);
        else retenido_ = true;
    }
    auto& destino = retenido_ || (paso_ && !abierto_) ? cola_ : paso_ ? p.alNuevo : p.alViejo;
    destino.insert(destino.end(), bytes.begin(), bytes.end());
    return p;
}

Relevo::Paso Relevo::alLanzar() {
    Paso p;
    lanzado_ = true;
    if (retenido_) {
        retenido_ = false;
        pasar(p);
    }
    return p;
}

Relevo::Paso Relevo::alAbrir() {
    Paso p;
    abierto_ = true;
    if (paso_) {
        p.alNuevo = tomar(cola_);
        p.completo = true;
    }
    return p;
}

Relevo::Paso Relevo::alVencer() {
    Paso p;
    if (lanzado_ && antesDelCorte()) pasar(p);
    return p;
}

Relevo::Paso Relevo::alFallar() {
    Paso p;
    retenido_ = false;
    p.alViejo = tomar(cola_);
    return p;
}

}  // namespace tt
