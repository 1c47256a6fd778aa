#include "servidor.h"

#include "bitacora_relay.h"
#include "uplink/publicador.h"

#include "comun/cripto.h"
#include "comun/sin_clave.h"
#include "uplink/protocolo.h"

#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace tt::relay {

namespace p = tt::protocolo;

namespace {

constexpr std::size_t maxLinea = 4096;
constexpr std::uint32_t maxTrozo = 16u << 20;
constexpr std::size_t maxSalida = 1u << 20;  // a client that stops reading its acknowledgements

double ahoraRelay() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Sessions come from the network: only safe characters reach a file name.
std::string paraArchivo(const std::string& s) {
    std::string r;
    for (char c : s.substr(0, 64))
        r.push_back((std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_');
    return r;
}

std::string corta(const std::string& sesion) { return sesion.substr(0, 8); }

}  // namespace

// One accepted TCP connection: handshake, then chunks in and acknowledgements out.
class Conexion : public std::enable_shared_from_this<Conexion> {
public:
    Conexion(tcp::socket s, Servidor& srv) : sock_(std::move(s)), srv_(srv), espera_(sock_.get_executor()) {}
    ~Conexion() { srv_.olvidar(this); }

    void empezar() {
        reto_ = azarHex(16);
        mandar("TM1 " + reto_ + "\n");
        espera_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(srv_.opciones().esperaSaludo)));
        std::weak_ptr<Conexion> debil = shared_from_this();
        espera_.async_wait([debil](boost::system::error_code ec) {
            auto yo = debil.lock();
            if (!ec && yo && !yo->binario_) yo->cerrar();  // connected and said nothing
        });
        leer();
    }

    void mandar(std::string bytes) {
        if (cerrada_) return;
        salida_ += bytes;
        if (salida_.size() > maxSalida) {
            anotar("relay: un cliente no lee sus acuses; se cierra la conexión");
            return cerrar();
        }
        escribir();
    }

    void cerrar() {
        if (cerrada_) return;
        cerrada_ = true;
        boost::system::error_code ec;
        espera_.cancel();
        sock_.shutdown(tcp::socket::shutdown_both, ec);
        sock_.close(ec);
    }

private:
    void cerrarTrasEscribir() {
        cerrarAlVaciar_ = true;
        if (!escribiendo_ && salida_.empty()) cerrar();
    }

    void escribir() {
        if (escribiendo_ || salida_.empty() || cerrada_) return;
        escribiendo_ = true;
        enCurso_.swap(salida_);
        salida_.clear();
        auto yo = shared_from_this();
        asio::async_write(sock_, asio::buffer(enCurso_), [yo](boost::system::error_code ec, std::size_t) {
            yo->escribiendo_ = false;
            yo->enCurso_.clear();
            if (ec) return yo->cerrar();
            if (!yo->salida_.empty()) return yo->escribir();
            if (yo->cerrarAlVaciar_) yo->cerrar();
        });
    }

    void leer() {
        auto yo = shared_from_this();
        sock_.async_read_some(asio::buffer(lectura_), [yo](boost::system::error_code ec, std::size_t n) {
            if (yo->cerrada_) return;
            if (n) {
                yo->entrada_.append(yo->lectura_.data(), n);
                yo->procesar();
            }
            if (yo->cerrada_ || yo->cerrarAlVaciar_) return;
            if (ec) return yo->cerrar();
            yo->leer();
        });
    }

    void procesar() {
        if (!binario_) {
            auto fin = entrada_.find('\n');
            if (fin == std::string::npos) {
                if (entrada_.size() > maxLinea) {
                    anotar("relay: línea de saludo demasiado larga; se cierra la conexión");
                    cerrar();
                }
                return;
            }
            if (fin > maxLinea) {
                anotar("relay: línea de saludo demasiado larga; se cierra la conexión");
                return cerrar();
            }
            std::string linea = entrada_.substr(0, fin);
            entrada_.erase(0, fin + 1);
            saludo(linea);
            if (!binario_) return;
        }
        std::size_t i = 0;
        while (entrada_.size() - i >= p::cabecera) {
            const std::uint32_t seq = p::leerU32(entrada_.data() + i);
            const std::uint32_t n = p::leerU32(entrada_.data() + i + 4);
            if (n > maxTrozo) {
                anotar("relay: trozo de " + std::to_string(n) + " bytes, más de lo admitido; se cierra la conexión");
                return cerrar();
            }
            if (entrada_.size() - i < p::cabecera + n) break;
            std::string datos = entrada_.substr(i + p::cabecera, n);
            i += p::cabecera + n;
            bool cortar = false;
            srv_.datos(this, seq, std::move(datos), cortar);
            if (cortar || cerrada_) return cerrar();
            std::string acuse;
            p::escribirU32(acuse, seq);
            mandar(std::move(acuse));
            if (cerrada_) return;
        }
        entrada_.erase(0, i);
    }

