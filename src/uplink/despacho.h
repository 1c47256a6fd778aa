#pragma once

#include "comun/json.h"
#include "uplink/enlace.h"
#include "uplink/pase.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
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
};

struct Resumen {
    std::vector<std::pair<std::string, std::string>> partes;  // (nombre, estado)
    int unidas = 0;
};

// The whole decision-making of the bonded uplink: handshakes, scheduling, acknowledgements,
// re-sending, stalls, pressure and probing. Pure: time comes in as `ahora`; sockets are asked for
// through the `al…` callbacks and their bytes come back through `recibir`.
// Owner: the uplink's queue "tm.reparto"; only sinRedDesde/unidaAlgunaVez are also read elsewhere
// (under candadoRed).
class Despacho {
public:
    static constexpr std::size_t maxCola = 63;

    Despacho(AjustesReparto ajustes, double ahora);

    // Shell hooks.
    std::function<void(const std::string& bsd)> alConectar;  // open a new connection (replacing any)
    std::function<void(const std::string& bsd)> alSoltar;    // close the connection
    std::function<void(const std::string& bsd, std::string bytes)> alMandar;
    std::function<void(const std::string& razon)> alCortar;  // called once
    // Usable interfaces now: BSD name → display name.
    std::function<std::map<std::string, std::string>()> interfaces;
    std::function<void(const std::string&)> alAnotar;  // the log; defaults to bitacora

    // Producer side.
    std::uint32_t numerar() { return siguiente++; }
    struct Intento {
        bool tomado = false;
        bool activo = true;
    };
    Intento intentar(std::uint32_t seq, const std::string& datos, double ahora);

    // Connection events from the shell.
    void recibir(const std::string& bsd, std::string_view bytes, double ahora);
    void caer(const std::string& bsd, double ahora);

    void revisar(double ahora);
    void terminar(double ahora);

    Presion tomarPresion(double ahora);
    void sondear(int kbps, double segundos, double ahora);
    Sondeo sondeo(double ahora) const;
    Resumen resumen(double ahora) const;
    std::vector<Json> detalle(double ahora) const;
    bool cortado(double ahora) const;
    bool activo() const { return activo_; }

    // Exposed for the shell and tests.
    bool asignar(std::uint32_t seq, const std::string& datos, bool forzar, const Enlace* evitar, double ahora);
    void vaciarCola(double ahora);
    std::map<std::string, Enlace>& enlaces() { return enlaces_; }
    const std::deque<std::pair<std::uint32_t, std::string>>& cola() const { return cola_; }
    const std::set<std::uint32_t>& entregados() const { return entregados_; }
    const AjustesReparto& ajustes() const { return a_; }
    std::int64_t confirmadosTotal() const { return confirmadosTotal_; }
    double fichas() const { return fichas_; }
    bool respaldoListo() const { return respaldoListo_; }
    std::uint32_t siguienteSeq() const { return siguiente; }
    Cuentas cuentas() const {
        Cuentas c = cuentas_;
        c.confirmados = confirmadosTotal_;
        return c;
    }

private:
    void anotar(const std::string& t) const;
    void conectar(Enlace& e, double ahora);
    void caer(Enlace& e, double ahora);
    void devolver(Enlace& e);
    void procesar(Enlace& e, double ahora);
    void admitir(Enlace& e, double ahora);
    void rechazo(Enlace& e, const std::string& linea, double ahora);
    void acuse(Enlace& e, std::uint32_t seq, double ahora);
    void copiarTardios(Enlace& e, double ahora);
    void sondar(double ahora);
    bool otraLoTiene(const Enlace& e, std::uint32_t seq) const;
    bool topeAplica(double ahora) const;
    void mandar(Enlace& e, std::string bytes);

    AjustesReparto a_;
    std::map<std::string, Enlace> enlaces_;
    std::deque<std::pair<std::uint32_t, std::string>> cola_;
    std::uint32_t siguiente = 0;
    bool activo_ = true;
    std::set<std::uint32_t> entregados_;

    bool respaldoListo_ = false;
    double respaldoEn = -1e9;  // long ago: the first admission may offer the image at once

    mutable std::mutex candadoRed;  // guards sinRedDesde and unidaAlgunaVez
    std::optional<double> sinRedDesde;
    bool unidaAlgunaVez = false;

    double esperado = 0;
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
    double tRedes = -1e9;
    std::map<std::string, std::string> vivas;
};

}  // namespace tt
