#include "uplink/charlas.h"

#include "protocolo/protocolo.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <istream>
#include <memory>

#include <pthread.h>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace tt {

Charlas::Charlas() : guardia_(io_.get_executor()) {
    hilo_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "tm.pendiente");
        io_.run();
    });
}

Charlas::~Charlas() {
    // What is still talking is dropped: its completion is never called.
    io_.stop();
    hilo_.join();
}

namespace {

// One conversation: greeting, answer, verdict; ends once, closing the socket first.
struct Charla : std::enable_shared_from_this<Charla> {
    Charla(asio::io_context& io, Pase s, std::string tipo, std::function<void(std::optional<std::string>)> fin)
        : resolver(io), sock(io), reloj(io), s(std::move(s)), tipo(std::move(tipo)), fin(std::move(fin)) {}
    tcp::resolver resolver;
    tcp::socket sock;
    asio::steady_timer reloj;
    asio::streambuf entrada{4096 * 4};  // a line longer than this is not an answer
    std::string salida;
    Pase s;
    std::string tipo;
    std::function<void(std::optional<std::string>)> fin;
    bool terminada = false;

    void terminar(std::optional<std::string> respuesta) {
        if (terminada) return;
        terminada = true;
        boost::system::error_code e;
        reloj.cancel();
        resolver.cancel();
        sock.close(e);
        auto f = std::move(fin);
        f(std::move(respuesta));
    }
    std::optional<std::string> linea() {
        std::istream in(&entrada);
        std::string l;
        std::getline(in, l);
        return l;
    }

    void empezar(double limite) {
        auto d = protocolo::partirEntrada(s.entrada);
        auto yo = shared_from_this();
        reloj.expires_after(std::chrono::milliseconds(long(limite * 1000)));
        reloj.async_wait([yo](boost::system::error_code e) {
            if (!e) yo->terminar(std::nullopt);
        });
        if (!d) return terminar(std::nullopt);
        resolver.async_resolve(d->host, std::to_string(d->puerto), [yo](auto e, tcp::resolver::results_type r) {
            if (e || yo->terminada) return yo->terminar(std::nullopt);
            asio::async_connect(yo->sock, r, [yo](auto e, const tcp::endpoint&) {
                if (e || yo->terminada) return yo->terminar(std::nullopt);
                yo->saludo();
            });
        });
    }
    void saludo() {
        auto yo = shared_from_this();
        asio::async_read_until(sock, entrada, '\n', [yo](auto e, std::size_t) {
            if (e || yo->terminada) return yo->terminar(std::nullopt);
            auto l = yo->linea();
            if (!l || l->rfind("TM1 ", 0) != 0) return yo->terminar(std::nullopt);
            yo->salida = protocolo::respuestaCharla(yo->tipo, yo->s, l->substr(4));
            asio::async_write(yo->sock, asio::buffer(yo->salida), [yo](auto e, std::size_t) {
                if (e || yo->terminada) return yo->terminar(std::nullopt);
                asio::async_read_until(yo->sock, yo->entrada, '\n', [yo](auto e, std::size_t) {
                    if (e || yo->terminada) return yo->terminar(std::nullopt);
                    yo->terminar(yo->linea());
                });
            });
        });
    }
};

}  // namespace

void Charlas::hablar(const Pase& s, const std::string& tipo,
                     std::function<void(std::optional<std::string>)> alTerminar, double limite) {
    auto c = std::make_shared<Charla>(io_, s, tipo, std::move(alTerminar));
    asio::post(io_, [c, limite] { c->empezar(limite); });
}

}  // namespace tt
