#include "ui/fotos.h"

#include "comun/cola.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "principal/principal.h"
#include "ui/tarjeta.h"

namespace tt {

bool CuentaFotos::toca(const Pantalla& p, bool conCamara, double t) const {
    auto d = dibujos_.find(p.id);
    if (d == dibujos_.end() || !(d->second.p == p)) return true;
    if (d->second.enCurso || d->second.fallo) return false;
    return conCamara && p.camara != 0 && t - d->second.en >= 1;
}

void CuentaFotos::pedida(const Pantalla& p, double t) {
    auto d = dibujos_.find(p.id);
    const bool dibujada = d != dibujos_.end() && d->second.p == p && d->second.dibujada;
    dibujos_[p.id] = Dibujo{p, t, true, false, dibujada};
}

bool CuentaFotos::hecha(const Pantalla& p, bool bien) {
    auto d = dibujos_.find(p.id);
    if (d == dibujos_.end() || !(d->second.p == p)) return false;  // the screen changed meanwhile
    d->second.enCurso = false;
    d->second.fallo = !bien;
    const bool primera = bien && !d->second.dibujada;
    d->second.dibujada = d->second.dibujada || bien;
    return primera;
}

Fotos::Fotos(int ancho) : ancho_(ancho), obrero_(std::make_unique<Cola>("tm.fotos")) {}
Fotos::~Fotos() = default;

void Fotos::olvidar() {
    ++epoca_;
    cuenta_.olvidar();
    hechas_.clear();
    sinMuestra_.clear();
}

std::optional<QImage> Fotos::ultima(const std::string& id) const {
    auto h = hechas_.find(id);
    if (h == hechas_.end()) return std::nullopt;
    return h->second;
}

void Fotos::pintar(const std::vector<QPointer<Tarjeta>>& tarjetas, Almacen& almacen,
                   const std::optional<Cuadro>& camara, double t) {
    for (const auto& tarjeta : tarjetas) {
        if (!tarjeta || !tarjeta->id()) continue;
        auto p = almacen[*tarjeta->id()];
        if (!p) continue;
        // A card made again shows the last picture at once.
        if (auto h = hechas_.find(p->id); !tarjeta->tieneFoto() && h != hechas_.end())
            tarjeta->poner(h->second, QString::fromStdString(p->nombre));
        if (!cuenta_.toca(*p, camara.has_value(), t)) continue;
        cuenta_.pedida(*p, t);
        auto ruta = almacen.ruta(*p);
        if (ruta && sinMuestra_.count(*p->archivo)) ruta.reset();  // drawn without it, not tried again
        auto still = almacen.muestraGuardada(*p);
        std::weak_ptr<int> vida = vida_;
        obrero_->asincrono([this, vida, epoca = epoca_, p = *p, ruta, still, camara, tarjeta, &almacen]() mutable {
            const bool decodificado = ruta && !still;
            if (decodificado) still = Almacen::leerMuestra(*ruta, p.esVideo);
            auto foto = Compositor::retrato(p, still, ancho_, camara);
            enPrincipal([this, vida, epoca, p, still, decodificado, foto, tarjeta, &almacen] {
                if (!vida.lock() || epoca != epoca_) return;  // gone, or drawn for a store replaced since
                const bool primera = cuenta_.hecha(p, foto.has_value());
                if (decodificado && still) almacen.recordarMuestra(p, *still);
                else if (decodificado) sinMuestra_.insert(*p.archivo);
                if (foto) hechas_[p.id] = *foto;
                if (primera && alCambiar) alCambiar();
                if (!tarjeta || tarjeta->id() != p.id) return;
                if (foto) tarjeta->poner(*foto, QString::fromStdString(p.nombre));
                else tarjeta->ponerNombre(QString::fromStdString(p.nombre));
            });
        });
    }
}

}  // namespace tt
