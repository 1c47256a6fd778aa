#pragma once

#include "comun/json.h"
#include "uplink/enlace.h"
#include "protocolo/pase.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tt {

// What the uplink is created with, besides the relay endpoint.
struct AjustesReparto {
    std::string clave;
    std::optional<std::string> destino;
    std::optional<std::string> respaldo;
    std::optional<Pase> pase;
    std::string sesion;
    std::string epoca;
    std::optional<double> topePrueba;  // kbit/s
    double topeDesde = 0, topeHasta = 0;
    double nacio = 0;
    std::optional<std::pair<double, double>> corte;  // simulated outage [start, end)
};

struct Presion {
    double espera = 0;
    int kbps = 0;
    int unidas = 0;
};

// What the pressure reading is made of, over one interval; intervals add up.
struct TramoPresion {
    double segundos = 0;
    std::int64_t confirmados = 0;  // payload bytes acknowledged
    double esperado = 0;           // seconds the producer waited (several producers add up)
    int unidas = 0;                // admitted links at its end

    void sumar(const TramoPresion& despues);
    Presion presion() const;
};

struct Sondeo {
    std::int64_t tocaba = 0;
    std::int64_t confirmado = 0;
};

// Running totals for tools and benchmarks.
struct Cuentas {
    std::int64_t confirmados = 0;  // payload bytes acknowledged, copies and filler included
    std::int64_t copias = 0;       // late chunks copied to another link
    std::int64_t caidas = 0;       // drops of admitted links
    std::int64_t atascos = 0;      // stalls among them
    std::int64_t latidos = 0;      // keep-alive filler chunks sent to idle links
};

struct Resumen {
    std::vector<std::pair<std::string, std::string>> partes;  // (nombre, estado)
    int unidas = 0;
};

// What the shell must carry out, in order, after an event.
struct Accion {
    enum class Tipo {
        conectar,  // open a new connection for `bsd` (replacing any)
        soltar,    // close the connection of `bsd`
        mandar,    // write `texto` on the connection of `bsd`
        cortar,    // the relay ended the transmission for the reason `texto` (once)
        anotar,    // a log line
    };
    Tipo tipo;
    std::string bsd;
    std::string texto;
    bool operator==(const Accion&) const = default;
};
using Acciones = std::vector<Accion>;

// The whole decision-making of the bonded uplink: handshakes, scheduling, acknowledgements,
// re-sending, stalls, keep-alives, pressure and probing. Pure: events and the time come in, the
// actions for the sockets and the log come out; nothing inside knows about threads or sockets.
// Owner: the uplink's queue "tm.reparto".
class Despacho {
public:
    static constexpr std::size_t maxCola = 63;
    // An admitted link left idle this long gets a filler chunk, so a dead one is found before the
    // stream depends on it.
    static constexpr double latidoTras = 1.0;
    // What a connection may hold unwritten beyond its chunks in flight: this many seconds at the
    // uplink's current rate, never less than the largest window.
    static constexpr double segundosSinMandar = 3.0;

    Despacho(AjustesReparto ajustes, double ahora);

    // Producer side. `intentar` is repeated until the piece is taken or the uplink is inactive;
    // the time between a first refusal and the end counts as the producer's wait.
    std::uint32_t numerar() { return siguiente++; }
    struct Intento {
        bool tomado = false;
        bool activo = true;
        Acciones acciones;
    };
    Intento intentar(std::uint32_t seq, const std::string& datos, double ahora);

    // Connection events from the shell.
    Acciones recibir(const std::string& bsd, std::string_view bytes, double ahora);
    Acciones escrito(const std::string& bsd, std::size_t n);  // the connection wrote n bytes
    Acciones caer(const std::string& bsd, double ahora);      // the connection failed or ended

    // The periodic check, with the interfaces usable now (BSD name → display name).
    Acciones revisar(double ahora, const std::map<std::string, std::string>& interfaces);
    Acciones terminar(double ahora);
    // After the end chunk had its time to travel: every connection closes and the links go.
    Acciones cerrar();

