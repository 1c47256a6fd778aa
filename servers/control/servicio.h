#pragma once

// The control service's network shell: HTTP/1.1 and WebSocket on one port (Boost.Beast), the
// phone page and the update feed from folders, the accounts' work on a small pool of threads so a
// slow password hash or mail never holds up the rooms.

#include "cuentas.h"
#include "salas.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/thread_pool.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

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
    Id alta(std::weak_ptr<SesionWs> s);
    void entrar(Id id, const Acceso& a);
    void recibir(Id id, std::string_view texto);
    void baja(Id id, bool miembro);
    void avisar(Aviso a);  // from any thread

private:
    void aceptar();
    void aplicar(Salida s);

    boost::asio::io_context io_;
    boost::asio::thread_pool trabajo_;
    OpcionesServicio o_;
    Cuentas& cuentas_;
    boost::asio::ip::tcp::acceptor aceptor_;
    boost::asio::signal_set senales_;
    Salas salas_;
    std::map<Id, std::weak_ptr<SesionWs>> sockets_;
    Id siguiente_ = 1;
};

double ahoraPared();

}  // namespace tt::control
