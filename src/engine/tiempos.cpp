#include "engine/tiempos.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tt {

namespace {
constexpr double esperaAudio = 1.5;  // seconds the origin waits for the first microphone buffer
constexpr int maxCopias = 4;
constexpr int maxPendientesV = 31;

std::string conFormato(const char* f, double a, double b, double c) {
    char buf[160];
    std::snprintf(buf, sizeof buf, f, a, b, c);
    return buf;
}
}  // namespace

void Tiempos::armar(double ahora) {
    FormatoFlujo nuevo;
    nuevo.mono = formato.mono;
    formato = nuevo;
    primeroV.reset();
    primeroA.reset();
    t0.reset();
    pedidoEn = ahora;
    escritosV = escritasA = saltados = 0;
    ultimoAudio.reset();
    microCallado = false;
    pendientesV = 0;
    enPausa = avisoTamano = sinMicrofono = false;
}

Tiempos::Origen Tiempos::origen(double t, double duracion, int w, int h, int planos, bool hayMicro, double ahora,
                                bool depurar) {
    Origen r;
    if (primeroV && (w != formato.ancho || h != formato.alto || planos < 2)) {
        if (!avisoTamano) {
            avisoTamano = true;
            r.bitacora.push_back("la cámara cambió de tamaño al aire: " + std::to_string(w) + "x" + std::to_string(h) +
                                 " en vez de " + std::to_string(formato.ancho) + "x" + std::to_string(formato.alto) +
                                 "; esos cuadros se saltan");
        }
        saltados += 1;
        r.soltar = true;
        return r;
    }
    if (!primeroV) {
        primeroV = t;
        formato.ancho = w;
        formato.alto = h;
        int cps = duracion > 0.001 ? int(std::lround(1.0 / duracion)) : 60;
        formato.cps = cps < 10 ? 30 : cps > 60 ? 60 : cps;
    }
    if (!t0) {
        if (primeroA) {
            t0 = std::max(t, *primeroA);
        } else if (!hayMicro || ahora - pedidoEn > esperaAudio) {
            t0 = t;
            formato.hz = 48000;
            formato.canales = 2;
            formato.bytesMuestra = 2;
            formato.flotante = false;
            sinMicrofono = true;
        } else {
            r.soltar = true;
            return r;
        }
        if (depurar)
            r.bitacora.push_back(conFormato("arranque: video %.3f, audio %.3f, t0 %.3f", t, primeroA ? *primeroA : -1.0, *t0));
        r.arrancar = true;
    }
    return r;
}

Tiempos::Colocacion Tiempos::colocar(double t, bool arrancado, bool hayTuboV, bool sinRed, double ahora) {
    Colocacion r;
    if (arrancado && sinRed) {
        if (!enPausa) r.bitacora.push_back("sin internet: transmisión en pausa");
        enPausa = true;
        return r;
    }
    if (arrancado && enPausa && t0) {
        enPausa = false;
        t0 = t - double(escritosV) / formato.cps;
        r.bitacora.push_back("volvió el internet: sigue la transmisión");
        r.volvio = true;
    }
    if (!arrancado || !t0 || !hayTuboV || t < *t0 - 0.004) return r;
    std::int64_t n = std::llround((t - *t0) * formato.cps);  // halves away from zero
    std::int64_t c = std::min<std::int64_t>(n - escritosV + 1, maxCopias);
    if (c <= 0) return r;  // early or a duplicate: not a skip
    if (pendientesV >= maxPendientesV) {
        saltados += c;
        return r;
    }
    escritosV += c;
    pendientesV += 1;
    r.copias = int(c);
    r.silencio = !primeroA;
    if (primeroA && !sinMicrofono && ahora - ultimoAudio.value_or(ahora) > esperaMicro) {
        if (!microCallado) {
            r.bitacora.push_back("micrófono: no llega sonido; la transmisión sigue en silencio");
            r.microCallo = true;
        }
        microCallado = true;
        const std::int64_t hasta = std::int64_t(std::llround(formato.hz)) * escritosV / formato.cps;
        if (hasta > escritasA) {
            r.inicioCallado = escritasA;
            r.callado = hasta - escritasA;
            escritasA = hasta;
        }
    }
    return r;
}

