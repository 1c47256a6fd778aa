#include "servidor.h"

#include "bitacora_relay.h"
#include "uplink/publicador.h"

#include "comun/cripto.h"
#include "comun/sin_clave.h"
#include "protocolo/protocolo.h"

#include <boost/asio/write.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace tt::relay {

namespace p = tt::protocolo;

namespace {

constexpr std::size_t maxLinea = 4096;
constexpr std::uint32_t maxTrozo = 16u << 20;
constexpr std::size_t maxSalida = 1u << 20;  // a client that stops reading its acknowledgements
constexpr std::size_t lecturaSaludo = 512;   // a connection in the handshake costs little
constexpr std::size_t lecturaDatos = 65536;
constexpr std::size_t maxCerradas = 10000;   // closed transmissions remembered
constexpr double vidaCerrada = 3600;
constexpr double avisoSinSalida = 2;  // seconds without output before the app is told
constexpr std::size_t maxSesion = 128;
constexpr std::size_t maxEpoca = 32;      // the app's are 12 hex digits
constexpr std::size_t maxRelevadas = 8;   // instances relieved that are still told "RELEVADA"
constexpr double esperaFinal = 3;         // how long SIGTERM waits for the last usage reports
constexpr double avisoCada = 10;          // one log line for a burst of refusals
constexpr double cadaCarga = 5;           // how often the control service hears how loaded this relay is

double ahoraPared() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

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

std::string corta(const std::string& sesion) { return legible(sesion.substr(0, 8), 8); }

}  // namespace

// One accepted TCP connection: handshake, then chunks in and acknowledgements out. Owner: the
// handlers of its pending operations (shared), all on the server's thread.
class Conexion : public std::enable_shared_from_this<Conexion> {
public:
    Conexion(tcp::socket s, Servidor& srv, asio::ip::address ip)
        : sock_(std::move(s)), srv_(srv), espera_(sock_.get_executor()), ip_(ip), lectura_(lecturaSaludo) {}
    ~Conexion() {
        dejarSaludo();
        srv_.olvidar(this);
    }

    const asio::ip::address& ip() const { return ip_; }
    bool enSaludo() const { return !binario_ && !finSaludo_; }

