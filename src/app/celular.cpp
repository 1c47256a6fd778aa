// The account and the phones as the window sees them: the balance line, the phone block, the
// snapshots and pictures the phones get, and what the application does for each phone order.
#include "app/app.h"
#include "app/guion.h"

#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "cuenta/mensajes.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/fotos.h"
#include "pantallas/compositor.h"
#include "ui/hoja_canales.h"
#include "ui/hoja_celular.h"
#include "ui/ventana_principal.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTimer>

namespace tt {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }
}  // namespace

bool App::conCuenta() const { return remoto->cuenta().has_value() && tt::conCuenta(); }

// The callbacks of the live channel, the balance's triggers and the phones' pulse. Each callback
// holds the application weakly.
void App::armarRemoto() {
    QPointer<App> yo = this;
    remoto->alElegir = [yo](const std::string& id) {
        if (yo) yo->alElegir(id);
    };
    remoto->alPedirEstado = [yo] {
        if (yo) yo->mandarAlCelular(true);
    };
    remoto->alOrden = [yo](bool transmitir) {
        if (yo) yo->alOrden(transmitir);
    };
    remoto->alCamara = [yo](const std::string& id) {
        if (yo) yo->alCamara(id);
    };
    remoto->alCambiar = [yo] {
        if (yo) yo->alCambiar();
    };
    remoto->alSaldo = [yo](long long segundos) {
        if (yo) yo->alSaldo(segundos);
    };
    remoto->alSalir = [yo] {
        if (yo) yo->cerrarSesion();
    };
    remoto->alDestino = [yo](const std::string& sid, bool publicando) {
        if (yo) yo->alDestino(sid, publicando);
    };
    pintarCelular();
    pedirSaldo();
    auto* saldoCada = new QTimer(this);
    connect(saldoCada, &QTimer::timeout, this, &App::pedirSaldo);
    saldoCada->start(60000);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState e) {
        if (e == Qt::ApplicationActive) pedirSaldo();
    });
    auto* pulso = new QTimer(this);
    connect(pulso, &QTimer::timeout, this, &App::latidoRemoto);
    pulso->start(1000);
}

void App::pedirSaldo() {
    if (!conCuenta() || motor->estaVivo()) return;
    QPointer<App> yo = this;
    remoto->pedirSaldo([yo](std::optional<long long> segundos, std::string) {
        if (yo) yo->hacer(yo->sesion->alSaldoLeido(ahora(), segundos));
    });
}

std::optional<long long> App::saldoRestante() const { return sesion->saldoRestante(ahora()); }

void App::pintarSaldo() {
    if (!ventana) return;
    if (!conCuenta()) {
        ventana->ponerSaldo({}, VentanaPrincipal::Tono::secundario);
        return;
    }
    const auto e = sesion->estado();
    const auto t = textoSaldo(saldoRestante(), e.conPase, e.avisoSaldo);
    using C = TextoSaldo::Color;
    using Tono = VentanaPrincipal::Tono;
    ventana->ponerSaldo(q(t.texto), t.color == C::rojo ? Tono::rojo : t.color == C::naranja ? Tono::naranja : Tono::secundario);
}

void App::cerrarSesion() {
    if (motor->estaVivo()) {
        decir(QString::fromUtf8("Detén la transmisión antes de cerrar sesión."), true);
        return;
    }
    cerrarEditor();
    if (hojaCelular) hojaCelular->reject();
    if (hoja) hoja->reject();
    remoto->cerrarSesion();
    ponerCuenta();
    pintarSaldo();
    const auto& e = entorno();
    if (!e.tiene(Tm::datos) || e.tiene(Tm::bienvenida)) mostrarBienvenida();
    else pintarCelular();
}

void App::pintarCelular() {
    if (!ventana) return;
    std::optional<std::string> correo;
    if (remoto->cuenta()) correo = remoto->cuenta()->correo;
    const auto t = textoCelular(correo, remoto->conectado(), remoto->vinculados(), remoto->celulares());
    ventana->ponerCelular(q(t.texto), q(t.boton));
    ventana->ponerSesion(correo.has_value());
    if (hojaCelular) hojaCelular->pintar(q(textoCuentaCelulares(remoto->vinculados(), remoto->celulares())),
                                         remoto->vinculados() > 0);
    else if (remoto->conectado()) guion->alConectar();
}

