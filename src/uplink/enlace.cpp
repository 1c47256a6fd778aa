#include "uplink/enlace.h"

#include "protocolo/protocolo.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tt {

std::int64_t Enlace::tope() const {
    return std::max<std::int64_t>(std::int64_t(ventana_ * calidad_), topeMinimo);
}

void Enlace::conectar(double ahora) {
    con_ = true;
    etapa_ = Etapa::conectando;
    bufer_.clear();
    sinMandar_ = 0;
    intentoEn_ = ahora;
}

void Enlace::admitir(double ahora) {
    etapa_ = Etapa::admitido;
    ultimoAcuse_ = ahora;
    vacioDesde_ = ahora;
}

void Enlace::soltar(double ahora) {
    con_ = false;
    etapa_ = Etapa::conectando;
    graciaHasta_ = 0;
    intentoEn_ = ahora;
    ventana_ = ventanaInicial;
    demoraMin_ = 0;
    bufer_.clear();
    sinMandar_ = 0;
}

std::optional<std::string> Enlace::sacarLinea() { return protocolo::sacarLinea(bufer_); }

std::vector<std::uint32_t> Enlace::sacarAcuses() { return protocolo::sacarAcuses(bufer_); }

void Enlace::escrito(std::size_t n) { sinMandar_ = std::max<std::int64_t>(sinMandar_ - std::int64_t(n), 0); }

void Enlace::poner(std::uint32_t seq, std::string datos, double ahora, bool copia, bool latido) {
    auto viejo = enVuelo_.find(seq);
    if (viejo != enVuelo_.end()) bytesEnVuelo_ -= std::int64_t(viejo->second.datos.size());
    if (enVuelo_.empty()) ultimoAcuse_ = ahora;
    bytesEnVuelo_ += std::int64_t(datos.size());
    enVuelo_[seq] = Trozo{std::move(datos), ahora, copia, latido};
}

std::optional<Trozo> Enlace::acusar(std::uint32_t seq, double ahora) {
    ultimoAcuse_ = ahora;
    auto it = enVuelo_.find(seq);
    if (it == enVuelo_.end()) return std::nullopt;  // unknown or already settled
    Trozo t = std::move(it->second);
    enVuelo_.erase(it);
    const std::int64_t antes = bytesEnVuelo_;
    const auto n = std::int64_t(t.datos.size());
    const double r = ahora - t.enviado;
    bytesEnVuelo_ -= n;
    if (enVuelo_.empty()) vacioDesde_ = ahora;
    if (!t.latido) confirmados_ += n;
    desvio_ = demora_ == 0 ? r / 2 : 0.75 * desvio_ + 0.25 * std::abs(r - demora_);
    demora_ = demora_ == 0 ? r : 0.2 * r + 0.8 * demora_;
    const double techoBase = 1.02 * demoraBase_ + 0.002;
    demoraBase_ = (demoraBase_ == 0 || r <= techoBase) ? r : techoBase;
    demoraMin_ = (demoraMin_ == 0 || r <= demoraMin_ + 0.0005) ? r : demoraMin_ + 0.0005;
    // Real chunks and a probe's filler steer the window (a probe must be able to open it); a
    // keep-alive carries no load and the fallback image travels under its own grace.
    if (!t.latido && seq != protocolo::seqRespaldo) {
        const double q = r - demoraMin_;
        if (q < std::max(0.08, 0.5 * demoraMin_) && ventana_ * calidad_ * 0.6 <= double(antes)) {
            ventana_ = std::min(ventana_ + double(n), ventanaMaxima);
        } else if (q > 0.5 && ahora - recorteEn_ > std::max(demora_, 0.2)) {
            ventana_ = std::max(0.8 * ventana_, ventanaMinima);
            recorteEn_ = ahora;
        }
    }
    if (!t.copia) calidad_ = std::min(calidad_ + 0.02, 1.0);
    return t;
}

void Enlace::copiado(std::uint32_t seq) {
    auto it = enVuelo_.find(seq);
    if (it == enVuelo_.end()) return;
    it->second.copia = true;
    calidad_ = std::max(0.8 * calidad_, 0.1);
    copiados_ += 1;
}

void Enlace::descopiar(std::uint32_t seq) {
    auto it = enVuelo_.find(seq);
    if (it != enVuelo_.end()) it->second.copia = false;
}

std::map<std::uint32_t, Trozo> Enlace::vaciar() {
    bytesEnVuelo_ = 0;
    return std::exchange(enVuelo_, {});
}

bool Enlace::ocioso(double ahora, double segundos) const {
    return listo() && enVuelo_.empty() && ahora - vacioDesde_ >= segundos && ahora >= graciaHasta_;
}

Enlace::Atasco Enlace::revisarAtasco(double ahora, bool otraSana, std::int64_t topeSinMandar) {
    const double silencio = ahora - std::max(ultimoAcuse_, graciaHasta_);
    double viejo = ahora;
    for (auto& [s, t] : enVuelo_) viejo = std::min(viejo, t.enviado);
    const double edad = ahora - std::max(viejo, graciaHasta_);
    Atasco a;
    // Silence only counts while something waits for an acknowledgement: a link the scheduler
    // left idle has nothing to be acknowledged (its keep-alive finds out whether it still lives).
    const bool espera = !enVuelo_.empty();
    // Bytes still unwritten beyond those in flight were acknowledged without ever being sent: a
    // relay that does not read while it acknowledges would have the stream held here without end.
    const bool colmado = sinMandar_ - bytesEnVuelo_ > topeSinMandar;
    a.atascado = (espera && otraSana && silencio > 2) || (espera && !otraSana && silencio > 4) ||
                 (edad > 5 && bytesEnVuelo_ <= tope()) || colmado;
    if (a.atascado && otraSana) {
        a.castigo = std::min(4.0 * std::pow(2.0, fallas_), 40.0);
        fallas_ += 1;
        castigoHasta_ = ahora + a.castigo;
    }
    return a;
}

bool Enlace::recuperar(double ahora) {
    if (fallas_ >= 1 && ahora - castigoHasta_ > 90) {
        fallas_ = 0;
        return true;
    }
    return false;
}

void Enlace::muestra(double dt) {
    if (dt <= 0) return;
    kbps_ = int(double(confirmados_ - confirmadosAntes_) * 8 / dt / 1000);
    confirmadosAntes_ = confirmados_;
}

}  // namespace tt