    void empezar() {
        reto_ = azarHex(16);
        mandar("TM1 " + reto_ + "\n");
        // A peer still silent shortly after the challenge is cut (the app answers at once): it
        // would hold a handshake slot; one that started answering gets the whole wait.
        const Opciones& o = srv_.opciones();
        const bool mudo = o.mudoSaludo > 0 && o.mudoSaludo < o.esperaSaludo;
        plazo(mudo ? o.mudoSaludo : o.esperaSaludo, mudo ? o.esperaSaludo - o.mudoSaludo : 0);
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
        dejarSaludo();
        srv_.soltar(this);
        // Nothing more is read or written: give the buffers back now, not when the last handler runs.
        std::string().swap(entrada_);
        std::string().swap(salida_);
    }

private:
    void plazo(double segundos, double resto) {
        espera_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(segundos)));
        std::weak_ptr<Conexion> debil = shared_from_this();
        espera_.async_wait([debil, resto](boost::system::error_code ec) {
            auto yo = debil.lock();
            if (ec || !yo || yo->binario_ || yo->cerrada_) return;
            if (yo->algoLlego_ && resto > 0) return yo->plazo(resto, 0);
            if (!yo->algoLlego_) yo->srv_.anotarCallada();
            yo->cerrar();
        });
    }

    void dejarSaludo() {
        if (finSaludo_) return;
        finSaludo_ = true;
        srv_.finSaludo(this);
    }

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
                yo->algoLlego_ = true;
                yo->ultimaLectura_ = ahoraRelay();
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
        // Room for one large chunk is not kept for the links' lifetime.
        if (entrada_.capacity() > 4 * lecturaDatos && entrada_.size() < lecturaDatos) entrada_.shrink_to_fit();
        if (!srv_.retener(this, entrada_.size())) return cerrar();
    }

    void saludo(const std::string& linea) {
        const Opciones& o = srv_.opciones();
        auto r = p::leerRespuesta(linea);
        // A closed transmission's sid is remembered for an hour: no room for kilobytes of it.
        if (!r || r->sesion.size() > maxSesion || r->epoca.size() > maxEpoca) {
            mandar("ERROR\n");
            return cerrarTrasEscribir();
        }
        std::optional<std::string> destino;
        bool valida = false;
        // Without its key a kind of answer is refused: an empty key would admit anyone.
        if (r->tipo == "TM1") {
            valida = !o.clave.empty() &&
                     p::igualesSeguro(r->mac, p::macSaludo(o.clave, reto_, r->sesion, r->destino));
            if (valida && !r->destino.empty()) {
                destino = p::descifrarDestino(o.clave, reto_, r->sesion, r->destino);
                valida = destino.has_value();
            }
        } else if (!o.secreto.empty()) {
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
        std::optional<Permiso> permiso;
        if (r->tipo == "TM2") {
            // The token was sealed by the control service for this very sid: forged, changed or
            // taken from another transmission, it ends this one. Never logged: it holds the key.
            permiso = abrirPermiso(o.secreto, r->pase);
            if (!permiso || permiso->sid != r->sesion) {
                anotar("relay: pase inválido en " + corta(r->sesion));
                mandar("CERRADA\n");
                return cerrarTrasEscribir();
            }
        }
        std::string v = srv_.admitir(this, r->tipo, r->sesion, r->epoca, destino, permiso);
        mandar(v + "\n");
        if (v != "OK") return cerrarTrasEscribir();
        binario_ = true;
        ultimaLectura_ = ahoraRelay();
        espera_.cancel();
        dejarSaludo();
        lectura_.resize(lecturaDatos);
    }

    tcp::socket sock_;
    Servidor& srv_;
    asio::steady_timer espera_;
    asio::ip::address ip_;
    std::string reto_;
    std::string entrada_;
    std::vector<char> lectura_;  // small until admitted
    std::string salida_, enCurso_;
    bool escribiendo_ = false, cerrarAlVaciar_ = false, cerrada_ = false, binario_ = false, finSaludo_ = false;
    bool algoLlego_ = false;
    double ultimaLectura_ = 0;   // relay clock of the last bytes read
    std::size_t retenido_ = 0;   // bytes of a partial chunk counted for its transmission

    friend class Servidor;
};

Segador::~Segador() { parar(); }

void Segador::entregar(std::unique_ptr<Publicador> p) {
    if (!cola_) cola_ = std::make_unique<Cola>("tm.segador");
    cola_->asincrono([p = std::shared_ptr<Publicador>(std::move(p))]() mutable { p.reset(); });  // joins its thread
}

void Segador::parar() { cola_.reset(); }  // after every publisher handed over is joined

Servidor::Servidor(Opciones o)
    : o_(std::move(o)), aceptor_(io_), reloj_(io_), reintento_(io_), senales_(io_, SIGINT, SIGTERM),
      saludos_(o_.maxSaludos, o_.maxSaludosPorIp) {}

Servidor::~Servidor() { detener(); }

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
    if (o_.estado && !guardado_.abrir(*o_.estado, ahoraPared(), error)) return std::nullopt;
    if (o_.control) {
        auto dos = o_.control->rfind(':');
        auto puerto = p::partirEntrada(*o_.control);
        if (dos == std::string::npos || !puerto) {
            error = "dirección del control inválida: " + *o_.control;
            return std::nullopt;
        }
        informes_ = std::make_unique<Informes>(io_, puerto->host, puerto->puerto, o_.secreto);
        if (!o_.nombre) o_.nombre = o_.host + ":" + std::to_string(aceptor_.local_endpoint().port());
    }
    aceptar();
    revisar();
    return aceptor_.local_endpoint().port();
}

void Servidor::correr() {
    senales_.async_wait([this](boost::system::error_code ec, int) {
        if (!ec) despedirse();
    });
    io_.run();
    detener();
}

// Nothing more goes on air, so the totals reported now are the last ones; the service gets a
// moment to take them (a second signal does not wait).
void Servidor::despedirse() {
    boost::system::error_code ec;
    aceptor_.close(ec);
    reloj_.cancel();
    senales_.async_wait([this](boost::system::error_code e, int) {
        if (!e) io_.stop();
    });
    for (auto* c : std::vector<Conexion*>(conexiones_.begin(), conexiones_.end())) c->cerrar();
    for (auto& [sesion, t] : transmisiones_)
        if (t.abierta && t.permiso && t.finAire == 0) informar(t, true);
    esperarInformes(ahoraRelay() + esperaFinal);
}