void Tiempos::videoEscrito() { pendientesV = std::max(0, pendientesV - 1); }

Tiempos::Audio Tiempos::audio(double t, std::int64_t cuenta, const FormatoAudio& f, double ahora, bool arrancado,
                              bool puedeEscribir, bool depurar, double marcaPropia) {
    Audio r;
    if (!primeroA) {
        if (t0 || sinMicrofono) return r;  // started without microphone: silence keeps coming from the video path
        primeroA = t;
        formato.hz = f.hz;
        formato.canales = f.canales;
        formato.bytesMuestra = f.bits / 8;
        formato.flotante = f.flotante;
        if (depurar)
            r.bitacora.push_back(conFormato("primer audio: hora común %.3f, marca propia %.3f, ahora %.3f", t, marcaPropia, ahora));
    }
    ultimoAudio = ahora;
    if (microCallado) {
        microCallado = false;
        r.microVolvio = true;
        r.bitacora.push_back("micrófono: vuelve el sonido");
    }
    if (!arrancado || enPausa || !std::isfinite(t) || !t0 || !puedeEscribir) return r;
    std::int64_t U = std::llround((t - *t0) * formato.hz);
    std::int64_t u = U < 0 ? std::min(-U, cuenta) : 0;
    std::int64_t W = U + u - escritasA;
    double T = formato.hz / 100;
    std::int64_t silencio = 0;
    if (double(W) > T) {
        silencio = std::min<std::int64_t>(std::llround(3 * formato.hz), W);
    } else if (double(W) < -T) {
        u = std::min(escritasA - U, cuenta);
    }
    r.inicio = escritasA;
    escritasA += silencio + (cuenta - u);
    r.escribir = true;
    r.silencio = silencio;
    r.corte = u;
    r.mezclaSimple = mezclaSimple();
    return r;
}

PuntoDeRelevo cuadroDeRelevo(std::int64_t escritosV, double ahora, double t0, int cps) {
    PuntoDeRelevo p;
    p.cuadro = std::max<std::int64_t>(escritosV, std::llround((ahora - t0) * cps));
    p.relleno = int(std::min<std::int64_t>(p.cuadro - escritosV, cps));
    return p;
}

double desfaseDeRelevo(bool urgente, std::optional<std::uint32_t> ultimoMs, std::int64_t cuadro,
                       std::int64_t cuadroBase, int cps, double desfase) {
    if (urgente) return (ultimoMs ? *ultimoMs / 1000.0 : 0.0) + 0.1;
    return double(cuadro - cuadroBase) / cps + desfase;
}

std::int64_t muestraDeRelevo(double hz, std::int64_t cuadro, int cps) {
    return std::int64_t(std::llround(hz)) * cuadro / cps;
}

std::int64_t antesDelRelevo(std::int64_t muestra, std::int64_t inicio, std::int64_t total) {
    return std::clamp<std::int64_t>(muestra - inicio, 0, total);
}

void empacarNv12(const std::uint8_t* y, int pasoY, int filasY, const std::uint8_t* uv, int pasoUV, int filasUV,
                 int ancho, int alto, std::uint8_t* destino) {
    std::uint8_t* dy = destino;
    std::uint8_t* duv = destino + std::size_t(ancho) * alto;
    if (y && pasoY >= ancho && filasY >= alto)
        for (int f = 0; f < alto; ++f) std::memcpy(dy + std::size_t(f) * ancho, y + std::size_t(f) * pasoY, ancho);
    else
        std::memset(dy, 0, std::size_t(ancho) * alto);
    if (uv && pasoUV >= ancho && filasUV >= alto / 2)
        for (int f = 0; f < alto / 2; ++f) std::memcpy(duv + std::size_t(f) * ancho, uv + std::size_t(f) * pasoUV, ancho);
    else
        std::memset(duv, 0, std::size_t(ancho) * (alto / 2));
}

}  // namespace tt