// The sheet over the main window: signed in, the QR code of the phone page with the account's
// address; signed out, a sign-in by mailed code, after which it opens again signed in.
void App::abrirCelular() {
    if (hojaCelular || !ventana) return;
    std::optional<std::string> correo;
    QImage qr;
    if (remoto->cuenta()) {
        correo = remoto->cuenta()->correo;
        qr = Remoto::codigoQR(enlaceCelular(remoto->sitio(), *correo), 232).value_or(QImage());
    }
    hojaCelular = new HojaCelular(correo, remoto->sitio(), qr, ventana.get());
    QPointer<App> yo = this;
    hojaCelular->alPedirCodigo = [yo](const std::string& c, HojaCelular::Hecho hecho) {
        if (yo) yo->remoto->pedirCodigo(c, "entrar", std::move(hecho));
    };
    hojaCelular->alEntrar = [yo](const std::string& c, const std::string& codigo, HojaCelular::Hecho hecho) {
        if (yo) yo->remoto->entrar(c, codigo, std::move(hecho));
    };
    hojaCelular->alDesvincular = [yo] {
        if (yo) yo->remoto->desvincularTodos();
    };
    hojaCelular->alSalir = [yo] {
        if (yo) yo->cerrarSesion();
    };
    hojaCelular->alCerrar = [yo](bool reabrir) {
        if (!yo) return;
        yo->hojaCelular = nullptr;  // it is deleted later; the next request opens a new one
        yo->pintarCelular();
        if (reabrir) yo->abrirCelular();
    };
    pintarCelular();
    hojaCelular->open();
}

void App::mandarAlCelular(bool todo) {
    if (!ventana || !remoto->conectado()) return;
    if (remoto->celulares() < 1 && !todo) return;
    const auto& en = entorno();
    EstadoCelular e;
    e.programa = programa;
    e.vivo = motor->estaVivo();
    e.seco = en.tiene(Tm::archivo) || en.tiene(Tm::seco);
    e.aviso = aviso.texto;
    e.avisoEsProblema = aviso.error;
    e.sinRed = motor->cortado();
    e.sinDestino = sesion->estado().sinDestino;
    e.botonHabilitado = sesion->estado().listo;
    e.pidiendoPase = sesion->estado().fase == Sesion::Fase::pidiendo;
    e.redes = lineaRedes;
    if (conCuenta()) e.saldo = saldoRestante();
    if (e.vivo) {
        e.calidad = calidadTexto();
        e.tiempo = cifras.tiempo;
        e.sale = cifras.sale;
        e.cps = cifras.cps;
        e.saltados = cifras.saltados;
    }
    if (todo) {
        remotoSucio = false;
        if (auto c = canalElegido(*canales, preferidas)) e.canal = c->nombre;
        for (auto& [nombre, id] : ventana->items(VentanaPrincipal::Menu::camara)) e.camaras.emplace_back(s(id), s(nombre));
        e.camara = ventana->elegido(VentanaPrincipal::Menu::camara).value_or("");
        // The cards' thumbnails: nothing is drawn here.
        for (const auto& p : almacen->pantallas()) {
            std::string foto;
            if (auto r = fotos->ultima(p.id)) foto = Remoto::jpeg(*r, 0.6).value_or("");
            e.pantallas.push_back({p.id, p.nombre, p.sinInternet, foto});
        }
    }
    remoto->enviar(instantanea(e, todo));
}

void App::latidoRemoto() {
    if (remoto->celulares() < 1) return;
    ++remotoTic;
    mandarAlCelular(remotoSucio || remotoTic % 10 == 0);
    if (remotoTic % 2 != 0) return;
    if (auto cuadro = motor->compositor.ultimaSalida())
        if (auto jpg = Remoto::jpeg(Compositor::foto(*cuadro, 560), 0.55))
            remoto->enviar(Json{{"t", "vista"}, {"jpg", *jpg}});
}

void App::alElegir(const std::string& id) {
    ponerPantalla(id);
    mandarAlCelular(false);
}

void App::alOrden(bool transmitir) {
    if (transmitir != motor->estaVivo()) {
        if (!transmitir || sesion->estado().listo) pulsar();
    }
    mandarAlCelular(false);
}

void App::alCamara(const std::string& id) {
    if (motor->estaVivo()) {
        decir(QString::fromUtf8("La cámara solo se cambia sin transmitir."), true);
    } else if (ventana->elegir(VentanaPrincipal::Menu::camara, q(id))) {
        cambioDispositivo();
    }
    remotoSucio = true;
}

void App::alCambiar() {
    ponerCuenta();
    pintarCelular();
    if (conCuenta() && !motor->estaVivo()) pedirSaldo();
}

void App::alSaldo(long long segundos) { hacer(sesion->alSaldo(ahora(), segundos)); }

void App::alDestino(const std::string& sid, bool publicando) {
    hacer(sesion->alDestino(ahora(), sid, publicando));
    mandarAlCelular(false);
}

// The session checks with the relay and counts the balance only for a signed-in account.
void App::ponerCuenta() {
    sesion->ponerCuenta(conCuenta() ? std::optional(remoto->cuenta()->sala) : std::nullopt);
}

}  // namespace tt