void Servidor::esperarInformes(double hasta) {
    if (!informes_ || informes_->pendientes() == 0 || ahoraRelay() >= hasta) {
        if (informes_ && informes_->pendientes() > 0)
            anotar("relay: " + std::to_string(informes_->pendientes()) + " informes de uso sin entregar al detenerse");
        io_.stop();
        return;
    }
    reintento_.expires_after(std::chrono::milliseconds(50));
    reintento_.async_wait([this, hasta](boost::system::error_code ec) {
        if (!ec) esperarInformes(hasta);
    });
}

// Closes everything and lets every pending handler finish while the maps the connections'
// destructors reach still exist; then joins the publishers.
void Servidor::detener() {
    if (parando_) return;
    parando_ = true;
    boost::system::error_code ec;
    aceptor_.close(ec);
    reloj_.cancel();
    reintento_.cancel();
    senales_.cancel(ec);
    if (informes_) informes_->parar();
    for (auto& [sesion, t] : transmisiones_) cerrarSalidas(t);
    for (auto* c : std::vector<Conexion*>(conexiones_.begin(), conexiones_.end())) c->cerrar();
    io_.restart();
    io_.run();
    if (guardado_.activo()) {
        for (auto& [sesion, t] : transmisiones_) recordar(t);
        if (!guardado_.guardar(ahoraPared(), maxCerradas + std::size_t(o_.maxTransmisiones)))
            anotar("relay: no se pudo guardar el estado en " + *o_.estado);
    }
    transmisiones_.clear();
    taller_.parar();
    segador_.parar();
}

void Servidor::aceptar() {
    if (parando_) return;
    aceptor_.async_accept([this](boost::system::error_code ec, tcp::socket s) {
        if (ec == asio::error::operation_aborted || parando_) return;
        if (ec) {
            // Out of descriptors or similar: wait a little instead of spinning.
            anotar("relay: no se pudo aceptar una conexión (" + ec.message() + ")");
            reintento_.expires_after(std::chrono::milliseconds(100));
            reintento_.async_wait([this](boost::system::error_code e) {
                if (!e) aceptar();
            });
            return;
        }
        boost::system::error_code e2;
        auto remoto = s.remote_endpoint(e2);
        if (e2) {
            aceptar();  // already gone
            return;
        }
        const auto ip = remoto.address();
        if (!saludos_.entrar(ip)) {
            // Refused before any byte is read or allocated for it; counted, logged now and then.
            s.close(e2);
            ++rechazadas_;
        } else {
            s.set_option(tcp::no_delay(true), e2);
            auto c = std::make_shared<Conexion>(std::move(s), *this, ip);
            conexiones_.insert(c.get());
            picoConexiones_ = std::max(picoConexiones_, conexiones_.size());
            c->empezar();
        }
        aceptar();
    });
}

void Servidor::finSaludo(Conexion* c) { saludos_.salir(c->ip()); }

