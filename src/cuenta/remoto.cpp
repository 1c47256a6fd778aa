#include "cuenta/remoto.h"

#include "comun/bitacora.h"
#include "comun/cripto.h"
#include "comun/proceso.h"
#include "cuenta/mandar_reportes.h"
#include "cuenta/mensajes.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <memory>

namespace tt {

namespace {
constexpr const char* kHostPorOmision = "control.tremolante.app";

std::optional<std::string> texto(const Json& j, const char* k) {
    auto i = j.find(k);
    if (i == j.end() || !i->is_string()) return std::nullopt;
    return i->get<std::string>();
}


// Invalid UTF-8 in a text (a screen's name, say) becomes U+FFFD instead of throwing.
std::string serializar(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }
}  // namespace

std::string Remoto::sitioPorOmision() { return entorno().texto(Tm::control).value_or(kHostPorOmision); }

Remoto::Remoto(std::filesystem::path archivo, std::string sitio, QObject* padre)
    : QObject(padre), archivo_(std::move(archivo)), sitio_(std::move(sitio)) {
    cuenta_ = leerCuenta(archivo_);
    sesion_ = new QNetworkAccessManager(this);
    latido_ = new QTimer(this);
    connect(latido_, &QTimer::timeout, this, [this] {
        if (conectado_ && tarea_) enviar(Json{{"t", "ping"}});
    });
    latido_->start(periodoPing);
    conectar();
}

Remoto::~Remoto() {
    // Children go after this body: nothing of theirs may call back into a half-gone object.
    for (auto* r : sesion_->findChildren<QNetworkReply*>()) r->disconnect(this);
    if (tarea_) {
        tarea_->disconnect(this);
        tarea_->abort();
    }
}

// ---- HTTP ----

void Remoto::pedir(const std::string& ruta, const Json& cuerpo, Completar completar) {
    const QUrl url(QString::fromStdString((sitioLocal(sitio_) ? "http://" : "https://") + sitio_ + ruta),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        completar(std::nullopt, "Dirección inválida.");
        return;
    }
    QNetworkRequest pedido(url);
    pedido.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    pedido.setTransferTimeout(20000);
    // The body carries the token: it never follows a redirect to wherever the answer points.
    pedido.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* r = sesion_->post(pedido, QByteArray::fromStdString(serializar(cuerpo)));
    // An answer larger than any the service sends is cut before it is held in memory.
    auto demasiado = std::make_shared<bool>(false);
    connect(r, &QNetworkReply::downloadProgress, this, [r, demasiado](qint64 recibido, qint64 total) {
        if (*demasiado || (recibido <= qint64(kTopeRespuesta) && total <= qint64(kTopeRespuesta))) return;
        *demasiado = true;
        r->abort();
    });
    connect(r, &QNetworkReply::finished, this, [r, demasiado, completar = std::move(completar)] {
        r->deleteLater();
        Respuesta a;
        if (*demasiado) a.error = kSinConexion;
        else {
            const QVariant estado = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const QByteArray cuerpo = r->read(qint64(kTopeRespuesta) + 1);
            a = leerRespuesta(estado.isValid() ? estado.toInt() : 0, std::string_view(cuerpo.constData(), std::size_t(cuerpo.size())));
        }
        completar(std::move(a.objeto), std::move(a.error));
    });
}

// Test mode: the service hands back the mailed code; it is kept for the sign-in window (never
// logged: it signs in). Any other answer leaves none.
void Remoto::anotarCodigo(const std::optional<Json>& r) {
    codigoDePrueba_.clear();
    if (auto c = r ? texto(*r, "codigo") : std::nullopt) codigoDePrueba_ = *c;
}

void Remoto::registrar(const std::string& correo, const std::string& clave, Hecho hecho) {
    pedir("/registro", Json{{"correo", correo}, {"clave", clave}}, [this, hecho = std::move(hecho)](auto r, auto e) {
        anotarCodigo(r);
        hecho(e);
    });
}

void Remoto::pedirCodigo(const std::string& correo, const std::string& modo, Hecho hecho) {
    pedir("/codigo", Json{{"correo", correo}, {"modo", modo}}, [this, hecho = std::move(hecho)](auto r, auto e) {
        anotarCodigo(r);
        hecho(e);
    });
}

void Remoto::dentro(const std::string& correo, std::optional<Json> r, std::optional<std::string> error, Hecho hecho) {
    if (r) {
        auto sala = texto(*r, "sala");
        auto ficha = texto(*r, "ficha");
        if (sala && ficha) {
            cuenta_ = Cuenta{texto(*r, "correo").value_or(correo), *sala, *ficha};
            guardar();
            reconectar();
            hecho(std::nullopt);
            return;
        }
    }
    hecho(error ? error : std::optional<std::string>("No se pudo entrar."));
}

void Remoto::verificar(const std::string& correo, const std::string& codigo, Hecho hecho) {
    QPointer<Remoto> yo = this;
    pedir("/verificar", Json{{"correo", correo}, {"codigo", codigo}, {"tipo", "mac"}},
          [yo, correo, hecho = std::move(hecho)](auto r, auto e) {
              if (yo) yo->dentro(correo, std::move(r), std::move(e), hecho);
          });
}

void Remoto::entrar(const std::string& correo, const std::string& codigo, Hecho hecho) {
    QPointer<Remoto> yo = this;
    pedir("/entrar", Json{{"correo", correo}, {"codigo", codigo}, {"tipo", "mac"}},
          [yo, correo, hecho = std::move(hecho)](auto r, auto e) {
              if (yo) yo->dentro(correo, std::move(r), std::move(e), hecho);
          });
}

void Remoto::entrarConClave(const std::string& correo, const std::string& clave, Hecho hecho) {
    QPointer<Remoto> yo = this;
    pedir("/clave", Json{{"correo", correo}, {"clave", clave}, {"tipo", "mac"}},
          [yo, correo, hecho = std::move(hecho)](auto r, auto e) {
              if (yo) yo->dentro(correo, std::move(r), std::move(e), hecho);
          });
}

void Remoto::restablecer(const std::string& correo, const std::string& codigo, const std::string& clave, Hecho hecho) {
    QPointer<Remoto> yo = this;
    pedir("/restablecer", Json{{"correo", correo}, {"codigo", codigo}, {"clave", clave}, {"tipo", "mac"}},
          [yo, correo, hecho = std::move(hecho)](auto r, auto e) {
              if (yo) yo->dentro(correo, std::move(r), std::move(e), hecho);
          });
}

void Remoto::pedirSaldo(std::function<void(std::optional<long long>, std::string)> hecho) {
    if (!cuenta_) {
        hecho(std::nullopt, "");
        return;
    }
    pedir("/saldo", Json{{"sala", cuenta_->sala}, {"ficha", cuenta_->ficha}, {"correo", cuenta_->correo}},
          [hecho = std::move(hecho)](auto r, auto) {
              std::optional<long long> segundos;
              std::string servidor;
              if (r) {
                  auto s = r->find("segundos");
                  if (s != r->end() && s->is_number_integer()) segundos = s->template get<long long>();
                  servidor = texto(*r, "servidor").value_or("");
              }
              hecho(segundos, servidor);
          });
}

void Remoto::pedirPase(const std::string& destino, const std::string& canal, bool seco,
                       std::function<void(std::optional<Pase>, std::optional<std::string>)> hecho) {
    if (!cuenta_) {
        hecho(std::nullopt, "Inicia sesión para transmitir.");
        return;
    }
    Json cuerpo{{"sala", cuenta_->sala},
                {"ficha", cuenta_->ficha},
                {"correo", cuenta_->correo},
                {"destino", destino},
                {"canal", canal},
                {"seco", seco}};
    pedir("/pase", cuerpo, [hecho = std::move(hecho)](auto r, auto e) {
        if (r) {
            auto entrada = texto(*r, "entrada"), sid = texto(*r, "sid"), llave = texto(*r, "llave"),
                 pase = texto(*r, "pase");
            if (entrada && sid && llave && pase) {
                Pase p{*entrada, *sid, *llave, *pase, 0};
                auto s = r->find("segundos");
                if (s != r->end() && s->is_number_integer()) p.segundos = int(std::clamp<long long>(s->template get<long long>(), INT32_MIN, INT32_MAX));
                hecho(p, std::nullopt);
                return;
            }
        }
        hecho(std::nullopt, e ? e : std::optional<std::string>("No se pudo pedir el permiso de transmisión."));
    });
}

void Remoto::cerrarSesion() {
    if (cuenta_) pedir("/salir", Json{{"sala", cuenta_->sala}, {"ficha", cuenta_->ficha}}, [](auto, auto) {});
    cuenta_.reset();
    guardar();
    reconectar();
}

void Remoto::guardar() { guardarCuenta(archivo_, cuenta_); }

// ---- The live channel ----

void Remoto::cambiar() {
    if (alCambiar) alCambiar();
}

void Remoto::conectar() {
    if (!cuenta_ || tarea_) return;
    const QUrl url(QString::fromStdString((sitioLocal(sitio_) ? "ws://" : "wss://") + sitio_ + "/ws?sala=" + cuenta_->sala),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return;
    QNetworkRequest pedido(url);
    pedido.setRawHeader("Authorization", QByteArray::fromStdString("Bearer " + cuenta_->ficha));
    auto* t = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    // Larger messages are refused by the socket itself (it closes), never held whole.
    t->setMaxAllowedIncomingMessageSize(kTopeRespuesta);
    t->setMaxAllowedIncomingFrameSize(kTopeRespuesta);
    tarea_ = t;
    connect(t, &QWebSocket::connected, this, [this, t] {
        if (t != tarea_) return;
        conectado_ = true;
        cambiar();
    });
    connect(t, &QWebSocket::textMessageReceived, this, [this, t](const QString& m) { recibir(t, m); });
    connect(t, &QWebSocket::disconnected, this, [this, t] { caer(t); });
    connect(t, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this, t](QAbstractSocket::SocketError) { caer(t); });
    // An opening that hangs counts as a drop.
    QTimer::singleShot(15000, t, [this, t] {
        if (t == tarea_ && !conectado_) caer(t);
    });
    t->open(pedido);
}

void Remoto::recibir(QWebSocket* t, const QString& texto) {
    if (t != tarea_) return;
    const QByteArray utf8 = texto.toUtf8();
    auto m = leerMensaje(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    if (!m) return;
    using T = Mensaje::Tipo;
    switch (m->tipo) {
        case T::celulares:
            celulares_ = m->conectados;
            vinculados_ = m->vinculados;
            cambiar();
            break;
        case T::hola:
            if (alPedirEstado) alPedirEstado();
            break;
        case T::saldo:
            if (alSaldo) alSaldo(m->segundos);
            break;
        case T::elegir:
            if (alElegir) alElegir(m->id);
            break;
        case T::camara:
            if (alCamara) alCamara(m->id);
            break;
        case T::destino:
            if (alDestino) alDestino(m->id, m->publicando);
            break;
        case T::transmitir:
        case T::detener:
            if (alOrden) alOrden(m->tipo == T::transmitir);
            break;
    }
}

void Remoto::caer(QWebSocket* t) {
    if (!t || t != tarea_) return;
    const bool rechazada = estadoDelRechazo(t->errorString().toStdString()) == 403;
    soltar(t);
    if (rechazada) {
        bitacora("control: el servicio rechazó la sesión; se cierra");
        cuenta_.reset();
        guardar();
        cambiar();
        if (alSalir) alSalir();
        return;
    }
    cambiar();
    QTimer::singleShot(esperaReconexion, this, [this] { conectar(); });
}

// The live socket goes without being heard from again.
void Remoto::soltar(QWebSocket* t) {
    tarea_ = nullptr;
    t->disconnect(this);
    t->abort();
    t->deleteLater();
    conectado_ = false;
    celulares_ = 0;
}

void Remoto::reconectar() {
    if (QWebSocket* t = tarea_) soltar(t);
    conectado_ = false;
    celulares_ = 0;
    vinculados_ = 0;
    cambiar();
    conectar();
}

void Remoto::enviar(const Json& mensaje) {
    if (!conectado_ || !tarea_) return;
    tarea_->sendTextMessage(QString::fromStdString(serializar(mensaje)));
}

std::string Remoto::enlaceNuevo() {
    const std::string ficha = azarHex(24);
    enviar(Json{{"t", "vincular"}, {"ficha", ficha}});
    return std::string(sitioLocal(sitio_) ? "http" : "https") + "://" + sitio_ + "/#v=" +
           (cuenta_ ? cuenta_->sala : std::string()) + "." + ficha;
}

void Remoto::desvincularTodos() { enviar(Json{{"t", "desvincular"}}); }

std::optional<std::string> Remoto::jpeg(const QImage& imagen, double calidad) {
    if (imagen.isNull()) return std::nullopt;
    QByteArray datos;
    QBuffer b(&datos);
    b.open(QIODevice::WriteOnly);
    if (!imagen.save(&b, "JPG", int(std::lround(std::clamp(calidad, 0.0, 1.0) * 100)))) return std::nullopt;
    return datos.toBase64().toStdString();
}

void Remoto::mandarReportes() {
    if (!cuenta_) return;
    QPointer<Remoto> yo = this;
    tt::mandarReportes(cuenta_->sala, cuenta_->ficha, cuenta_->correo,
                       [yo](const std::string& ruta, const nlohmann::json& cuerpo, auto hecho) {
                           if (!yo) return hecho(std::nullopt, std::string("sin cliente"));
                           yo->pedir(ruta, Json(cuerpo), [hecho](std::optional<Json> r, std::optional<std::string> e) {
                               hecho(r ? std::optional<nlohmann::json>(*r) : std::nullopt, std::move(e));
                           });
                       });
}

}  // namespace tt
