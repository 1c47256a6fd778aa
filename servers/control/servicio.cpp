#include "servicio.h"

#include "bitacora_control.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>

#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using asio::ip::tcp;

namespace tt::control {

double ahoraPared() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

namespace {

using Pedido_ = http::request<http::string_body>;

const char* sinSesion = "Tu sesión ya no es válida. Vuelve a iniciar sesión.";

std::chrono::steady_clock::duration segundos(double s) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}

std::string tipoDe(const std::filesystem::path& p) {
    const auto e = p.extension().string();
    if (e == ".html") return "text/html; charset=utf-8";
    if (e == ".css") return "text/css; charset=utf-8";
    if (e == ".js") return "text/javascript; charset=utf-8";
    if (e == ".svg") return "image/svg+xml";
    if (e == ".png") return "image/png";
    if (e == ".json") return "application/json";
    if (e == ".zip") return "application/zip";
    return "application/octet-stream";
}

// Only plain names of the folder: no way up, no hidden files.
bool nombreSeguro(std::string_view n) {
    if (n.empty() || n.size() > 64 || n.front() == '.') return false;
    for (char c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
    return true;
}

std::string parametro(std::string_view destino, std::string_view nombre) {
    auto q = destino.find('?');
    if (q == std::string_view::npos) return {};
    std::string_view resto = destino.substr(q + 1);
    while (!resto.empty()) {
        auto amp = resto.find('&');
        std::string_view par = resto.substr(0, amp);
        if (par.substr(0, nombre.size()) == nombre && par.size() > nombre.size() && par[nombre.size()] == '=') {
            std::string v;
            std::string_view crudo = par.substr(nombre.size() + 1);
            for (std::size_t i = 0; i < crudo.size(); ++i) {
                if (crudo[i] == '%' && i + 2 < crudo.size() && std::isxdigit(static_cast<unsigned char>(crudo[i + 1])) &&
                    std::isxdigit(static_cast<unsigned char>(crudo[i + 2]))) {
                    v.push_back(char(std::stoi(std::string(crudo.substr(i + 1, 2)), nullptr, 16)));
                    i += 2;
                } else {
                    v.push_back(crudo[i]);
                }
            }
            return v;
        }
        if (amp == std::string_view::npos) break;
        resto.remove_prefix(amp + 1);
    }
    return {};
}

}  // namespace

// One WebSocket: the desktop app or a phone. A phone's browser cannot set a header, so a socket
// opened without one must sign in with its first message. Owner: its pending handlers, all on the
// network thread.
class SesionWs : public std::enable_shared_from_this<SesionWs> {
public:
    SesionWs(beast::tcp_stream s, Servicio& srv, std::shared_ptr<Aforo::Plaza> plaza)
        : ws_(std::move(s)), srv_(srv), espera_(srv.io()), plaza_(std::move(plaza)) {}

    void aceptar(Pedido_ pedido, std::optional<Acceso> acceso) {
        ws_.read_message_max(srv_.opciones().maxCuerpo);
        // A 40 KB picture goes out as one frame in one write, not as ten 4 KB fragments.
        ws_.auto_fragment(false);
        websocket::stream_base::timeout t{};
        t.handshake_timeout = std::chrono::seconds(10);
        t.idle_timeout = std::chrono::seconds(70);  // the app pings every 25 s; we ping too
        t.keep_alive_pings = true;
        beast::get_lowest_layer(ws_).expires_never();
        ws_.set_option(t);
        id_ = srv_.alta(weak_from_this());
        auto yo = shared_from_this();
        ws_.async_accept(pedido, [yo, acceso](beast::error_code ec) {
            if (ec) return yo->terminar();
            if (acceso) {
                yo->miembro_ = true;
                yo->srv_.entrar(yo->id_, *acceso);
            } else {
                yo->sala_ = yo->salaPedida_;
                yo->espera_.expires_after(segundos(yo->srv_.opciones().esperaEntrada));
                std::weak_ptr<SesionWs> debil = yo;
                yo->espera_.async_wait([debil](beast::error_code e) {
                    auto s = debil.lock();
                    if (!e && s && !s->miembro_) s->cortar();
                });
            }
            yo->leer();
        });
    }

    void fijarSala(std::string s) { salaPedida_ = std::move(s); }

    void enviar(Texto t) {
        if (cerrada_ || cerrando_) return;
        cola_ += t->size();
        if (cola_ > srv_.opciones().maxColaSocket) {
            anotar("control: un socket no lee lo que se le manda; se corta");
            return cortar();
        }
        pendientes_.push_back(std::move(t));
        escribir();
    }