void Servidor::revisar() {
    if (parando_) return;
    const double t = ahoraRelay();
    const double paso = std::clamp(t - ultimaRevision_, 0.0, 1.0);
    ultimaRevision_ = t;
    for (auto& [sesion, tr] : transmisiones_) {
        if (tr.abierta && t - tr.ultimo > o_.silencio) cerrarTransmision(tr, "silencio");
        if (tr.emision) tr.emision->revisar(t);
        // The links are dropped; each one that comes back is told why.
        if (tr.abierta && tr.emision && !tr.emision->haPublicado() && o_.plazoDestino > 0 &&
            t - tr.emisionDesde >= o_.plazoDestino)
            cerrarTransmision(tr, "el destino no aceptó la publicación en " + std::to_string(int(o_.plazoDestino)) + " s",
                              "CERRADA");
        if (!tr.abierta || !tr.permiso || tr.finAire > 0) continue;
        // Only the time the destination was taking the stream is charged (all of it when there is
        // no destination: a dry run).
        const bool sale = tr.permiso->seco || (tr.emision && tr.emision->publicando());
        if (sale) tr.entregado += paso;
        // The app hears through the control service when nothing has gone out for a moment (a
        // reconnection that works at once is not worth a notice), and as soon as it goes out again.
        if (sale) tr.sinSalidaDesde = -1;
        else if (tr.sinSalidaDesde < 0) tr.sinSalidaDesde = t;
        const bool sinSalida = !sale && t - tr.sinSalidaDesde >= avisoSinSalida;
        const bool cambio = sinSalida != tr.sinSalidaDicha;
        tr.sinSalidaDicha = sinSalida;
        if (tr.entregado >= double(tr.permiso->segundos))
            cerrarTransmision(tr, "se acabó el saldo", "SALDO");
        else if (cambio || tr.entregado >= double(tr.informados) + o_.informeCada)
            informar(tr, false, cambio);
    }
    while (!cerradas_.empty()) {
        auto it = transmisiones_.find(cerradas_.front());
        const bool vieja = it == transmisiones_.end() || it->second.abierta || t - it->second.ultimo > vidaCerrada;
        if (!vieja && cerradas_.size() <= maxCerradas) break;
        if (it != transmisiones_.end() && !it->second.abierta) transmisiones_.erase(it);
        cerradas_.pop_front();
    }
    // The app's links send a filler chunk after a second without data: a silent one is dead or
    // a stranger's.
    if (o_.inactividad > 0) {
        std::vector<Conexion*> mudas;
        for (auto& [c, sesion] : deConexion_)
            if (t - c->ultimaLectura_ > o_.inactividad) mudas.push_back(c);
        for (auto* c : mudas) c->cerrar();
        inactivos_ += long(mudas.size());
    }
    avisarRechazos(t);
    // The control service gives new permissions to the least-loaded relay it heard from lately.
    if (informes_ && t - ultimaCarga_ >= cadaCarga) {
        ultimaCarga_ = t;
        informes_->cargar(*o_.nombre, std::count_if(transmisiones_.begin(), transmisiones_.end(),
                                                    [](const auto& x) { return x.second.abierta; }));
    }
    if (guardadoSucio_ && t - ultimoGuardado_ >= 1) {
        const bool bien = guardado_.guardar(ahoraPared(), maxCerradas + std::size_t(o_.maxTransmisiones));
        if (!bien && guardadoSucio_ != 2) anotar("relay: no se pudo guardar el estado en " + *o_.estado);
        guardadoSucio_ = bien ? 0 : 2;  // 2: failed and said so; tried again each second
        ultimoGuardado_ = t;
    }
    // Many connections or a transmission's buffers just went away: give the memory back to the
    // system (the allocator keeps freed blocks otherwise), at most once a second.
    if ((soltarMemoria_ || picoConexiones_ >= conexiones_.size() + 256) && t - ultimoRecorte_ >= 1) {
        malloc_trim(0);
        soltarMemoria_ = false;
        picoConexiones_ = conexiones_.size();
        ultimoRecorte_ = t;
    }
    reloj_.expires_after(std::chrono::milliseconds(250));
    reloj_.async_wait([this](boost::system::error_code ec) {
        if (!ec) revisar();
    });
}

// Seconds delivered so far, never more than granted, to the control service.
void Servidor::informar(Transmision& t, bool final, bool cambioSalida) {
    const long long usados = std::min(t.permiso->segundos, (long long)(t.entregado + (final ? 0.999 : 0)));
    if (usados < t.informados || (usados == t.informados && !final && !cambioSalida)) return;
    t.informados = usados;
    recordar(t);
    if (informes_) informes_->anotar(t.sesion, usados, final ? std::nullopt : std::optional(!t.sinSalidaDicha));
}

