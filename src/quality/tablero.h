#pragma once

#include "quality/aviso.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// The live figures and notices of one transmission, worked out from the engine's readings every
// 0.25 s. Each notice is written once when its condition changes, so a later one (the quality
// controller's, for instance) stays until the next change. Time is passed in. Main thread (App).
class Tablero {
public:
    struct Lectura {
        bool enPausa = false;            // paused for lack of network
        std::int64_t saltados = 0;       // skipped frames
        double ultimoVideoEn = 0;        // last camera frame; 0 when none came yet
        std::int64_t bytes = 0;          // bytes the encoders of this transmission produced
        double ritmo = 0, cps = 0;       // encoder speed and frames per second; 0 before they report
        std::optional<std::string> respaldo;  // name of the screen the relay shows while offline
    };
    struct Cifras {
        std::string tiempo, saltados;
        std::optional<std::string> sale, ritmo, cps;  // only when due
        std::vector<Aviso> avisos;                    // internet and camera, in order
        bool toca = false;  // the 2-s work is due: the quality controller, the open-record renewal
        bool pausado = false;
        std::optional<Aviso> lento;  // the slow-encoder notice, after the 2-s work
    };

    void empezar(double ahora);
    Cifras refrescar(double ahora, const Lectura& l);

private:
    double inicio = 0;
    std::int64_t bytesAntes = 0;
    double tAntes = 0;
    bool avisoCorte = false, avisoCamara = false;
    int lentos = 0;  // consecutive slow-encoder samples
};

// The figures on air as the status line, the phones and the health report show them: each one's
// last value, "—" until it has one.
struct CifrasAlAire {
    std::string tiempo = "—", sale = "—", ritmo = "—", cps = "—", saltados = "—";
    void tomar(const Tablero::Cifras& c);
};

// "1:02:05": hours, minutes, seconds.
std::string tiempoTexto(double segundos);
// One number in a printf format, e.g. conFormato("%.2f Mbps", x).
std::string conFormato(const char* formato, double x);
// The status line while on air: the figures' texts, and the quality text when there is one.
std::string lineaEstado(const std::string& tiempo, const std::string& sale, const std::string& cps,
                        const std::string& ritmo, const std::string& saltados,
                        const std::optional<std::string>& calidad);

}  // namespace tt