    void saludo(const std::string& linea) {
        const Opciones& o = srv_.opciones();
        auto r = p::leerRespuesta(linea);
        if (!r) {
            mandar("ERROR\n");
            return cerrarTrasEscribir();
        }
        std::optional<std::string> destino;
        bool valida;
        if (r->tipo == "TM1") {
            valida = p::igualesSeguro(r->mac, p::macSaludo(o.clave, reto_, r->sesion, r->destino));
            if (valida && !r->destino.empty()) {
                destino = p::descifrarDestino(o.clave, reto_, r->sesion, r->destino);
                valida = destino.has_value();
            }
        } else {
            valida = p::igualesSeguro(r->mac, p::macSaludo(p::llaveDeSid(o.secreto, r->sesion), reto_, r->sesion));
        }
        if (!valida) {
            anotar("relay: firma inválida de " + corta(r->sesion));
            mandar("CLAVE\n");
            return cerrarTrasEscribir();
        }
        if (r->tipo == "TM3" || r->tipo == "TM4") {
            mandar(srv_.charla(r->tipo, r->sesion) + "\n");
            return cerrarTrasEscribir();
        }
        std::string v = srv_.admitir(this, r->sesion, r->epoca, destino);
        mandar(v + "\n");
        if (v != "OK") return cerrarTrasEscribir();
        binario_ = true;
        espera_.cancel();
    }

    tcp::socket sock_;
    Servidor& srv_;
    asio::steady_timer espera_;
    std::string reto_;
    std::string entrada_;
    std::array<char, 65536> lectura_{};
    std::string salida_, enCurso_;
    bool escribiendo_ = false, cerrarAlVaciar_ = false, cerrada_ = false, binario_ = false;

    friend class Servidor;
};

Transmision::~Transmision() {
    if (archivo) std::fclose(archivo);
    if (publicador) {
        publicador->terminar();
        // Joining may wait for a slow destination: never on the network thread.
        std::thread([pub = std::move(publicador)]() mutable { pub.reset(); }).detach();
    }
}

Servidor::Servidor(asio::io_context& io, Opciones o) : io_(io), o_(std::move(o)), aceptor_(io), reloj_(io) {}

Servidor::~Servidor() {
    boost::system::error_code ec;
    aceptor_.close(ec);
    reloj_.cancel();
}

std::optional<std::uint16_t> Servidor::iniciar(std::string& error) {
    boost::system::error_code ec;
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
    revisar();
    return aceptor_.local_endpoint().port();
}

void Servidor::aceptar() {
    aceptor_.async_accept([this](boost::system::error_code ec, tcp::socket s) {
        if (ec == asio::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors or similar: wait a little instead of spinning.
            anotar("relay: no se pudo aceptar una conexión (" + ec.message() + ")");
            auto t = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
            t->async_wait([this, t](boost::system::error_code) { aceptar(); });
            return;
        }
        boost::system::error_code e2;
        s.set_option(tcp::no_delay(true), e2);
        std::make_shared<Conexion>(std::move(s), *this)->empezar();
        aceptar();
    });
}

void Servidor::revisar() {
    const double t = ahoraRelay();
    for (auto it = transmisiones_.begin(); it != transmisiones_.end();) {
        auto& tr = it->second;
        if (tr.abierta && t - tr.ultimo > o_.silencio) cerrarTransmision(tr, "silencio");
        if (!tr.abierta && t - tr.ultimo > 3600)
            it = transmisiones_.erase(it);
        else
            ++it;
    }
    reloj_.expires_after(std::chrono::milliseconds(250));
    reloj_.async_wait([this](boost::system::error_code ec) {
        if (!ec) revisar();
    });
}

void Servidor::abrirSalidas(Transmision& t, const std::optional<std::string>& destino) {
    if (o_.salida && !t.archivo && !t.rearmado->terminado()) {
        std::string ruta = *o_.salida;
        auto pos = ruta.find("{sesion}");
        if (pos != std::string::npos) ruta.replace(pos, 8, paraArchivo(t.sesion));
        t.archivo = std::fopen(ruta.c_str(), t.flvVisto ? "ab" : "wb");
        if (!t.archivo) anotar("relay: no se pudo abrir " + ruta);
    }
    auto d = destino ? destino : o_.destino;
    if (d && !d->empty() && !t.publicador && !t.rearmado->terminado()) {
        anotar("relay: la transmisión " + corta(t.sesion) + " se publica en " + sinClave(*d));
        t.publicador = std::make_unique<Publicador>(*d, [](const std::string& t) { anotar("relay: " + t); });
    }
}

