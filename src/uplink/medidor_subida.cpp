#include "uplink/medidor_subida.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tt {

namespace asio = boost::asio;
namespace ssl = boost::asio::ssl;
using asio::ip::tcp;

DestinoMedicion DestinoMedicion::configurado() {
    DestinoMedicion d;
    if (auto v = entorno().variable("TM_MEDIR_HOST"); v && !v->empty()) d.host = *v;
    if (auto v = entorno().variable("TM_MEDIR_PUERTO"); v && !v->empty()) d.puerto = *v;
    if (auto v = entorno().variable("TM_MEDIR_CA"); v && !v->empty()) d.ca = *v;
    return d;
}

struct MedidorSubida::Estado : std::enable_shared_from_this<Estado> {
    Estado(asio::io_context& io, std::string n, std::string i, DestinoMedicion d,
           std::function<void(const Medicion::Resultado&)> f)
        : io(io), nombre(std::move(n)), interfaz(std::move(i)), destino(std::move(d)), alTerminar(std::move(f)),
          contexto(ssl::context::tls_client), resolutor(io), reloj(io), ceros(Medicion::pieza, '\0') {}

    asio::io_context& io;
    std::string nombre, interfaz;
    DestinoMedicion destino;
    std::function<void(const Medicion::Resultado&)> alTerminar;
    ssl::context contexto;
    tcp::resolver resolutor;
    asio::steady_timer reloj;
    std::optional<ssl::stream<tcp::socket>> flujo;  // made once the context is set up
    Medicion m;
    std::string cabecera;
    std::string ceros;
    std::array<char, 2048> respuesta{};

    void arrancar() {
        auto yo = shared_from_this();
        reloj.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(Medicion::tope)));
        reloj.async_wait([yo](const boost::system::error_code& ec) {
            if (!ec) yo->terminar("tope de tiempo");
        });
        boost::system::error_code ec;
        contexto.set_default_verify_paths(ec);
        if (!ec && destino.ca) contexto.load_verify_file(*destino.ca, ec);
        if (ec) return terminar("estado: " + ec.message());
        contexto.set_verify_mode(ssl::verify_peer);
        flujo.emplace(io, contexto);
        flujo->set_verify_callback(ssl::host_name_verification(destino.host));
        boost::system::error_code esIp;
        asio::ip::make_address(destino.host, esIp);
        if (esIp) SSL_set_tlsext_host_name(flujo->native_handle(), destino.host.c_str());  // no SNI for addresses
        auto& s = flujo->lowest_layer();
        s.open(tcp::v4(), ec);
        if (ec) return terminar("estado: " + ec.message());
        // Required to use this interface, whatever the routing table prefers.
        if (::setsockopt(s.native_handle(), SOL_SOCKET, SO_BINDTODEVICE, interfaz.c_str(),
                         socklen_t(interfaz.size())) != 0)
            return terminar("estado: " + std::string(std::strerror(errno)));
        resolutor.async_resolve(tcp::v4(), destino.host, destino.puerto,
                                [yo](const boost::system::error_code& ec, tcp::resolver::results_type r) {
                                    if (ec) return yo->fallo(ec, "estado: ");
                                    yo->conectar(r.begin()->endpoint());
                                });
    }

    void conectar(const tcp::endpoint& punto) {
        auto yo = shared_from_this();
        // The member connect keeps the socket bound to the interface.
        flujo->lowest_layer().async_connect(punto, [yo](const boost::system::error_code& ec) {
            if (ec) return yo->fallo(ec, "estado: ");
            yo->flujo->async_handshake(ssl::stream_base::client, [yo](const boost::system::error_code& ec) {
                if (ec) return yo->fallo(ec, "estado: ");
                yo->listo();
            });
        });
    }

    void listo() {
        if (m.terminada()) return;
        m.listo(ahora());
        cabecera = Medicion::cabecera(destino.host);
        auto yo = shared_from_this();
        asio::async_write(*flujo, asio::buffer(cabecera), [yo](const boost::system::error_code& ec, std::size_t) {
            if (ec) return yo->fallo(ec, "envío: ");
            yo->pieza();
        });
    }

    void pieza() {
        if (m.terminada()) return;
        const std::size_t n = m.siguientePieza();
        auto yo = shared_from_this();
        if (n == 0) {
            flujo->async_read_some(asio::buffer(respuesta), [yo](const boost::system::error_code& ec, std::size_t) {
                if (ec == asio::error::operation_aborted) return yo->fallo(ec, "");
                yo->terminar("respuesta");  // an answer or the end of the connection
            });
            return;
        }
        asio::async_write(*flujo, asio::buffer(ceros.data(), n),
                          [yo, n](const boost::system::error_code& ec, std::size_t) {
                              if (ec) return yo->fallo(ec, "envío: ");
                              yo->m.enviado(n);
                              yo->pieza();
                          });
    }

    void fallo(const boost::system::error_code& ec, const std::string& prefijo) {
        if (ec == asio::error::operation_aborted) return terminar("cancelado");
        terminar(prefijo + ec.message());
    }

    void cortar() {
        reloj.cancel();
        resolutor.cancel();
        if (flujo) {
            boost::system::error_code ec;
            flujo->lowest_layer().close(ec);
        }
    }

    void terminar(const std::string& razon) {
        int sinConfirmar = 0;  // still in the send queue: sent or not, not yet acknowledged
        if (flujo && flujo->lowest_layer().is_open() &&
            ::ioctl(flujo->lowest_layer().native_handle(), SIOCOUTQ, &sinConfirmar) != 0)
            sinConfirmar = 0;
        auto r = m.terminar(ahora(), razon, std::size_t(std::max(0, sinConfirmar)));
        if (!r) return;
        cortar();
        bitacoraDepurar(Medicion::lineaDepuracion(nombre, *r));
        if (alTerminar) alTerminar(*r);
    }
};

MedidorSubida::MedidorSubida(std::string nombre, std::string interfaz, DestinoMedicion destino,
                 std::function<void(const Medicion::Resultado&)> alTerminar)
    : q_(Medicion::etiquetaCola(nombre)),
      s_(std::make_shared<Estado>(q_.contexto(), std::move(nombre), std::move(interfaz), std::move(destino),
                                  std::move(alTerminar))) {}

MedidorSubida::~MedidorSubida() {
    // The socket, timer and resolver go on their own queue, before its io_context does.
    q_.sincrono([s = std::move(s_)]() mutable {
        s->terminar("cancelado");
        s.reset();
    });
}

void MedidorSubida::arrancar() {
    q_.asincrono([s = s_] { s->arrancar(); });
}

}  // namespace tt