    // The interval since the last reading, which starts a new one.
    TramoPresion tomarTramo(double ahora);
    Presion tomarPresion(double ahora) { return tomarTramo(ahora).presion(); }
    void sondear(int kbps, double segundos, double ahora);
    Sondeo sondeo(double ahora) const;
    Resumen resumen(double ahora) const;
    std::vector<Json> detalle(double ahora) const;
    // Since when no link is admitted, after having had one.
    std::optional<double> sinRedDesde() const { return sinRedDesde_; }
    bool activo() const { return activo_; }

    const std::map<std::string, Enlace>& enlaces() const { return enlaces_; }
    const std::deque<std::pair<std::uint32_t, std::string>>& cola() const { return cola_; }
    const std::set<std::uint32_t>& entregados() const { return entregados_; }
    const AjustesReparto& ajustes() const { return a_; }
    std::int64_t confirmadosTotal() const { return confirmadosTotal_; }
    std::int64_t topeSinMandar() const;
    double fichas() const { return fichas_; }
    bool respaldoListo() const { return respaldoListo_; }
    std::uint32_t siguienteSeq() const { return siguiente; }
    Cuentas cuentas() const {
        Cuentas c = cuentas_;
        c.confirmados = confirmadosTotal_;
        return c;
    }

private:
    Acciones salir() { return std::exchange(salida_, {}); }
    void anotar(std::string t) { salida_.push_back({Accion::Tipo::anotar, {}, std::move(t)}); }
    void mandar(Enlace& e, std::string bytes);
    bool asignar(std::uint32_t seq, const std::string& datos, bool forzar, const Enlace* evitar, double ahora);
    void vaciarCola(double ahora);
    void conectar(Enlace& e, double ahora);
    void caer(Enlace& e, double ahora);
    void devolver(Enlace& e);
    void procesar(Enlace& e, double ahora);
    void admitir(Enlace& e, double ahora);
    void rechazo(Enlace& e, const std::string& linea, double ahora);
    void acuse(Enlace& e, std::uint32_t seq, double ahora);
    void revisarEnlace(Enlace& e, bool enCorte, double ahora);
    void copiarTardios(Enlace& e, double ahora);
    void latir(double ahora);
    void sondar(double ahora);
    Enlace* menosCargado(const Enlace* evitar, bool conCastigados, double ahora);
    bool otraLoTiene(const Enlace& e, std::uint32_t seq) const;
    bool topeAplica(double ahora) const;
    std::uint32_t siguienteRelleno();

    AjustesReparto a_;
    Acciones salida_;  // actions of the event being handled
    std::map<std::string, Enlace> enlaces_;
    std::deque<std::pair<std::uint32_t, std::string>> cola_;
    std::uint32_t siguiente = 0;
    bool activo_ = true;
    std::set<std::uint32_t> entregados_;

    bool respaldoListo_ = false;
    double respaldoEn = -1e9;  // long ago: the first admission may offer the image at once

    std::optional<double> sinRedDesde_;
    bool unidaAlgunaVez = false;

    double esperado = 0;                      // seconds the producer waited since the last reading
    std::map<std::uint32_t, double> esperas;  // pieces refused so far → since when (counted up to)
    double presionDesde = 0;
    std::int64_t confirmadosPresion = 0;
    std::int64_t confirmadosTotal_ = 0;
    double fichas_ = 0;
    double fichasEn = 0;
    int sondeoKbps = 0;
    double sondeoDesde = 0, sondeoHasta = 0;
    std::int64_t sondeoMandado = 0, sondeoConfirmado = 0;
    std::uint32_t sondeoSeq = 0xFFFFFF00;

    int copias = 0;
    Cuentas cuentas_;
    double tCopias = 0;
    double tKbps = 0;
    int kbpsTotal = 0;  // all links together at the last throughput sample
};

}  // namespace tt
