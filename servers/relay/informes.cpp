#include "informes.h"

#include "bitacora_relay.h"

#include "comun/cripto.h"
#include "comun/json.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace tt::relay {

struct Informes::Envio {
    explicit Envio(asio::io_context& io) : stream(io) {}
    beast::tcp_stream stream;
    http::request<http::string_body> pedido;
    http::response<http::string_body> respuesta;
    beast::flat_buffer buf;
};

Informes::Informes(asio::io_context& io, std::string host, std::uint16_t puerto, std::string secreto, double reintento)
    : io_(io), host_(host == "localhost" ? "127.0.0.1" : std::move(host)), puerto_(puerto),
      secreto_(std::move(secreto)), reintento_(reintento), reloj_(io) {
    boost::system::error_code ec;
    ip_ = asio::ip::make_address(host_, ec);
    if (ec) {
        tt::relay::anotar("relay: dirección del control inválida: " + legible(host_, 100) + "; no se informa el uso");
        parado_ = true;
    }
}

void Informes::anotar(const std::string& sid, long long total, std::optional<bool> publicando) {
    if (parado_) return;
    Cuenta& c = cuentas_[sid];
    c.total = std::max(c.total, total);
    if (publicando) c.publicando = publicando;
    if (!c.enVuelo) mandar(sid);
}

void Informes::parar() {
    parado_ = true;
    reloj_.cancel();
    for (auto& d : enVuelo_)
        if (auto e = d.lock()) e->stream.close();
    enVuelo_.clear();
}

void Informes::cargar(const std::string& nombre, long transmisiones) {
    if (parado_ || cargaEnVuelo_) return;
    cargaEnVuelo_ = true;
    Json j{{"relay", nombre}, {"transmisiones", transmisiones}};
    enviar("/carga", j.dump(), [this, nombre](int estado) {
        if (parado_) return;
        cargaEnVuelo_ = false;
        if (estado >= 400 && estado < 500 && estado != cargaRechazada_)
            tt::relay::anotar("relay: el control rechazó la carga de " + legible(nombre, 100) + " (estado " +
                              std::to_string(estado) + "); ¿--nombre es el de su lista de relays?");
        cargaRechazada_ = estado >= 400 && estado < 500 ? estado : 0;
    });
}

void Informes::mandar(const std::string& sid) {
    Cuenta& c = cuentas_[sid];
    c.enVuelo = true;
    const long long total = c.total;
    const auto publicando = c.publicando;
    // The answer decides: acknowledged, refused for good, or to be tried again.
    auto fin = [this, sid, total, publicando](int estado) {
        if (parado_) return;
        auto it = cuentas_.find(sid);
        if (it == cuentas_.end()) return;
        it->second.enVuelo = false;
        if (estado >= 400 && estado < 500) {
            tt::relay::anotar("relay: el control rechazó el uso de " + sid.substr(0, 8) + " (estado " +
                              std::to_string(estado) + ")");
            cuentas_.erase(it);
        } else if (estado == 200 && it->second.total <= total && it->second.publicando == publicando) {
            cuentas_.erase(it);
        } else if (estado == 200) {
            mandar(sid);  // something newer arrived meanwhile
        } else {
            programar();
        }
    };
    enviar("/uso",
           "{\"sid\":\"" + sid + "\",\"segundos\":" + std::to_string(total) +
               (publicando ? std::string(",\"publicando\":") + (*publicando ? "true" : "false") : "") + "}",
           fin);
}

void Informes::enviar(const std::string& ruta, std::string cuerpo, std::function<void(int)> fin) {
    auto e = std::make_shared<Envio>(io_);
    std::erase_if(enVuelo_, [](const auto& d) { return d.expired(); });
    enVuelo_.push_back(e);
    e->pedido = {http::verb::post, ruta, 11};
    e->pedido.set(http::field::host, host_);
    e->pedido.set(http::field::content_type, "application/json");
    // Signed with what it reports on: a usage report cannot pass for a load report.
    e->pedido.set("X-Firma", hmacHex(secreto_, ruta.substr(1) + "|" + cuerpo));
    e->pedido.body() = std::move(cuerpo);
    e->pedido.keep_alive(false);
    e->pedido.prepare_payload();
    e->stream.expires_after(std::chrono::seconds(5));
    e->stream.async_connect(asio::ip::tcp::endpoint(ip_, puerto_), [e, fin](beast::error_code ec) {
        if (ec) return fin(0);
        http::async_write(e->stream, e->pedido, [e, fin](beast::error_code ec, std::size_t) {
            if (ec) return fin(0);
            http::async_read(e->stream, e->buf, e->respuesta, [e, fin](beast::error_code ec, std::size_t) {
                beast::error_code x;
                e->stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, x);
                fin(ec ? 0 : int(e->respuesta.result_int()));
            });
        });
    });
}

void Informes::programar() {
    if (programado_ || parado_) return;
    programado_ = true;
    reloj_.expires_after(std::chrono::milliseconds(long(reintento_ * 1000)));
    reloj_.async_wait([this](boost::system::error_code ec) {
        programado_ = false;
        if (ec || parado_) return;
        for (auto& [sid, c] : cuentas_)
            if (!c.enVuelo) mandar(sid);
    });
}

}  // namespace tt::relay
