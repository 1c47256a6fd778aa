#include "servidor_tls.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <optional>
#include <sched.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace tt::prueba {

namespace asio = boost::asio;
namespace ssl = boost::asio::ssl;
using asio::ip::tcp;

Certificados hacerCertificados(const std::filesystem::path& c, const std::vector<std::string>& ips) {
    std::string alt = "DNS:localhost,IP:127.0.0.1";
    for (auto& ip : ips) alt += ",IP:" + ip;
    const std::string d = c.string();
    const std::string orden =
        "cd '" + d + "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj '/CN=Prueba CA' "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign >/dev/null 2>&1 && "
        "openssl req -newkey rsa:2048 -nodes -keyout servidor.key -out servidor.csr -subj '/CN=localhost' "
        ">/dev/null 2>&1 && "
        "printf 'subjectAltName=" + alt + "\\nextendedKeyUsage=serverAuth\\n' > ext.cnf && "
        "openssl x509 -req -in servidor.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out servidor.pem -days 2 "
        "-extfile ext.cnf >/dev/null 2>&1";
    if (std::system(orden.c_str()) != 0) throw std::runtime_error("openssl no pudo hacer los certificados");
    return {c / "ca.pem", c / "servidor.pem", c / "servidor.key"};
}

struct ServidorTls::Estado {
    ssl::context contexto{ssl::context::tls_server};
    asio::io_context io;  // goes first, with the sessions still waiting in it
    std::optional<tcp::acceptor> aceptor;
    Modo modo = Modo::contesta;
    double tasa = 0;
    std::thread hilo;
    mutable std::mutex m;
    std::vector<Visita> visitas;
    unsigned short puerto = 0;

    struct Sesion : std::enable_shared_from_this<Sesion> {
        Sesion(Estado& e, tcp::socket s) : e(e), flujo(std::move(s), e.contexto), pausa(e.io) {}
        Estado& e;
        ssl::stream<tcp::socket> flujo;
        std::array<char, 65536> buffer{};
        std::string cabecera;
        std::size_t cuerpo = 0;
        long indice = -1;  // in visitas, once the head is complete
        std::string origen;
        asio::steady_timer pausa;
        std::chrono::steady_clock::time_point inicio;
        const std::string respuesta = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

        void empezar() {
            boost::system::error_code ec;
            origen = flujo.lowest_layer().remote_endpoint(ec).address().to_string();
            auto yo = shared_from_this();
            flujo.async_handshake(ssl::stream_base::server, [yo](const boost::system::error_code& ec) {
                if (!ec) yo->leer();
            });
        }

        void leer() {
            auto yo = shared_from_this();
            if (e.tasa > 0 && indice >= 0) {
                auto debido = inicio + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                           std::chrono::duration<double>(double(cuerpo) / e.tasa));
                if (debido > std::chrono::steady_clock::now()) {
                    pausa.expires_at(debido);
                    return pausa.async_wait([yo](const boost::system::error_code& ec) {
                        if (!ec) yo->leerYa();
                    });
                }
            }
            leerYa();
        }

        void leerYa() {
            auto yo = shared_from_this();
            flujo.async_read_some(asio::buffer(buffer), [yo](const boost::system::error_code& ec, std::size_t n) {
                if (ec) return;
                yo->recibido(n);
            });
        }

        void recibido(std::size_t n) {
            std::size_t nuevo = n;
            if (indice < 0) {
                cabecera.append(buffer.data(), n);
                auto fin = cabecera.find("\r\n\r\n");
                if (fin == std::string::npos) return leer();
                nuevo = cabecera.size() - fin - 4;
                cabecera.resize(fin + 4);
                inicio = std::chrono::steady_clock::now();
                std::lock_guard l(e.m);
                indice = long(e.visitas.size());
                e.visitas.push_back({origen, 0, cabecera});
            }
            cuerpo += nuevo;
            {
                std::lock_guard l(e.m);
                e.visitas[std::size_t(indice)].cuerpo = cuerpo;
            }
            if (cuerpo >= 2000000 && e.modo == Modo::contesta) {
                auto yo = shared_from_this();
                asio::async_write(flujo, asio::buffer(respuesta), [yo](const boost::system::error_code&, std::size_t) {
                    boost::system::error_code ec;
                    yo->flujo.lowest_layer().close(ec);
                });
                return;
            }
            leer();  // silent: keeps reading, never answers
        }
    };

    void aceptar() {
        aceptor->async_accept([this](const boost::system::error_code& ec, tcp::socket s) {
            if (ec) return;
            std::make_shared<Sesion>(*this, std::move(s))->empezar();
            aceptar();
        });
    }
};

ServidorTls::ServidorTls(const Certificados& c, Modo modo, const std::string& direccion, const std::string& espacio,
                         double tasa)
    : e_(std::make_shared<Estado>()) {
    e_->modo = modo;
    e_->tasa = tasa;
    e_->contexto.use_certificate_chain_file(c.certificado.string());
    e_->contexto.use_private_key_file(c.llave.string(), ssl::context::pem);
    std::promise<std::string> listo;
    auto fin = listo.get_future();
    e_->hilo = std::thread([this, direccion, espacio, &listo] {
        // The namespace belongs to this thread only: sockets made here live in it.
        if (!espacio.empty()) {
            int fd = ::open(("/var/run/netns/" + espacio).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
                if (fd >= 0) ::close(fd);
                return listo.set_value("setns");
            }
            ::close(fd);
        }
        boost::system::error_code ec;
        e_->aceptor.emplace(e_->io);
        tcp::endpoint punto(asio::ip::make_address(direccion), 0);
        e_->aceptor->open(punto.protocol(), ec);
        if (!ec) e_->aceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) e_->aceptor->bind(punto, ec);
        if (!ec) e_->aceptor->listen(64, ec);
        if (ec) return listo.set_value(ec.message());
        e_->puerto = e_->aceptor->local_endpoint().port();
        e_->aceptar();
        listo.set_value("");
        e_->io.run();
    });
    auto error = fin.get();
    if (!error.empty()) {
        e_->hilo.join();
        throw std::runtime_error("servidor TLS: " + error);
    }
}

ServidorTls::~ServidorTls() {
    e_->io.stop();
    e_->hilo.join();
}

unsigned short ServidorTls::puerto() const { return e_->puerto; }

std::vector<ServidorTls::Visita> ServidorTls::visitas() const {
    std::lock_guard l(e_->m);
    return e_->visitas;
}

}  // namespace tt::prueba
