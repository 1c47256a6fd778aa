#pragma once

#include "comun/json.h"
#include "quality/aviso.h"
#include "uplink/despacho.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tt {

// The quality ladder of one transmission: the bit rates the encoder may run at, highest first,
// the last one audio only. It steps down when the uplink holds the encoder back, and up only
// after a calm spell and a capacity probe that the networks carried. Time is passed in; the shell
// reads the uplink, hands the readings in and carries out the answer. Main thread (App).
class Escalera {
public:
    // The engine's answer to a change of bit rate (urgent for a step down): true if it took it.
    using Cambiar = std::function<bool(int kbps, bool urgente)>;

    // What the shell reads before each step. `presion` is absent without an uplink; `sondeo` is
    // read only while a probe runs (sondeando()); `enlaces` only for the diagnostic line.
    struct Lectura {
        bool quieta = false;  // a test fixes or scripts the quality
        bool enPausa = false;  // on air and paused for lack of network
        std::optional<Presion> presion;
        std::optional<Sondeo> sondeo;
        bool depurar = false;
        std::vector<Json> enlaces;
    };

    // What the shell must carry out after a step, in this order.
    struct Respuesta {
        std::optional<int> desde;                     // the rung changed from this one to escalon()
        std::optional<std::pair<int, double>> sondear;  // start (kbps, seconds) or stop (0, 0) a probe
        std::vector<std::string> bitacora;            // log lines
        std::optional<Aviso> aviso;
    };

    // A transmission starts with the configured bit rate at `ahora`.
    void empezar(int kbps, double ahora);
    // The transmission ended: back to the top rung (the rungs stay for the figures).
    void terminar() { escalon_ = 0; }
    // A change made outside the controller (a test's scripted bit rate) starts the quiet spell again.
    void anotarCambio(double ahora) { cambioEn = ahora; }

    // Moves to rung i if the engine takes it; false changes nothing. Requires 0 ≤ i < size.
    bool ponerEscalon(int i, const Cambiar& cambiar);
    // The engine took a change and could not carry it out after all: back to the rung of the rate
    // it still runs at. The rung it left, when that changed anything.
    std::optional<int> volverA(int kbps);
    // One step of the controller; called at least 2 s after the previous one.
    Respuesta cuidar(double ahora, const Lectura& l, const Cambiar& cambiar);

    const std::vector<int>& escalones() const { return escalones_; }
    int escalon() const { return escalon_; }
    bool sondeando() const { return sondeoFin > 0; }
    bool soloAudio() const { return escalones_.size() >= 2 && escalon_ + 1 == int(escalones_.size()); }
    // "Calidad reducida a 2.8 Mbps por la señal", "Solo audio por la señal", nothing at the top.
    std::optional<std::string> calidadTexto() const;
    double esperaParaSubir() const { return esperaSubir; }

private:
    void reposar() { apretadas = 0, tranquilo = 0, sumaEspera = 0; }

    std::vector<int> escalones_;
    int escalon_ = 0;
    int apretadas = 0;        // consecutive readings under pressure, weighted
    double tranquilo = 0;     // seconds of calm since the last reset
    double esperaSubir = 10;  // calm seconds required before a probe
    double cambioEn = 0;
    double subioEn = 0;       // 0 after a step down
    double tPresion = 0;
    double sumaEspera = 0;    // pressure integrated over the calm spell (seconds × share)
    double sondeoFin = 0;     // 0 when no probe runs
};

}  // namespace tt
