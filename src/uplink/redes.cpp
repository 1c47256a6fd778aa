#include "uplink/redes.h"

#include "comun/bitacora.h"
#include "comun/cola.h"
#include "uplink/interfaces.h"
#include "uplink/medidor_subida.h"

namespace tt {

// The interface watch runs on its own queue; a burst of events within 0.1 s gives one update.
struct Redes::Vigia {
    Cola q{"tm.redes"};
    std::unique_ptr<VigiaInterfaces> v;  // created, used and closed on q

    ~Vigia() {
        q.sincrono([this] { v.reset(); });
    }
};

Redes::Redes(AlPrincipal alPrincipal) : alPrincipal_(std::move(alPrincipal)) {}

Redes::~Redes() {
    vida_.reset();
    vigia_.reset();
    medidores_.clear();
}

void Redes::arrancar() {
    if (vigia_) return;
    vigia_ = std::make_unique<Vigia>();
    std::weak_ptr<int> vida = vida_;
    auto publicar = [this, vida] {
        alPrincipal_([this, vida, c = caminoActual()]() mutable {
            if (vida.lock()) recibir(std::move(c));
        });
    };
    vigia_->q.asincrono([v = vigia_.get(), publicar] {
        v->v = std::make_unique<VigiaInterfaces>(v->q.contexto(), 0.1, publicar);
        std::string error;
        if (!v->v->abrir(&error)) bitacora("redes: no se pudo vigilar las interfaces: " + error);
        publicar();
    });
}

Camino Redes::caminoActual() {
    return armarCamino(Interfaces::orden(), Interfaces::usables());
}

void Redes::recibir(Camino c) {
    const bool cambio = c.nombres != nombres_;
    nombres_ = std::move(c.nombres);
    interfaces_ = std::move(c.interfaces);
    for (auto it = sube_.begin(); it != sube_.end();)
        it = interfaces_.count(it->first) ? std::next(it) : sube_.erase(it);
    if (alCambiar) alCambiar();
    if (cambio && alCambiarRedes) alCambiarRedes();
}

void Redes::medir() {
    const auto destino = DestinoMedicion::configurado();
    std::weak_ptr<int> vida = vida_;
    for (auto& [nombre, interfaz] : interfaces_) {
        if (midiendo_.count(nombre)) continue;
        midiendo_.insert(nombre);
        auto m = std::make_unique<MedidorSubida>(nombre, interfaz, destino,
                                           [this, vida, nombre](const Medicion::Resultado& r) {
                                               alPrincipal_([this, vida, nombre, r] {
                                                   if (vida.lock()) terminada(nombre, r);
                                               });
                                           });
        m->arrancar();
        medidores_[nombre] = std::move(m);
    }
    if (alCambiar) alCambiar();
}

void Redes::terminada(const std::string& nombre, const Medicion::Resultado& r) {
    medidores_.erase(nombre);  // its queue has handed over its last result
    midiendo_.erase(nombre);
    if (r.mbps > 0) sube_[nombre] = r.mbps;
    else sube_.erase(nombre);
    if (alCambiar) alCambiar();
}

}  // namespace tt