    void fuera() {
        enviar(std::make_shared<const std::string>(R"({"t":"fuera"})"));
        cerrando_ = true;
        escribir();
    }

    void cortar() {
        if (cerrada_) return;
        cerrada_ = true;
        beast::error_code ec;
        espera_.cancel();
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ec);
        beast::get_lowest_layer(ws_).close();
    }

private:
    void escribir() {
        if (escribiendo_ || cerrada_) return;
        if (pendientes_.empty()) {
            if (cerrando_) {
                escribiendo_ = true;
                auto yo = shared_from_this();
                ws_.async_close(websocket::close_code::policy_error, [yo](beast::error_code) {
                    yo->escribiendo_ = false;
                    yo->cortar();
                });
            }
            return;
        }
        escribiendo_ = true;
        ws_.text(true);
        auto yo = shared_from_this();
        ws_.async_write(asio::buffer(*pendientes_.front()), [yo](beast::error_code ec, std::size_t) {
            yo->escribiendo_ = false;
            yo->cola_ -= yo->pendientes_.front()->size();
            yo->pendientes_.pop_front();
            if (ec) return yo->cortar();
            yo->escribir();
        });
    }

    void leer() {
        auto yo = shared_from_this();
        ws_.async_read(entrada_, [yo](beast::error_code ec, std::size_t) {
            if (ec) return yo->terminar();
            if (yo->ws_.got_text()) {
                std::string texto = beast::buffers_to_string(yo->entrada_.data());
                yo->entrada_.consume(yo->entrada_.size());
                if (yo->miembro_) {
                    yo->srv_.recibir(yo->id_, texto);
                } else {
                    yo->entrada(texto);
                }
            } else {
                yo->entrada_.consume(yo->entrada_.size());  // binary frames mean nothing here
            }
            if (!yo->cerrada_) yo->leer();
        });
    }

    // A phone's first message: {"t":"entrar","ficha":…}.
    void entrada(const std::string& texto) {
        if (pidiendo_) return;
        auto j = Json::parse(texto, nullptr, false);
        if (!j.is_object() || j.value("t", "") != "entrar" || !j.contains("ficha") || !j["ficha"].is_string())
            return cortar();
        pidiendo_ = true;
        auto yo = shared_from_this();
        asio::post(srv_.trabajo(), [yo, ficha = j["ficha"].get<std::string>()] {
            auto a = yo->srv_.autorizar(yo->sala_, ficha);
            asio::post(yo->srv_.io(), [yo, a] {
                yo->pidiendo_ = false;
                if (yo->cerrada_) return;
                if (!a) return yo->cortar();  // the base failed: the phone tries again, still signed in
                if (!*a) {
                    yo->fuera();
                    return;
                }
                yo->miembro_ = true;
                yo->espera_.cancel();
                yo->srv_.entrar(yo->id_, **a);
            });
        });
    }

    void terminar() {
        cortar();
        if (id_ && !dadoDeBaja_) {
            dadoDeBaja_ = true;
            srv_.baja(id_, miembro_);
        }
    }

    websocket::stream<beast::tcp_stream> ws_;
    Servicio& srv_;
    asio::steady_timer espera_;
    std::shared_ptr<Aforo::Plaza> plaza_;
    beast::flat_buffer entrada_;
    std::deque<Texto> pendientes_;
    std::size_t cola_ = 0;
    Id id_ = 0;
    std::string sala_, salaPedida_;
    bool miembro_ = false, pidiendo_ = false, escribiendo_ = false, cerrada_ = false, cerrando_ = false,
         dadoDeBaja_ = false;
};

// One HTTP connection: requests one after another, or the upgrade to a WebSocket. Owner: its
// pending handlers, on the network thread.
class SesionHttp : public std::enable_shared_from_this<SesionHttp> {
public:
    SesionHttp(tcp::socket s, Servicio& srv, std::shared_ptr<Aforo::Plaza> plaza)
        : stream_(std::move(s)), srv_(srv), plaza_(std::move(plaza)) {}

