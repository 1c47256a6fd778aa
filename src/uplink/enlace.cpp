#include "uplink/enlace.h"

#include "uplink/protocolo.h"

#include <algorithm>
#include <cmath>

namespace tt {

std::int64_t Enlace::tope() const {
    return std::max<std::int64_t>(std::int64_t(ventana * calidad), topeMinimo);
}

void Enlace::acusar(std::uint32_t seq, const Trozo& t, std::int64_t enVueloAntes, double ahora) {
    const double n = double(t.datos.size());
    const double r = ahora - t.enviado;
    bytesEnVuelo -= std::int64_t(t.datos.size());
    confirmados += std::int64_t(t.datos.size());
    demora = demora == 0 ? r : 0.2 * r + 0.8 * demora;
    const double techoBase = 1.02 * demoraBase + 0.002;
    demoraBase = (demoraBase == 0 || r <= techoBase) ? r : techoBase;
    demoraMin = (demoraMin == 0 || r <= demoraMin + 0.0005) ? r : demoraMin + 0.0005;
    if (seq < protocolo::relleno) {
        const double q = r - demoraMin;
        if (q < std::max(0.08, 0.5 * demoraMin) && ventana * calidad * 0.6 <= double(enVueloAntes)) {
            ventana = std::min(ventana + n, ventanaMaxima);
        } else if (q > 0.5 && ahora - recorteEn > std::max(demora, 0.2)) {
            ventana = std::max(0.8 * ventana, ventanaMinima);
            recorteEn = ahora;
        }
    }
    if (!t.copia) calidad = std::min(calidad + 0.02, 1.0);
}

Enlace::Atasco Enlace::revisarAtasco(double ahora, bool otraSana) {
    const double silencio = ahora - std::max(ultimoAcuse, graciaHasta);
    double viejo = ahora;
    for (auto& [s, t] : enVuelo) viejo = std::min(viejo, t.enviado);
    const double edad = ahora - std::max(viejo, graciaHasta);
    Atasco a;
    // Silence only counts while something waits for an acknowledgement: a link the scheduler
    // left idle has nothing to be acknowledged and is not stalled.
    const bool espera = !enVuelo.empty();
    a.atascado = (espera && otraSana && silencio > 2) || (espera && !otraSana && silencio > 4) ||
                 (edad > 5 && bytesEnVuelo <= tope());
    if (a.atascado && otraSana) {
        a.castigo = std::min(4.0 * std::pow(2.0, fallas), 40.0);
        fallas += 1;
        castigoHasta = ahora + a.castigo;
    }
    return a;
}

bool Enlace::recuperar(double ahora) {
    if (fallas >= 1 && ahora - castigoHasta > 90) {
        fallas = 0;
        return true;
    }
    return false;
}

void Enlace::reiniciar(double ahora) {
    con = false;
    etapa = 0;
    graciaHasta = 0;
    intentoEn = ahora;
    ventana = ventanaInicial;
    demoraMin = 0;
    bufer.clear();
}

void Enlace::muestra(double dt) {
    if (dt <= 0) return;
    kbps = int(double(confirmados - confirmadosAntes) * 8 / dt / 1000);
    confirmadosAntes = confirmados;
}

}  // namespace tt
