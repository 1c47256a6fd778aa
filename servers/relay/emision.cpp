#include "emision.h"

#include "bitacora_relay.h"

namespace tt::relay {

Taller::~Taller() { parar(); }

void Taller::pedir(const std::shared_ptr<Buzon>& b, std::string jpeg, Formato f) {
    std::lock_guard l(candado_);
    if (fin_) return;
    const bool enCola = b->pedido.has_value();
    b->pedido.emplace(std::move(jpeg), std::move(f));
    if (enCola) return;  // the job already queued takes the newer request
    if (!cola_) cola_ = std::make_unique<Cola>("tm.imagen");
    cola_->asincrono([this, debil = std::weak_ptr<Buzon>(b)] {
        std::pair<std::string, Formato> pedido;
        auto b = debil.lock();
        {
            std::lock_guard l(candado_);
            if (fin_ || !b || !b->pedido) return;
            pedido = std::move(*b->pedido);
            b->pedido.reset();
        }
        auto hecho = hacerRelleno(pedido.first, pedido.second);  // outside the lock
        std::lock_guard l(candado_);
        b->hecho = std::move(hecho);
    });
}

std::optional<RellenoHecho> Taller::recoger(const std::shared_ptr<Buzon>& b) {
    std::lock_guard l(candado_);
    auto r = std::move(b->hecho);
    b->hecho.reset();
    return r;
}

void Taller::parar() {
    {
        std::lock_guard l(candado_);
        fin_ = true;
    }
    cola_.reset();  // the job under way finishes; those queued see the end and return
}

Emision::Emision(const std::string& destino, std::string nombre, Taller& taller, double umbral)
    : nombre_(std::move(nombre)), taller_(taller), empalme_(umbral) {
    publicador_ =
        std::make_unique<Publicador>(destino, [](const std::string& x) { anotar("relay: " + legible(x, 300)); });
}

void Emision::datos(std::string_view bytes, double ahora) {
    publicar(empalme_.poner(bytes, ahora));
    pedirRelleno();
}

void Emision::revisar(double ahora) {
    if (auto hecho = taller_.recoger(buzon_)) {
        if (!hecho->aviso.empty()) anotar("relay: " + nombre_ + ": " + hecho->aviso);
        hayImagen_ = !hecho->relleno.cuadros.empty();
        empalme_.fijarRelleno(std::move(hecho->relleno));
    }
    publicar(empalme_.revisar(ahora));
}

void Emision::imagen(std::string jpeg) {
    if (jpeg == jpeg_) return;  // offered again over another link
    jpeg_ = std::move(jpeg);
    jpegNuevo_ = true;
    pedirRelleno();
}

void Emision::pedirRelleno() {
    // Only when the picture or the stream's codec set-up changed: the encoder is not cheap.
    if (!jpegNuevo_ && empalme_.versionFormato() == versionPedida_) return;
    auto f = empalme_.formato();
    if (!f) return;
    versionPedida_ = empalme_.versionFormato();
    jpegNuevo_ = false;
    taller_.pedir(buzon_, jpeg_, std::move(*f));
}

void Emision::publicar(Empalme::Salida s) {
    if (!s.error.empty())
        anotar("relay: el flujo de " + nombre_ + " no es FLV (" + s.error + "); no se publica más de él");
    if (s.empieza)
        anotar("relay: sin datos de " + nombre_ + (hayImagen_ ? ": se publica la imagen de respaldo" :
                                                             ": se repite su último cuadro clave"));
    if (s.termina) anotar("relay: vuelven los datos de " + nombre_ + ": termina la imagen de respaldo");
    if (s.etiquetas.empty() || !publicador_) return;
    std::string bytes;
    if (!cabeceraPuesta_) bytes = cabeceraFlv();
    cabeceraPuesta_ = true;
    for (auto& e : s.etiquetas) bytes += enFlv(e);
    publicador_->poner(bytes);
}

std::unique_ptr<Publicador> Emision::terminar() {
    if (empalme_.mostrando()) anotar("relay: fin de la transmisión " + nombre_ + ": termina la imagen de respaldo");
    if (publicador_) publicador_->terminar();
    return std::move(publicador_);
}

}  // namespace tt::relay