    void leer() {
        parser_.emplace();
        parser_->header_limit(16 * 1024);
        parser_->body_limit(srv_.opciones().maxCuerpo);
        // Headers and body must arrive within this: a client that trickles them is cut.
        stream_.expires_after(segundos(srv_.opciones().esperaCabeceras));
        auto yo = shared_from_this();
        http::async_read(stream_, buf_, *parser_, [yo](beast::error_code ec, std::size_t) {
            if (ec == http::error::body_limit)
                return yo->responder(413, Json{{"error", "El pedido es demasiado grande (más de 1 MiB)."}}, false);
            if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::eof ||
                ec == asio::error::connection_reset || ec == asio::error::operation_aborted)
                return yo->cerrar();
            if (ec) return yo->responder(400, Json{{"error", "Pedido HTTP inválido."}}, false);
            yo->atender(yo->parser_->release());
        });
    }

private:
    void atender(Pedido_ p) {
        const std::string destino(p.target());
        const std::string ruta = destino.substr(0, destino.find('?'));
        const bool sigue = p.keep_alive();
        if (websocket::is_upgrade(p)) {
            if (ruta != "/ws") return responder(404, Json{{"error", "No existe esa dirección."}}, false);
            return mejorar(std::move(p), parametro(destino, "sala"));
        }
        // Only a plain chunked body is read; any other coding would be taken for the body itself.
        if (auto te = p.find(http::field::transfer_encoding); te != p.end() && !beast::iequals(te->value(), "chunked"))
            return responder(501, Json{{"error", "Codificación de transferencia no admitida."}}, false);
        if (p.method() == http::verb::get || p.method() == http::verb::head)
            return archivo(ruta, sigue, p.method() == http::verb::head);
        if (p.method() != http::verb::post) return responder(405, Json{{"error", "Método no admitido."}}, sigue);
        auto yo = shared_from_this();
        if (ruta == "/uso" || ruta == "/carga") {
            std::string firma(p["X-Firma"]);
            asio::post(srv_.trabajo(), [yo, uso = ruta == "/uso", cuerpo = std::move(p.body()), firma, sigue] {
                auto& c = yo->srv_.cuentas();
                auto r = uso ? c.uso(cuerpo, firma, ahoraPared()) : c.carga(cuerpo, firma, ahoraPared());
                asio::post(yo->srv_.io(), [yo, r, sigue] { yo->responder(r.estado, r.cuerpo, sigue); });
            });
            return;
        }
        auto cuerpo = Json::parse(p.body(), nullptr, false);
        if (!cuerpo.is_object())
            return responder(400, Json{{"error", "El cuerpo del pedido debe ser un objeto JSON."}}, sigue);
        // Hashing a password takes a core for a while: those requests wait on their own pool, so
        // token checks, balances and the relay's reports never queue behind them.
        const bool clave = ruta == "/registro" || ruta == "/clave" || ruta == "/restablecer";
        if (clave && !srv_.reservarClave())
            return responder(503, Json{{"error", "Intenta de nuevo en un momento."}}, sigue);
        asio::post(clave ? srv_.claves() : srv_.trabajo(), [yo, ruta, cuerpo = std::move(cuerpo), sigue, clave,
                                                            cliente = cliente(p)] {
            if (clave && (yo->srv_.parando() || yo->clienteSeFue())) {  // nobody waits for it any more
                yo->srv_.soltarClave();
                asio::post(yo->srv_.io(), [yo] { yo->cerrar(); });
                return;
            }
            auto r = yo->srv_.cuentas().atender(ruta, cuerpo, ahoraPared(), cliente);
            if (clave) yo->srv_.soltarClave();
            asio::post(yo->srv_.io(), [yo, r, sigue] { yo->responder(r.estado, r.cuerpo, sigue); });
        });
    }

    void mejorar(Pedido_ p, std::string sala) {
        std::string autorizacion(p[http::field::authorization]);
        if (autorizacion.empty()) {  // a phone's browser: it signs in with its first message
            auto ws = std::make_shared<SesionWs>(std::move(stream_), srv_, plaza_);
            ws->fijarSala(std::move(sala));
            return ws->aceptar(std::move(p), std::nullopt);
        }
        if (autorizacion.rfind("Bearer ", 0) != 0)
            return responder(403, Json{{"error", sinSesion}}, false);
        auto yo = shared_from_this();
        asio::post(srv_.trabajo(), [yo, p = std::move(p), sala, ficha = autorizacion.substr(7)]() mutable {
            auto a = yo->srv_.autorizar(sala, ficha);
            asio::post(yo->srv_.io(), [yo, p = std::move(p), a]() mutable {
                // 403 on the upgrade: the app signs out; 503: it tries again.
                if (!a) return yo->responder(503, Json{{"error", "Intenta de nuevo en un momento."}}, false);
                if (!*a) return yo->responder(403, Json{{"error", sinSesion}}, false);
                std::make_shared<SesionWs>(std::move(yo->stream_), yo->srv_, yo->plaza_)->aceptar(std::move(p), *a);
            });
        });
    }

    void archivo(const std::string& ruta, bool sigue, bool cabeza) {
        std::filesystem::path f;
        if (ruta == "/app/version" || ruta == "/app/zip") {
            if (!srv_.opciones().actualizaciones)
                return responder(404, Json{{"error", "No hay actualizaciones publicadas."}}, sigue);
            f = *srv_.opciones().actualizaciones / (ruta == "/app/version" ? "version.json" : "app.zip");
        } else {
            const std::string nombre = ruta == "/" ? "index.html" : ruta.substr(1);
            if (!nombreSeguro(nombre)) return responder(404, Json{{"error", "No existe esa dirección."}}, sigue);
            f = srv_.opciones().web / nombre;
        }
        http::response<http::file_body> r{http::status::ok, 11};
        beast::error_code ec;
        r.body().open(f.c_str(), beast::file_mode::scan, ec);
        if (ec) return responder(404, Json{{"error", "No existe esa dirección."}}, sigue);
        r.set(http::field::content_type, tipoDe(f));
        r.set(http::field::cache_control, "no-cache");
        r.set("X-Content-Type-Options", "nosniff");
        r.keep_alive(sigue);
        r.prepare_payload();
        auto yo = shared_from_this();
        if (cabeza) {  // the headers of the GET, without its body
            auto h = std::make_shared<http::response<http::empty_body>>(std::move(r.base()));
            http::async_write(stream_, *h, [yo, h, sigue](beast::error_code e, std::size_t) {
                if (e || !sigue) return yo->cerrar();
                yo->leer();
            });
            return;
        }
        auto m = std::make_shared<http::response<http::file_body>>(std::move(r));
        http::async_write(stream_, *m, [yo, m, sigue](beast::error_code e, std::size_t) {
            if (e || !sigue) return yo->cerrar();
            yo->leer();
        });
    }

    void responder(int estado, const Json& cuerpo, bool sigue) {
        auto r = std::make_shared<http::response<http::string_body>>(http::int_to_status(unsigned(estado)), 11);
        r->set(http::field::content_type, "application/json; charset=utf-8");
        r->set(http::field::cache_control, "no-store");
        r->keep_alive(sigue);
        r->body() = cuerpo.dump();
        r->prepare_payload();
        auto yo = shared_from_this();
        stream_.expires_after(segundos(srv_.opciones().esperaCabeceras));
        http::async_write(stream_, *r, [yo, r, sigue](beast::error_code e, std::size_t) {
            if (e || !sigue) return yo->cerrar();
            yo->leer();
        });
    }

    void cerrar() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        stream_.close();
    }

    std::string cliente(const Pedido_& p) {
        beast::error_code ec;
        const auto ep = stream_.socket().remote_endpoint(ec);
        if (ec) return {};
        if (srv_.esProxy(ep.address()))
            if (auto h = p.find("X-Real-IP"); h != p.end() && !h->value().empty() && h->value().size() <= 64)
                return std::string(h->value());
        return ep.address().to_string();
    }

    // Whether the client closed its side while its request waited (only while no operation of
    // this connection is pending, as when its request waits for a worker).
    bool clienteSeFue() {
        char c;
        return ::recv(stream_.socket().native_handle(), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }

    beast::tcp_stream stream_;
    Servicio& srv_;
    std::shared_ptr<Aforo::Plaza> plaza_;
    beast::flat_buffer buf_;
    std::optional<http::request_parser<http::string_body>> parser_;
};

