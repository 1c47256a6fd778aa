#include "comun/cuadro.h"

namespace tt {

std::shared_ptr<Piscina> Piscina::crear(std::size_t maximo) {
    return std::shared_ptr<Piscina>(new Piscina(maximo));
}

Cuadro Piscina::nuevo(int ancho, int alto) {
    ancho = ancho < 2 ? 0 : ancho & ~1;
    alto = alto < 2 ? 0 : alto & ~1;
    const std::size_t bytes = bytesNv12(ancho, alto);
    auto* m = new std::vector<std::uint8_t>;
    {
        std::lock_guard l(candado_);
        for (auto it = libres_.begin(); it != libres_.end(); ++it) {
            if (it->size() == bytes) {
                *m = std::move(*it);
                libres_.erase(it);
                break;
            }
        }
    }
    if (m->size() != bytes) m->assign(bytes, 0);
    std::weak_ptr<Piscina> debil = weak_from_this();
    Cuadro c;
    c.ancho = ancho;
    c.alto = alto;
    c.pasoY = ancho;
    c.pasoUV = ancho;
    c.memoria = Memoria(m, [debil](std::vector<std::uint8_t>* m) {
        if (auto p = debil.lock()) p->devolver(std::move(*m));
        delete m;
    });
    return c;
}

void Piscina::devolver(std::vector<std::uint8_t>&& m) {
    if (m.empty()) return;
    std::lock_guard l(candado_);
    // Sizes that stop being asked for (a camera that changed format) age out first.
    if (libres_.size() >= maximo_) libres_.erase(libres_.begin());
    libres_.push_back(std::move(m));
}

Cuadro nuevoCuadro(int ancho, int alto) {
    static const std::shared_ptr<Piscina> piscina = Piscina::crear(16);
    return piscina->nuevo(ancho, alto);
}

}  // namespace tt
