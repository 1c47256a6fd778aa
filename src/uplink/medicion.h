#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// The decisions of one upload-speed measurement, with time passed in. Owned by the measurement's
// queue ("tm.medir." + network name).
class Medicion {
public:
    static constexpr std::size_t total = 2000000;  // body bytes
    static constexpr std::size_t pieza = 32768;
    static constexpr double tope = 8.0;         // seconds from the start of the connection
    static constexpr double minimo = 0.15;      // a shorter run gives no figure

    struct Resultado {
        std::size_t bytes = 0;
        double transcurrido = 0;  // seconds since the connection became ready; 0 when it never did
        double mbps = 0;          // 0: no figure
        std::string razon;
    };

    // The request head for a host; the body that follows is `total` zero bytes.
    static std::string cabecera(const std::string& host);
    static std::string etiquetaCola(const std::string& nombre) { return "tm.medir." + nombre; }
    // The diagnostic line written with TM_DEPURAR.
    static std::string lineaDepuracion(const std::string& nombre, const Resultado& r);

    void listo(double ahora);  // the connection is ready: the clock starts
    // Size of the next body piece to send; 0 once the whole body has been handed over.
    std::size_t siguientePieza() const;
    void enviado(std::size_t n) { bytes_ += n; }
    // Finishes once; later calls give nothing. `sinConfirmar`: bytes the connection accepted but the
    // peer has not acknowledged yet. They are not counted: on a slow link the system's send buffer
    // holds far more than a second's worth, and counting it would overstate the speed.
    std::optional<Resultado> terminar(double ahora, const std::string& razon, std::size_t sinConfirmar = 0);

    bool terminada() const { return terminada_; }
    std::size_t bytes() const { return bytes_; }

private:
    std::optional<double> inicio_;
    std::size_t bytes_ = 0;
    bool terminada_ = false;
};

// Display name → interface for the networks of one path update, in the order given, without
// repeated display names. `usables` maps interface names to display names; an empty map stands
// for an unsatisfied path and gives an empty list.
struct Camino {
    std::vector<std::string> nombres;
    std::map<std::string, std::string> interfaces;  // display name → interface name
    bool operator==(const Camino&) const = default;
};
Camino armarCamino(const std::vector<std::string>& orden, const std::map<std::string, std::string>& usables);

}  // namespace tt
