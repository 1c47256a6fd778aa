#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tt {

// A chunk sent on a link and not yet acknowledged.
struct Trozo {
    std::string datos;
    double enviado = 0;
    bool copia = false;  // has a second copy on another link, or is itself such a copy
};

// One link's state and arithmetic: handshake stage, chunks in flight, delay, window, quality and
// penalties. Pure: time comes in as `ahora`, the socket lives in the uplink's shell.
// Owner: the uplink's queue "tm.reparto".
class Enlace {
public:
    static constexpr double ventanaInicial = 131072;
    static constexpr double ventanaMaxima = 2097152;
    static constexpr double ventanaMinima = 65536;
    static constexpr std::int64_t topeMinimo = 16384;

    Enlace(std::string bsd, std::string nombre) : bsd(std::move(bsd)), nombre(std::move(nombre)) {}

    std::string bsd;
    std::string nombre;
    bool con = false;  // a connection exists (the socket itself belongs to the shell)
    int etapa = 0;     // 0 connecting, 1 answer sent, 2 admitted
    double intentoEn = 0;
    std::string bufer;
    std::map<std::uint32_t, Trozo> enVuelo;
    std::int64_t bytesEnVuelo = 0;
    std::int64_t confirmados = 0;
    std::int64_t confirmadosAntes = 0;
    int kbps = 0;
    double ultimoAcuse = 0;
    double castigoHasta = 0;
    int fallas = 0;
    double demora = 0;
    double demoraBase = 0;
    double calidad = 1.0;
    int copiados = 0;
    double graciaHasta = 0;
    double ventana = ventanaInicial;
    double recorteEn = 0;
    double demoraMin = 0;

    std::int64_t tope() const;
    bool listo() const { return etapa == 2; }
    bool castigado(double ahora) const { return ahora < castigoHasta; }

    // Arithmetic of one acknowledged entry (already taken out of enVuelo): delays, window,
    // quality. `enVueloAntes` is bytesEnVuelo before the entry left.
    void acusar(std::uint32_t seq, const Trozo& t, std::int64_t enVueloAntes, double ahora);

    // Stall check of an admitted link (silence counts only with chunks in flight). Applies the penalty when another healthy link exists;
    // the caller drops the link when `atascado`. `castigo` is the penalty in seconds (0: none).
    struct Atasco {
        bool atascado = false;
        double castigo = 0;
    };
    Atasco revisarAtasco(double ahora, bool otraSana);

    // 90 s after the last penalty ended the count starts over; true when that happened now.
    bool recuperar(double ahora);

    // What a drop resets (delays, quality and penalties stay).
    void reiniciar(double ahora);

    // Throughput over the last dt seconds.
    void muestra(double dt);
};

}  // namespace tt
