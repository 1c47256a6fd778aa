#include "quality/escalera.h"

#include <algorithm>
#include <cstdio>

namespace tt {

namespace {
constexpr double kQuieto = 6;        // no decision this long after a change
constexpr double kTrasSubir = 60;    // a step down this soon after a step up goes one rung only
constexpr double kSondeo = 4;        // seconds a probe lasts

std::string kb(std::int64_t bytes) { return std::to_string(bytes / 1024); }

std::string lineaPresion(const Presion& p, int escalon, int kbps, const std::vector<Json>& enlaces) {
    char b[160];
    std::snprintf(b, sizeof b, "presión %.2f | confirmado %d kbps | redes %d | escalón %d (%d kbps)", p.espera, p.kbps,
                  p.unidas, escalon, kbps);
    std::string s = std::string(b) + " | ";
    for (std::size_t i = 0; i < enlaces.size(); ++i) {
        const Json& e = enlaces[i];
        if (i) s += ", ";
        s += e.value("n", std::string()) + " " + std::to_string(e.value("ventanaKB", 0)) + " KB " +
             std::to_string(e.value("ms", 0)) + " ms";
    }
    return s;
}
}  // namespace

void Escalera::empezar(int k, double ahora) {
    escalones_ = {k, k * 11 / 16, k * 15 / 32, k * 5 / 16, 90};
    escalon_ = 0;
    reposar();
    esperaSubir = 10;
    cambioEn = tPresion = ahora;
    subioEn = 0;
    sondeoFin = 0;
}

std::optional<std::string> Escalera::calidadTexto() const {
    if (escalon_ == 0 || escalones_.empty()) return std::nullopt;
    if (soloAudio()) return "Solo audio por la señal";
    char b[80];
    std::snprintf(b, sizeof b, "Calidad reducida a %.1f Mbps por la señal", escalones_[escalon_] / 1000.0);
    return b;
}

bool Escalera::ponerEscalon(int i, const Cambiar& cambiar) {
    if (i < 0 || i >= int(escalones_.size())) return false;
    if (!cambiar(escalones_[i], i > escalon_)) return false;
    escalon_ = i;
    return true;
}

std::optional<int> Escalera::volverA(int kbps) {
    for (int i = 0; i < int(escalones_.size()); ++i)
        if (escalones_[i] == kbps && i != escalon_) {
            const int desde = escalon_;
            escalon_ = i;
            return desde;
        }
    return std::nullopt;
}

Escalera::Respuesta Escalera::cuidar(double ahora, const Lectura& l, const Cambiar& cambiar) {
    Respuesta r;
    if (l.quieta || escalones_.size() < 2 || !l.presion) {
        tPresion = ahora;
        return r;
    }
    const Presion& p = *l.presion;
    const double dt = ahora - tPresion;
    tPresion = ahora;
    if (l.depurar) r.bitacora.push_back(lineaPresion(p, escalon_, escalones_[escalon_], l.enlaces));

    if (l.enPausa || p.unidas == 0 || ahora - cambioEn < kQuieto) {
        reposar();
        return r;
    }
    if (p.espera > 0.3) apretadas += p.espera > 0.6 ? 2 : 1;
    else apretadas = 0;
    if (p.espera > 0.5) {
        tranquilo = 0;
        sumaEspera = 0;
    } else {
        tranquilo += dt;
        sumaEspera += dt * p.espera;
    }

    const int ultimo = int(escalones_.size()) - 1;
    const bool trasSubir = subioEn > 0 && ahora - subioEn < kTrasSubir;
    if (apretadas >= (trasSubir ? 2 : 3) && escalon_ < ultimo) {
        if (sondeoFin > 0) {
            sondeoFin = 0;
            r.sondear = std::pair{0, 0.0};
        }
        int destino = ultimo;
        if (trasSubir) {
            destino = escalon_ + 1;
        } else {
            const int limite = int(0.85 * p.kbps) - 96;
            for (int i = escalon_ + 1; i <= ultimo; ++i)
                if (escalones_[i] <= limite) {
                    destino = i;
                    break;
                }
        }
        const int desde = escalon_;
        if (!ponerEscalon(destino, cambiar)) return r;
        if (trasSubir) esperaSubir = std::min(esperaSubir + 5, 20.0);
        r.desde = desde;
        r.bitacora.push_back("calidad: baja a " +
                             (soloAudio() ? std::string("solo audio") : std::to_string(escalones_[escalon_]) + " kbps") +
                             " (las redes confirmaron " + std::to_string(p.kbps) + " kbps con el compresor frenado " +
                             std::to_string(int(100 * p.espera)) + " % del tiempo)");
        cambioEn = ahora;
        subioEn = 0;
        reposar();
        r.aviso = Aviso{soloAudio() ? "Muy poca señal: sale solo el audio hasta que mejore."
                                    : "La señal no alcanza: bajamos la calidad para que no se trabe.",
                        true};
        return r;
    }

    if (sondeoFin > 0) {
        const Sondeo s = l.sondeo.value_or(Sondeo{});
        if (p.espera <= 0.3 && ahora < sondeoFin) return r;
        sondeoFin = 0;
        r.sondear = std::pair{0, 0.0};
        const std::string paso = "el sondeo pasó " + kb(s.confirmado) + " de " + kb(s.tocaba) + " KB";
        const int capacidad = escalones_[escalon_] + int(0.8 * (double(s.confirmado) * 8 * 0.25 / 1000));
        std::optional<int> destino;
        if (s.tocaba >= 1 && 10 * s.confirmado >= 9 * s.tocaba) destino = 0;
        else
            for (int i = 0; i < escalon_; ++i)
                if (escalones_[i] <= capacidad) {
                    destino = i;
                    break;
                }
        const int desde = escalon_;
        if (p.espera <= 0.3 && destino && *destino != escalon_ && ponerEscalon(*destino, cambiar)) {
            r.desde = desde;
            cambioEn = subioEn = ahora;
            reposar();
            esperaSubir = 10;
            r.bitacora.push_back("calidad: sube a " + std::to_string(escalones_[escalon_]) + " kbps (" +
                                 (escalon_ == 0 ? "la normal" : "aún reducida") + "; " + paso + ")");
            r.aviso = Aviso{escalon_ == 0 ? "La señal mejoró: calidad normal otra vez." : "La señal mejoró: subimos la calidad.",
                            false};
        } else {
            esperaSubir = std::min(esperaSubir + 5, 20.0);
            tranquilo = sumaEspera = 0;
            r.bitacora.push_back("calidad: la señal todavía no aguanta más (" + paso + "); siguiente intento en " +
                                 std::to_string(int(esperaSubir)) + " s");
        }
        return r;
    }

    if (escalon_ >= 1) {
        if (tranquilo >= esperaSubir && sumaEspera / tranquilo < 0.1) {
            const int extra = (escalones_[0] - escalones_[escalon_]) * 125 / 100;
            r.sondear = std::pair{extra, kSondeo};
            sondeoFin = ahora + kSondeo;
            if (l.depurar) r.bitacora.push_back("calidad: sondeo de " + std::to_string(extra) + " kbps de más");
        }
    } else if (esperaSubir > 10 && tranquilo > kTrasSubir) {
        esperaSubir = 10;
    }
    return r;
}

}  // namespace tt