Servicio::Servicio(OpcionesServicio o, Cuentas& cuentas)
    : trabajo_(2), claves_(1), o_(std::move(o)), cuentas_(cuentas), aceptor_(io_), senales_(io_, SIGINT, SIGTERM),
      pausa_(io_) {
    const std::size_t total = o_.maxConexiones ? o_.maxConexiones : Aforo::segunDescriptores();
    aforo_ = std::make_shared<Aforo>(total, o_.maxPorDireccion ? o_.maxPorDireccion : std::max<std::size_t>(1, total / 2),
                                     o_.proxies);
}

std::optional<std::optional<Acceso>> Servicio::autorizar(const std::string& sala, const std::string& ficha) {
    try {
        return cuentas_.autorizar(sala, ficha, ahoraPared());
    } catch (const FalloBase& e) {
        anotar(std::string("control: la base falló: ") + e.what());
        return std::nullopt;
    }
}

bool Servicio::esProxy(const asio::ip::address& d) const {
    return std::find(o_.proxies.begin(), o_.proxies.end(), d) != o_.proxies.end();
}

Servicio::~Servicio() {
    parando_ = true;
    claves_.join();
    trabajo_.join();
}

bool Servicio::reservarClave() {
    if (++enCola_ <= o_.colaClaves) return true;
    --enCola_;
    return false;
}

