#include "cuenta/pendiente.h"

#include "comun/proceso.h"
#include "uplink/protocolo.h"

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
#include <sys/stat.h>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace tt::pendiente {

fs::path archivo() { return carpetaDatos() / "sesion.json"; }

double ahoraPared() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::optional<SesionGuardada> leer(const fs::path& ruta) {
    std::error_code e;
    if (!fs::is_regular_file(fs::symlink_status(ruta, e))) return std::nullopt;
    auto j = leerJson(ruta, 64 << 10);
    return j ? sesionDe(*j) : std::nullopt;
}

void guardar(const SesionGuardada& s, const fs::path& ruta) {
    if (auto hay = leer(ruta); hay && hay->sid == s.sid) return;
    escribirJson(ruta, aJson(s), true);
}

void borrar(const std::optional<std::string>& sid, const fs::path& ruta) {
    if (sid) {
        auto hay = leer(ruta);
        if (!hay || hay->sid != *sid) return;
    }
    std::error_code e;
    fs::remove(ruta, e);
}

bool marcarDetenida(const std::string& sid, const fs::path& ruta) {
    auto hay = leer(ruta);
    if (!hay || hay->sid != sid) return false;
    hay->detenida = true;
    escribirJson(ruta, aJson(*hay), true);
    return true;
}

void tocar(const fs::path& ruta) {
    std::error_code e;
    fs::last_write_time(ruta, fs::file_time_type::clock::now(), e);
}

double silencioDe(const fs::path& ruta) {
    struct stat st {};
    if (::stat(ruta.c_str(), &st) != 0) return silencio(std::nullopt, ahoraPared());
    return silencio(double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9, ahoraPared());
}

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
    Charla(asio::io_context& io, SesionGuardada s, std::string tipo, std::function<void(std::optional<std::string>)> fin)
        : resolver(io), sock(io), reloj(io), s(std::move(s)), tipo(std::move(tipo)), fin(std::move(fin)) {}
    tcp::resolver resolver;
    tcp::socket sock;
    asio::steady_timer reloj;
    asio::streambuf entrada{4096 * 4};  // a line longer than this is not an answer
    std::string salida;
    SesionGuardada s;
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
            yo->salida = protocolo::respuestaCharla(yo->tipo, yo->s.comoPase(), l->substr(4));
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

void Charlas::hablar(const SesionGuardada& s, const std::string& tipo,
                     std::function<void(std::optional<std::string>)> alTerminar, double limite) {
    auto c = std::make_shared<Charla>(io_, s, tipo, std::move(alTerminar));
    asio::post(io_, [c, limite] { c->empezar(limite); });
}

}  // namespace tt::pendiente
