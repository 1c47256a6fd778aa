#include "uplink/reparto.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "protocolo/protocolo.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <sstream>
#include <thread>

#include <sys/socket.h>

namespace asio = boost::asio;
using asio::ip::tcp;

namespace tt {

struct Reparto::Conexion {
    explicit Conexion(asio::io_context& io) : sock(io), resolver(io) {}
    tcp::socket sock;
    tcp::resolver resolver;
    std::array<char, 65536> lectura{};
    std::deque<std::string> pendiente;
    std::vector<std::string> enCurso;
    bool escribiendo = false;
};

namespace {

std::optional<std::pair<double, double>> leerCorte(double ahoraMismo) {
    auto v = entorno().texto(Tm::corte);
    if (!v) return std::nullopt;
    std::vector<double> n;
    std::stringstream ss(*v);
    std::string pieza;
    while (std::getline(ss, pieza, ':'))
        if (auto x = leerNumero(pieza)) n.push_back(*x);
    if (n.size() != 2) return std::nullopt;
    return std::make_pair(ahoraMismo + n[0], ahoraMismo + n[0] + n[1]);
}

}  // namespace

std::shared_ptr<Reparto> Reparto::crear(const std::string& entrada, const std::string& clave,
                                        std::optional<std::string> destino, std::optional<std::string> respaldo,
                                        std::optional<Pase> pase) {
    auto d = protocolo::partirEntrada(pase ? pase->entrada : entrada);
    if (!d) return nullptr;
    const double t = ahora();
    AjustesReparto a;
    a.clave = clave;
    a.destino = std::move(destino);
    a.respaldo = std::move(respaldo);
    a.pase = std::move(pase);
    a.sesion = a.pase ? a.pase->sid : protocolo::nuevaSesion(entorno().tiene(Tm::seco));
    a.epoca = protocolo::nuevaEpoca();
    a.topePrueba = entorno().numero(Tm::topeKbps);
    a.topeDesde = entorno().numero(Tm::topeDesde).value_or(0);
    a.topeHasta = entorno().numero(Tm::topeHasta).value_or(0);
    a.nacio = proceso().arranqueApp;
    a.corte = leerCorte(t);
    std::shared_ptr<Reparto> r(new Reparto(d->host, d->puerto, std::move(a)));
    r->arrancar();
    return r;
}

Reparto::Reparto(std::string host, std::uint16_t puerto, AjustesReparto ajustes)
    : q_("tm.reparto"), host_(std::move(host)), puerto_(puerto), sesion_(ajustes.sesion), epoca_(ajustes.epoca) {
    d_ = std::make_unique<Despacho>(std::move(ajustes), ahora());
}

void Reparto::arrancar() {
    std::weak_ptr<Reparto> debil = shared_from_this();
    q_.asincrono([debil] {
        auto yo = debil.lock();
        if (!yo) return;
        // A link or address change runs the check at once (a burst of events gives one).
        yo->vigia_ = std::make_unique<VigiaInterfaces>(yo->q_.contexto(), 0.05, [debil] {
            if (auto yo = debil.lock()) {
                yo->interfacesEn_ = -1e9;
                yo->revisar();
            }
        });
        yo->vigia_->abrir();  // without events the 0.25 s check still notices within half a second
    });
    reloj_ = q_.cada(
        0.25,
        [debil] {
            if (auto yo = debil.lock()) yo->revisar();
        },
        0.3);
}

void Reparto::revisar() {
    const double t = ahora();
    if (t - interfacesEn_ >= 0.5) {
        interfacesEn_ = t;
        interfaces_ = Interfaces::usables();
    }
    cumplir(d_->revisar(t, interfaces_));
    auto resumen = d_->resumen(t);
    auto detalle = d_->detalle(t);
    const auto tramo = d_->tomarTramo(t);
    const auto sondeo = d_->sondeo(t);
    std::lock_guard l(candadoVista);
    resumen_ = std::move(resumen);
    detalle_ = std::move(detalle);
    presion_.sumar(tramo);
    sondeo_ = sondeo;
}

void Reparto::cumplir(Acciones acciones) {
    for (auto& a : acciones) {
        switch (a.tipo) {
        case Accion::Tipo::conectar: conectar(a.bsd); break;
        case Accion::Tipo::soltar: soltar(a.bsd); break;
        case Accion::Tipo::mandar: mandar(a.bsd, std::move(a.texto)); break;
        case Accion::Tipo::anotar: bitacora(a.texto); break;
        case Accion::Tipo::cortar:
            if (auto f = alCortar_) enGlobal([f, razon = std::move(a.texto)] { f(razon); });
            break;
        }
    }
    const auto sinRed = d_->sinRedDesde();
    std::lock_guard l(candadoVista);
    sinRedDesde_ = sinRed;
}

Reparto::~Reparto() {
    if (q_.enEsta())
        cerrarTodo();
    else
        q_.sincrono([this] { cerrarTodo(); });
}

void Reparto::cerrarTodo() {
    if (reloj_) reloj_->cancelar();
    vigia_.reset();
    for (auto& [b, c] : conexiones_) {
        boost::system::error_code ec;
        c->resolver.cancel();
        c->sock.close(ec);
    }
    conexiones_.clear();
}

void Reparto::fijarAlCortar(std::function<void(const std::string&)> fn) {
    q_.sincrono([&] { alCortar_ = std::move(fn); });
}

bool Reparto::vigente(const std::string& bsd, const std::shared_ptr<Conexion>& c) const {
    auto it = conexiones_.find(bsd);
    return it != conexiones_.end() && it->second == c;
}

void Reparto::conectar(const std::string& bsd) {
    soltar(bsd);
    auto c = std::make_shared<Conexion>(q_.contexto());
    conexiones_[bsd] = c;
    std::weak_ptr<Reparto> debil = shared_from_this();
    c->resolver.async_resolve(
        tcp::v4(), host_, std::to_string(puerto_),
        [debil, bsd, c](boost::system::error_code ec, tcp::resolver::results_type res) {
            auto yo = debil.lock();
            if (!yo || !yo->vigente(bsd, c)) return;
            if (ec || res.empty()) return yo->fallo(bsd, c);
            boost::system::error_code e2;
            c->sock.open(tcp::v4(), e2);
            if (!e2) c->sock.set_option(tcp::no_delay(true), e2);
            if (!e2 && ::setsockopt(c->sock.native_handle(), SOL_SOCKET, SO_BINDTODEVICE, bsd.c_str(),
                                    socklen_t(bsd.size())) != 0) {
                bitacoraDepurar("red " + bsd + ": no se pudo fijar la conexión a la interfaz");
                return yo->fallo(bsd, c);
            }
            if (e2) return yo->fallo(bsd, c);
            // The member connect keeps the open socket and its options; the free async_connect
            // over a list of endpoints would reopen it and lose the interface pinning.
            c->sock.async_connect(res.begin()->endpoint(), [debil, bsd, c](boost::system::error_code ec3) {
                auto yo = debil.lock();
                if (!yo || !yo->vigente(bsd, c)) return;
                if (ec3) return yo->fallo(bsd, c);
                yo->leer(bsd, c);  // the server speaks first
            });
        });
}

void Reparto::fallo(const std::string& bsd, const std::shared_ptr<Conexion>& c) {
    if (!vigente(bsd, c)) return;
    cumplir(d_->caer(bsd, ahora()));
}

void Reparto::leer(const std::string& bsd, const std::shared_ptr<Conexion>& c) {
    std::weak_ptr<Reparto> debil = shared_from_this();
    c->sock.async_read_some(asio::buffer(c->lectura), [debil, bsd, c](boost::system::error_code ec, std::size_t n) {
        auto yo = debil.lock();
        if (!yo || !yo->vigente(bsd, c)) return;
        if (n > 0) yo->cumplir(yo->d_->recibir(bsd, std::string_view(c->lectura.data(), n), ahora()));
        if (!yo->vigente(bsd, c)) return;  // dropped while handling the bytes
        if (ec) return yo->fallo(bsd, c);  // end of stream included
        yo->leer(bsd, c);
    });
}

void Reparto::soltar(const std::string& bsd) {
    auto it = conexiones_.find(bsd);
    if (it == conexiones_.end()) return;
    auto c = it->second;
    conexiones_.erase(it);
    boost::system::error_code ec;
    c->resolver.cancel();
    c->sock.close(ec);
}

void Reparto::mandar(const std::string& bsd, std::string bytes) {
    auto it = conexiones_.find(bsd);
    if (it == conexiones_.end()) return;
    it->second->pendiente.push_back(std::move(bytes));
    if (!it->second->escribiendo) escribir(bsd, it->second);
}

void Reparto::escribir(const std::string& bsd, const std::shared_ptr<Conexion>& c) {
    if (c->pendiente.empty()) {
        c->escribiendo = false;
        return;
    }
    c->escribiendo = true;
    c->enCurso.assign(std::make_move_iterator(c->pendiente.begin()), std::make_move_iterator(c->pendiente.end()));
    c->pendiente.clear();
    std::vector<asio::const_buffer> bufs;
    bufs.reserve(c->enCurso.size());
    for (auto& s : c->enCurso) bufs.push_back(asio::buffer(s));
    std::weak_ptr<Reparto> debil = shared_from_this();
    asio::async_write(c->sock, bufs, [debil, bsd, c](boost::system::error_code ec, std::size_t n) {
        c->enCurso.clear();
        auto yo = debil.lock();
        if (!yo || !yo->vigente(bsd, c)) return;
        if (ec) return yo->fallo(bsd, c);
        yo->cumplir(yo->d_->escrito(bsd, n));
        yo->escribir(bsd, c);
    });
}

void Reparto::enviar(std::string datos) {
    const std::uint32_t s = q_.sincrono([this] { return d_->numerar(); });
    for (;;) {
        // The core counts the real time from the first refusal to the end as the producer's wait.
        auto r = q_.sincrono([&] {
            auto i = d_->intentar(s, datos, ahora());
            cumplir(std::move(i.acciones));
            return std::make_pair(i.tomado, i.activo);
        });
        if (r.first || !r.second) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
}

void Reparto::terminar() {
    std::weak_ptr<Reparto> debil = shared_from_this();
    q_.asincrono([debil] {
        auto yo = debil.lock();
        if (!yo || !yo->d_->activo()) return;
        yo->cumplir(yo->d_->terminar(ahora()));
        if (yo->reloj_) yo->reloj_->cancelar();
        yo->vigia_.reset();
        yo->q_.despues(2, [debil] {
            if (auto yo = debil.lock()) yo->cumplir(yo->d_->cerrar());
        });
    });
}

bool Reparto::activo() {
    return q_.sincrono([this] { return d_->activo(); });
}

std::int64_t Reparto::confirmadosTotal() {
    return q_.sincrono([this] { return d_->confirmadosTotal(); });
}

Cuentas Reparto::cuentas() {
    return q_.sincrono([this] { return d_->cuentas(); });
}

bool Reparto::cortado() const {
    std::lock_guard l(candadoVista);
    return sinRedDesde_ && ahora() - *sinRedDesde_ > 1.5;
}

Resumen Reparto::resumen() const {
    std::lock_guard l(candadoVista);
    return resumen_;
}

std::vector<Json> Reparto::detalle() const {
    std::lock_guard l(candadoVista);
    return detalle_;
}

std::optional<Presion> Reparto::tomarPresion() {
    std::lock_guard l(candadoVista);
    if (presion_.segundos <= 0) return std::nullopt;
    const Presion p = presion_.presion();
    presion_ = {};
    return p;
}

void Reparto::sondear(int kbps, double segundos) {
    std::weak_ptr<Reparto> debil = shared_from_this();
    q_.asincrono([debil, kbps, segundos] {
        if (auto yo = debil.lock()) yo->d_->sondear(kbps, segundos, ahora());
    });
}

Sondeo Reparto::sondeo() const {
    std::lock_guard l(candadoVista);
    return sondeo_;
}

}  // namespace tt