void Servicio::rafaga(Rafaga& r, const std::string& que) {
    ++r.cuenta;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (t - r.ultima < 10) return;
    anotar("control: " + que + " (" + std::to_string(r.cuenta) + (r.cuenta == 1 ? " vez" : " veces") +
           " desde el aviso anterior)");
    r.cuenta = 0;
    r.ultima = t;
}

std::optional<std::uint16_t> Servicio::iniciar(std::string& error) {
    beast::error_code ec;
    auto dir = asio::ip::make_address(o_.host, ec);
    if (ec) {
        error = "dirección inválida: " + o_.host;
        return std::nullopt;
    }
    tcp::endpoint ep(dir, o_.puerto);
    aceptor_.open(ep.protocol(), ec);
    if (!ec) aceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) aceptor_.bind(ep, ec);
    if (!ec) aceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = ec.message();
        return std::nullopt;
    }
    aceptar();
    return aceptor_.local_endpoint().port();
}

void Servicio::correr() {
    senales_.async_wait([this](beast::error_code ec, int) {
        if (!ec) io_.stop();
    });
    io_.run();
    parando_ = true;  // password requests still queued are dropped
    beast::error_code ec;
    aceptor_.close(ec);
    // Accounts' work still running finishes; what it posts back is dropped with the io_context.
    claves_.join();
    trabajo_.join();
}

void Servicio::aceptar() {
    aceptor_.async_accept([this](beast::error_code ec, tcp::socket s) {
        if (ec == asio::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors, typically: trying again at once would only spin.
            rafaga(fallosAceptar_, "no se pudo aceptar una conexión (" + ec.message() + ")");
            pausa_.expires_after(std::chrono::milliseconds(100));
            pausa_.async_wait([this](beast::error_code e) {
                if (!e) aceptar();
            });
            return;
        }
        beast::error_code e;
        const auto ep = s.remote_endpoint(e);
        auto plaza = e ? nullptr : aforo_->tomar(ep.address());
        if (!plaza) {
            rafaga(rechazadas_, "conexiones rechazadas: hay demasiadas abiertas");
            s.close(e);
        } else {
            s.set_option(tcp::no_delay(true), e);
            std::make_shared<SesionHttp>(std::move(s), *this, std::move(plaza))->leer();
        }
        aceptar();
    });
}

Id Servicio::alta(std::weak_ptr<SesionWs> s) {
    const Id id = siguiente_++;
    sockets_[id] = std::move(s);
    return id;
}

void Servicio::entrar(Id id, const Acceso& a) { aplicar(salas_.entrar(id, a)); }

void Servicio::recibir(Id id, std::string_view texto) { aplicar(salas_.recibir(id, texto, ahoraPared())); }

void Servicio::baja(Id id, bool miembro) {
    sockets_.erase(id);
    if (miembro) aplicar(salas_.salir(id));
}

void Servicio::avisar(Aviso a) {
    asio::post(io_, [this, a = std::move(a)] { aplicar(salas_.aviso(a)); });
}

void Servicio::aplicar(Salida s) {
    for (auto& e : s.envios) {
        auto it = sockets_.find(e.a);
        if (it == sockets_.end()) continue;
        if (auto w = it->second.lock()) w->enviar(e.texto);
    }
    for (Id id : s.cerrar)
        if (auto it = sockets_.find(id); it != sockets_.end())
            if (auto w = it->second.lock()) w->cortar();
    for (Id id : s.fuera)
        if (auto it = sockets_.find(id); it != sockets_.end())
            if (auto w = it->second.lock()) w->fuera();
    for (auto& p : s.pedidos)
        asio::post(trabajo_, [this, p] {
            try {
                if (p.vincular) cuentas_.vincular(p.sala, p.ficha, ahoraPared());
                else cuentas_.desvincular(p.sala);
            } catch (const FalloBase& e) {
                anotar(std::string("control: la base falló: ") + e.what());
            }
        });
}

}  // namespace tt::control