std::string Servidor::admitir(Conexion* c, const std::string& sesion, const std::string& epoca,
                              const std::optional<std::string>& destino) {
    if (o_.razon && admisiones_ >= o_.tras) return *o_.razon;
    const double ahora = ahoraRelay();
    auto it = transmisiones_.find(sesion);
    if (it != transmisiones_.end() && !it->second.abierta) return "CERRADA";
    if (it == transmisiones_.end()) {
        it = transmisiones_.try_emplace(sesion).first;
        it->second.sesion = sesion;
        it->second.epoca = epoca;
        it->second.inicio = ahora;
        anotar("relay: transmisión nueva " + corta(sesion));
    }
    Transmision& t = it->second;
    if (t.relevadas.count(epoca)) return "RELEVADA";
    if (t.epoca != epoca) {
        // Another window of the app continues this transmission: it numbers from 0 again.
        anotar("relay: la transmisión " + corta(sesion) + " sigue desde otra instancia");
        t.relevadas.insert(t.epoca);
        t.epoca = epoca;
        for (auto* o : std::set<Conexion*>(t.conexiones)) o->cerrar();
        t.rearmado = std::make_unique<Rearmado>();
    }
    t.ultimo = ahora;
    t.conexiones.insert(c);
    deConexion_[c] = sesion;
    ++admisiones_;
    abrirSalidas(t, destino);
    return "OK";
}

void Servidor::datos(Conexion* c, std::uint32_t seq, std::string payload, bool& cerrar) {
    auto d = deConexion_.find(c);
    if (d == deConexion_.end()) {
        cerrar = true;
        return;
    }
    auto it = transmisiones_.find(d->second);
    if (it == transmisiones_.end() || !it->second.abierta) {
        cerrar = true;
        return;
    }
    Transmision& t = it->second;
    t.ultimo = ahoraRelay();
    if (seq == p::seqRespaldo) {
        t.respaldo = std::move(payload);  // shown while the app is silent (by the real service)
        return;
    }
    if (seq >= p::relleno) return;  // filler: acknowledged and forgotten
    const bool principio = t.rearmado->siguiente() == 0;
    auto r = t.rearmado->recibir(seq, std::move(payload));
    if (r.desbordado) {
        anotar("relay: demasiados datos esperando un hueco en " + corta(t.sesion) + "; se cierra un enlace");
        cerrar = true;
        return;
    }
    if (!r.listo.empty()) {
        if (t.primerDato == 0) t.primerDato = t.ultimo;
        if (t.ultimoAvance > 0) t.huecoMax = std::max(t.huecoMax, t.ultimo - t.ultimoAvance);
        t.ultimoAvance = t.ultimo;
        std::string_view v(r.listo);
        // A continuation from another instance starts with its own FLV header: the output has one.
        if (principio && t.flvVisto && v.size() >= 13 && v.substr(0, 3) == "FLV") v.remove_prefix(13);
        if (principio && !t.flvVisto && v.substr(0, 3) == "FLV") t.flvVisto = true;
        t.bytes += std::int64_t(v.size());
        if (t.archivo) {
            std::fwrite(v.data(), 1, v.size(), t.archivo);
            std::fflush(t.archivo);
        }
        if (t.publicador) t.publicador->poner(std::string(r.listo));
    }
    if (r.fin) {
        char cifras[128];
        std::snprintf(cifras, sizeof cifras, " (%lld bytes en %.1f s, hueco más largo %.2f s)", (long long)t.bytes,
                      t.ultimo - t.primerDato, t.huecoMax);
        anotar("relay: fin del flujo de " + corta(t.sesion) + cifras);
        if (t.archivo) {
            std::fclose(t.archivo);
            t.archivo = nullptr;
        }
        if (t.publicador) {
            t.publicador->terminar();
            std::thread([pub = std::move(t.publicador)]() mutable { pub.reset(); }).detach();
        }
    }
}

std::string Servidor::charla(const std::string& tipo, const std::string& sesion) {
    auto it = transmisiones_.find(sesion);
    const bool abierta = it != transmisiones_.end() && it->second.abierta;
    if (tipo == "TM3")
        return abierta ? "VIVA " + std::to_string(long(ahoraRelay() - it->second.inicio)) : "CERRADA";
    if (abierta) cerrarTransmision(it->second, "pedido del cliente");
    return "CERRADA";
}

void Servidor::cerrarTransmision(Transmision& t, const std::string& porque) {
    t.abierta = false;
    anotar("relay: transmisión " + corta(t.sesion) + " cerrada (" + porque + ")");
    if (t.archivo) {
        std::fclose(t.archivo);
        t.archivo = nullptr;
    }
    if (t.publicador) {
        t.publicador->terminar();
        std::thread([pub = std::move(t.publicador)]() mutable { pub.reset(); }).detach();
    }
    for (auto* c : std::set<Conexion*>(t.conexiones)) c->cerrar();
}

void Servidor::olvidar(Conexion* c) {
    auto d = deConexion_.find(c);
    if (d == deConexion_.end()) return;
    auto it = transmisiones_.find(d->second);
    if (it != transmisiones_.end()) it->second.conexiones.erase(c);
    deConexion_.erase(d);
}

}  // namespace tt::relay
