#include "app/app.h"

#include "comun/config.h"
#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "ui/ventana_principal.h"
#include "ui/vista_previa.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QPalette>
#include <QPointer>
#include <QStyleFactory>
#include <QTimer>

#include <cmath>
#include <cstdlib>

namespace tt {

namespace {
void aparienciaOscura() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    const QColor fondo(11, 11, 12), base(28, 28, 30), texto(255, 255, 255);
    p.setColor(QPalette::Window, fondo);
    p.setColor(QPalette::WindowText, texto);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(38, 38, 40));
    p.setColor(QPalette::Text, texto);
    p.setColor(QPalette::Button, QColor(44, 44, 46));
    p.setColor(QPalette::ButtonText, texto);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, texto);
    p.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 71));
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, texto);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(255, 255, 255, 64));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 64));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 255, 255, 64));
    QApplication::setPalette(p);
}
}  // namespace

App::App()
    : motor(std::make_unique<Motor>()),
      redes(std::make_unique<Redes>()),
      canales(std::make_unique<Canales>()),
      almacen(std::make_unique<Almacen>()) {}

App::~App() = default;

bool App::tieneCuenta() const { return false; }

void App::cargarCanal(bool forzar) {
    auto elegido = canalElegido(*canales, preferidas);
    if (!hayQueCargar(elegido, canalCargado, uiLista, forzar)) return;
    almacen = abrirCanal(*canales, elegido, almacen.get(), canalCargado);
    if (uiLista) ventana->ponerMono(mezclarMono(preferidas, elegido));
    ponerPantalla("camara");
}

void App::ponerPantalla(const std::string& id) {
    auto p = (*almacen)[id];
    if (!p) return;
    programa = id;
    // On the audio-only rung the picture stays: the screen goes on air when the signal allows.
    if (motor->estaVivo() && soloAudio())
        decir(QString::fromStdString("Con esta señal solo sale el audio; «" + p->nombre + "» sale en cuanto mejore."));
    else motor->compositor.poner(*p, *almacen);
    if (uiLista) pintarEstados();
}

void App::lanzado() {
    aparienciaOscura();
    Config c = leerConfig();  // made here on a new machine, so a developer finds it to edit
    bitacora("config: " + std::to_string(c.kbps) + " kbps, preset " + std::to_string(c.preset) +
             (c.entrada ? ", con entrada propia" : ""));
    if (auto carpeta = entorno().texto(Tm::retratos)) {
        cargarCanal(false);
        int n = escribirRetratos(*almacen, *carpeta);
        bitacora("retratos: " + std::to_string(n) + " pantallas");
        std::exit(0);
    }
    const auto& e = entorno();
    if (tieneCuenta() || (e.tiene(Tm::datos) && !e.tiene(Tm::bienvenida))) abrirPrincipal();
    else abrirBienvenida();
}

void App::abrirBienvenida() {
    // Signing in needs the control service; until it can, the main window opens offline.
    bitacora("inicio: sin cuenta, se abre la ventana principal");
    abrirPrincipal();
}

void App::abrirPrincipal() {
    canales = std::make_unique<Canales>();  // the account folder may have changed
    canalCargado.reset();
    if (ventana) {
        cargarCanal(true);
    } else {
        cargarCanal(false);
        ventana = std::make_unique<VentanaPrincipal>();
        armarPrincipal();
    }
    ventana->show();
    ventana->raise();
    ventana->activateWindow();
}

// The window's signals, the engine's and the compositor's callbacks, the device and network
// watches, then the devices themselves.
void App::armarPrincipal() {
    QPointer<App> yo = this;
    connect(ventana.get(), &VentanaPrincipal::pulsado, this, &App::pulsar);
    connect(ventana.get(), &VentanaPrincipal::dispositivoElegido, this, &App::cambioDispositivo);
    connect(ventana.get(), &VentanaPrincipal::monoCambiado, this, &App::cambioMono);
    connect(ventana.get(), &VentanaPrincipal::salirPedido, this, [] {
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    uiLista = true;
    ventana->ponerMono(mezclarMono(preferidas, canalElegido(*canales, preferidas)));
    motor->alCamara = ventana->previa()->receptorCamara();
    motor->alComponer = ventana->previa()->receptorPrograma();
    // A background video that ends by handing over to the camera (already on the main thread).
    motor->compositor.alTerminarVideo = [yo] {
        if (yo) yo->ponerPantalla("camara");
    };
    motor->alFallar = [yo](const std::string& texto) {
        if (!yo) return;
        bitacora("aviso: " + texto);
        yo->alDetener(yo->motor->figuras().cortoElServidor);
        yo->decir(QString::fromStdString(texto), true);
    };
    motor->vigilarDispositivos([yo] {
        if (!yo || yo->motor->estaVivo()) return;
        yo->listar(false);
        if (yo->elegidos() != yo->abiertos) yo->abrirElegidos();
    });
    armarEstado();
    pedirPermisos();
    if (auto n = entorno().numero(Tm::salir); n && *n >= 0) {
        QTimer::singleShot(int(std::lround(*n * 1000)), qApp, [] {
            bitacora("inicio: TM_SALIR, fin de la aplicación");
            QApplication::quit();
        });
    }
}

}  // namespace tt