void Servidor::abrirSalidas(Transmision& t) {
    t.salidasAbiertas = true;
    if (o_.salida) {
        std::string ruta = *o_.salida;
        auto pos = ruta.find("{sesion}");
        if (pos != std::string::npos) ruta.replace(pos, 8, paraArchivo(t.sesion));
        // The stream is the user's: nobody else may read it, not even while it is being created.
        const int fd = ::open(ruta.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (t.flvVisto ? O_APPEND : O_TRUNC), 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);  // an existing file keeps its mode otherwise
            t.archivo = ::fdopen(fd, t.flvVisto ? "ab" : "wb");
            if (!t.archivo) ::close(fd);
        }
        if (!t.archivo) anotar("relay: no se pudo abrir " + ruta);
    }
    auto d = t.destino ? t.destino : t.permiso ? std::nullopt : o_.destino;
    if (d && !d->empty()) {
        anotar("relay: la transmisión " + corta(t.sesion) + " se publica en " + legible(sinClave(*d), 200));
        t.emision = std::make_unique<Emision>(*d, corta(t.sesion), taller_, o_.respaldoTras);
        t.emisionDesde = ahoraRelay();
        if (!t.respaldo.empty()) t.emision->imagen(t.respaldo);
    }
}

void Servidor::cerrarSalidas(Transmision& t) {
    if (t.archivo) {
        std::fclose(t.archivo);
        t.archivo = nullptr;
    }
    if (t.emision) {
        if (auto p = t.emision->terminar()) segador_.entregar(std::move(p));
        t.emision.reset();
    }
}

void Servidor::soltarEspera(Transmision& t) {
    if (t.rearmado) esperaTotal_ -= std::min(esperaTotal_, t.rearmado->enEspera());
}

// A permission's first admission: still valid, and the only one on air for its room (a newer
// grant relieves an older one; an older one finds the room taken). Nothing when it may go on.
std::optional<std::string> Servidor::admitirPermiso(const std::string& sesion, const Permiso& p, bool antes) {
    if (!antes && ahoraPared() > p.vence) {
        anotar("relay: el permiso de " + corta(sesion) + " venció antes de conectar");
        return "VENCIDO";
    }
    auto viva = salaViva_.find(p.sala);
    if (viva == salaViva_.end() || viva->second == sesion) return std::nullopt;
    auto otra = transmisiones_.find(viva->second);
    if (otra == transmisiones_.end() || !otra->second.abierta || !otra->second.permiso) return std::nullopt;
    if (otra->second.permiso->emitido >= p.emitido) {
        anotar("relay: la sala de " + corta(sesion) + " ya transmite con " + corta(otra->second.sesion));
        return "OCUPADO";
    }
    cerrarTransmision(otra->second, "la relevó " + corta(sesion), "RELEVADA");
    return std::nullopt;
}

