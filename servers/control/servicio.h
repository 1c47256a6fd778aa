#pragma once

// The control service's network shell: HTTP/1.1 and WebSocket on one port (Boost.Beast), the
// phone page and the update feed from folders, the accounts' work on a small pool of threads so a
// slow password hash or mail never holds up the rooms.

#include "aforo.h"
#include "cuentas.h"
#include "salas.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt::control {

struct OpcionesServicio {
    std::string host = "127.0.0.1";
    std::uint16_t puerto = 8080;
    std::filesystem::path web;                               // the phone page
    std::optional<std::filesystem::path> actualizaciones;    // version.json and app.zip
    double esperaCabeceras = 10;       // a request must arrive whole within this long
    std::size_t maxCuerpo = 1u << 20;  // bodies and WebSocket messages
    std::size_t maxColaSocket = 16u << 20;  // unsent bytes before a slow socket is dropped
    double esperaEntrada = 10;         // a phone's socket must sign in within this long
    std::size_t maxConexiones = 0;     // open connections (0: what the descriptor limit allows)
    std::size_t maxPorDireccion = 0;   // …from one client address (0: half of them)
    std::size_t colaClaves = 16;       // password requests waiting for the hash; beyond: 503
    // The front proxies: their connections have no per-address share, and the client address
    // (what guessing budgets count) is the one they give in X-Real-IP.
    std::vector<boost::asio::ip::address> proxies;
};

class SesionWs;

// Owner: the thread that calls correr(), which runs every socket; accounts' work runs on the pool.
class Servicio {
public:
    Servicio(OpcionesServicio o, Cuentas& cuentas);
    ~Servicio();
    Servicio(const Servicio&) = delete;
    Servicio& operator=(const Servicio&) = delete;

    std::optional<std::uint16_t> iniciar(std::string& error);
    void correr();  // until SIGINT or SIGTERM

    // Used by the sessions, on the network thread.
    const OpcionesServicio& opciones() const { return o_; }
    Cuentas& cuentas() { return cuentas_; }
    boost::asio::io_context& io() { return io_; }
    boost::asio::thread_pool& trabajo() { return trabajo_; }
    // Password hashing runs on a pool of its own, behind a bounded queue: false when it is full.
    boost::asio::thread_pool& claves() { return claves_; }
    bool reservarClave();
    void soltarClave() { --enCola_; }
    bool parando() const { return parando_; }
    bool esProxy(const boost::asio::ip::address& d) const;
    // Whose token this is (nothing inside: nobody's); nothing when the base failed. On the pool.
    std::optional<std::optional<Acceso>> autorizar(const std::string& sala, const std::string& ficha);
    Id alta(std::weak_ptr<SesionWs> s);
    void entrar(Id id, const Acceso& a);
    void recibir(Id id, std::string_view texto);
    void baja(Id id, bool miembro);
    void avisar(Aviso a);  // from any thread

private:
    void aceptar();
    void aplicar(Salida s);
    struct Rafaga {  // one log line per burst of the same trouble
        long cuenta = 0;
        double ultima = -1e9;
    };
    void rafaga(Rafaga& r, const std::string& que);

    boost::asio::io_context io_;
    boost::asio::thread_pool trabajo_;
    boost::asio::thread_pool claves_;
    std::atomic<std::size_t> enCola_{0};
    std::atomic<bool> parando_{false};
    OpcionesServicio o_;
    Cuentas& cuentas_;
    boost::asio::ip::tcp::acceptor aceptor_;
    boost::asio::signal_set senales_;
    boost::asio::steady_timer pausa_;  // after a failed accept
    std::shared_ptr<Aforo> aforo_;
    Rafaga fallosAceptar_, rechazadas_;
    Salas salas_;
    std::map<Id, std::weak_ptr<SesionWs>> sockets_;
    Id siguiente_ = 1;
};

double ahoraPared();

}  // namespace tt::control