std::string Servidor::admitir(Conexion* c, const std::string& tipo, const std::string& sesion,
                              const std::string& epoca, const std::optional<std::string>& destino,
                              const std::optional<Permiso>& permiso) {
    if (o_.razon && admisiones_ >= o_.tras) return *o_.razon;
    // Checked here as well as by the control service: this is what reaches librtmp.
    const std::optional<std::string> nombrado =
        permiso ? (permiso->seco ? std::nullopt : std::optional(permiso->destino)) : destino;
    if (nombrado && !nombrado->empty())
        if (auto no = destinoRechazado(*nombrado, o_.destinos)) {
            anotar("relay: destino rechazado para " + corta(sesion) + ": " + *no);
            return "CERRADA";
        }
    const double ahora = ahoraRelay();
    auto it = transmisiones_.find(sesion);
    if (it != transmisiones_.end() && it->second.tipo != tipo) {
        // A sid belongs to the key that opened it: a "TM1" answer never joins or replaces a
        // transmission opened with a permission, nor the reverse.
        anotar("relay: la sesión " + corta(sesion) + " pertenece a otra clave; se rechaza");
        return "CLAVE";
    }
    if (it != transmisiones_.end() && !it->second.abierta) return it->second.razon;
    if (it == transmisiones_.end()) {
        // A permission this relay admitted before it restarted: closed, it stays closed; open,
        // it goes on from the seconds it had used.
        std::optional<Registro> previo;
        if (guardado_.activo()) {
            auto g = guardado_.registros().find(sesion);
            if (g != guardado_.registros().end()) {
                if (tipo != "TM2") return "CLAVE";
                if (!g->second.razon.empty()) return g->second.razon;
                previo = g->second;
            }
        }
        if (permiso)
            if (auto no = admitirPermiso(sesion, *permiso, previo.has_value())) return *no;
        if (abiertas_ >= o_.maxTransmisiones) {
            anotar("relay: ya hay " + std::to_string(abiertas_) + " transmisiones abiertas; se rechaza una nueva");
            return "OCUPADO";
        }
        it = transmisiones_.try_emplace(sesion).first;
        Transmision& n = it->second;
        n.sesion = sesion;
        n.tipo = tipo;
        n.epoca = epoca;
        n.inicio = ahora;
        n.rearmado = std::make_unique<Rearmado>(o_.maxEspera);
        if (permiso) {
            // The destination is the one the service sealed, never one the client names.
            n.permiso = permiso;
            if (!permiso->seco && !permiso->destino.empty()) n.destino = permiso->destino;
            salaViva_[permiso->sala] = sesion;
            if (previo) {
                n.entregado = std::min(previo->entregado, double(permiso->segundos));
                n.informados = (long long)n.entregado;
            }
            recordar(n);
        }
        ++abiertas_;
        anotar("relay: transmisión nueva " + corta(sesion) + (permiso && permiso->seco ? " (en seco)" : ""));
    }
    Transmision& t = it->second;
    if (std::find(t.relevadas.begin(), t.relevadas.end(), epoca) != t.relevadas.end()) return "RELEVADA";
    if (t.epoca != epoca) {
        // Another window of the app continues this transmission: it numbers from 0 again.
        anotar("relay: la transmisión " + corta(sesion) + " sigue desde otra instancia");
        t.relevadas.push_back(t.epoca);
        if (t.relevadas.size() > maxRelevadas) t.relevadas.pop_front();
        t.epoca = epoca;
        for (auto* o : std::set<Conexion*>(t.conexiones)) o->cerrar();
        soltarEspera(t);
        // The outputs go on (the new stream's header is skipped); ended ones open again with its
        // first chunk.
        t.rearmado = std::make_unique<Rearmado>(o_.maxEspera);
    }
    if (destino && !t.destino && !t.permiso) t.destino = destino;
    t.ultimo = ahora;
    // One link more than the app opens: the one silent the longest gives way (most likely dead
    // without the relay having seen it yet), so a reconnection always gets in.
    while (!t.conexiones.empty() && int(t.conexiones.size()) >= o_.maxEnlaces) {
        auto callada = std::min_element(t.conexiones.begin(), t.conexiones.end(), [](Conexion* a, Conexion* b) {
            return a->ultimaLectura_ < b->ultimaLectura_;
        });
        (*callada)->cerrar();
        ++desplazados_;
    }
    t.conexiones.insert(c);
    deConexion_[c] = sesion;
    ++admisiones_;
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
        t.respaldo = std::move(payload);  // published while the app is silent
        if (t.emision) t.emision->imagen(t.respaldo);
        return;
    }
    if (seq >= p::relleno) return;  // filler: acknowledged and forgotten
    if (seq > t.rearmado->siguiente() && esperaTotal_ + Rearmado::coste(payload) > o_.maxEsperaTotal) {
        anotar("relay: demasiados datos esperando huecos entre todas las transmisiones; se cierra un enlace");
        cerrar = true;
        return;
    }
    // The file and the publishing thread exist only for a transmission that sends something.
    if (!t.salidasAbiertas && !t.rearmado->terminado()) abrirSalidas(t);
    const bool principio = t.rearmado->siguiente() == 0;
    const std::size_t antes = t.rearmado->enEspera();
    auto r = t.rearmado->recibir(seq, std::move(payload));
    esperaTotal_ = esperaTotal_ - std::min(esperaTotal_, antes) + t.rearmado->enEspera();
    if (r.desbordado) {
        anotar("relay: demasiados datos esperando un hueco en " + corta(t.sesion) + "; se cierra un enlace");
        cerrar = true;
        return;
    }
    if (!r.listo.empty()) {
        t.finAire = 0;  // a continuation after an end is on air again
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
        if (t.emision) t.emision->datos(r.listo, t.ultimo);
    }
    if (r.fin) {
        char cifras[128];
        std::snprintf(cifras, sizeof cifras, " (%lld bytes en %.1f s, hueco más largo %.2f s)", (long long)t.bytes,
                      t.ultimo - t.primerDato, t.huecoMax);
        anotar("relay: fin del flujo de " + corta(t.sesion) + cifras);
        cerrarSalidas(t);
        t.salidasAbiertas = false;
        // The app stopped: its time on air ends here, whenever the transmission is closed.
        if (t.permiso) {
            t.finAire = ahoraPared();
            informar(t, true);
        }
    }
}

std::string Servidor::charla(const std::string& tipo, const std::string& sesion) {
    // Signed with a permission's key: only transmissions opened with a permission are visible.
    auto it = transmisiones_.find(sesion);
    const bool abierta = it != transmisiones_.end() && it->second.abierta && it->second.tipo == "TM2";
    if (tipo == "TM3")
        return abierta ? "VIVA " + std::to_string(long(ahoraRelay() - it->second.inicio)) : "CERRADA";
    if (abierta) cerrarTransmision(it->second, "pedido del cliente");
    return "CERRADA";
}

void Servidor::cerrarTransmision(Transmision& t, const std::string& porque, const std::string& razon) {
    t.abierta = false;
    t.razon = razon;
    --abiertas_;
    anotar("relay: transmisión " + corta(t.sesion) + " cerrada (" + porque + ")");
    if (t.permiso) {
        informar(t, true);
        auto v = salaViva_.find(t.permiso->sala);
        if (v != salaViva_.end() && v->second == t.sesion) salaViva_.erase(v);
    }
    cerrarSalidas(t);
    // Only its identity stays, to answer "CERRADA"; its buffers go now.
    soltarEspera(t);
    t.rearmado.reset();
    t.destino.reset();
    std::string().swap(t.respaldo);
    t.relevadas.clear();
    cerradas_.push_back(t.sesion);
    soltarMemoria_ = true;
    for (auto* c : std::set<Conexion*>(t.conexiones)) c->cerrar();
    recordar(t);
}

void Servidor::recordar(const Transmision& t) {
    if (!guardado_.activo() || !t.permiso) return;
    Registro& r = guardado_.registros()[t.sesion];
    r.entregado = t.entregado;
    r.razon = t.abierta ? "" : t.razon;
    // Kept as long as the relay would remember it, and while the permission could still be admitted.
    r.hasta = std::max(t.permiso->vence, ahoraPared() + vidaCerrada);
    if (!guardadoSucio_) guardadoSucio_ = 1;
}

void Servidor::avisarRechazos(double t) {
    if (t - ultimoAvisoRechazo_ < avisoCada) return;
    std::string linea;
    auto poner = [&](long& n, const char* que) {
        if (n > 0) linea += (linea.empty() ? "" : ", ") + std::to_string(n) + " " + que;
        n = 0;
    };
    poner(rechazadas_, "conexiones rechazadas (demasiadas en el saludo)");
    poner(calladas_, "cortadas por no contestar el reto");
    poner(inactivos_, "enlaces cerrados por no mandar nada");
    poner(desplazados_, "enlaces de más en una transmisión, cerrados los más callados");
    poner(excedidos_, "enlaces con un trozo a medias que no cabe en la memoria");
    if (linea.empty()) return;
    anotar("relay: " + linea);
    ultimoAvisoRechazo_ = t;
}

bool Servidor::retener(Conexion* c, std::size_t bytes) {
    Transmision* t = nullptr;
    if (auto d = deConexion_.find(c); d != deConexion_.end())
        if (auto it = transmisiones_.find(d->second); it != transmisiones_.end()) t = &it->second;
    parcialTotal_ = parcialTotal_ - std::min(parcialTotal_, c->retenido_) + bytes;
    if (t) t->parcial = t->parcial - std::min(t->parcial, c->retenido_) + bytes;
    c->retenido_ = bytes;
    if (bytes == 0 || !t || !t->rearmado) return true;
    if (t->rearmado->enEspera() + t->parcial <= o_.maxEspera && esperaTotal_ + parcialTotal_ <= o_.maxEsperaTotal)
        return true;
    ++excedidos_;
    return false;
}

void Servidor::soltar(Conexion* c) {
    retener(c, 0);
    auto d = deConexion_.find(c);
    if (d == deConexion_.end()) return;
    auto it = transmisiones_.find(d->second);
    if (it != transmisiones_.end()) it->second.conexiones.erase(c);
    deConexion_.erase(d);
}

void Servidor::olvidar(Conexion* c) {
    conexiones_.erase(c);
    soltar(c);
}

}  // namespace tt::relay
