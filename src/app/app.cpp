#include "app/app.h"

#include "comun/config.h"
#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "ui/fuente.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QLabel>
#include <QMainWindow>
#include <QPalette>
#include <QStyleFactory>

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
      insignia(etiqueta("Sin transmitir", 12, Peso::bold)),
      camSel(new QComboBox()),
      micSel(new QComboBox()),
      monoCaja(new QCheckBox("Mezclar a mono")),
      boton(new QPushButton("Transmitir")),
      vacio(etiqueta("Cargando cámaras…", 15, Peso::medium, colorSecundario())),
      redesTxt(etiqueta("Revisando redes…", 13, Peso::medium, colorSecundario())),
      camaraTxt(etiqueta("", 12, Peso::medium, colorTerciario())),
      celularTxt(etiqueta("Conectando…", 12, Peso::medium, colorTerciario())),
      saldoTxt(etiqueta("", 12.5, Peso::semibold, colorSecundario())),
      pantallasTit(etiqueta("Pantallas", 12, Peso::semibold, colorSecundario())),
      aviso(etiqueta("", 13, Peso::medium, colorSecundario())),
      estadoTxt(etiqueta("", 12, Peso::semibold, colorSecundario())),
      redes(std::make_unique<Redes>()),
      canales(std::make_unique<Canales>()),
      remoto(std::make_unique<Remoto>()),
      almacen(std::make_unique<Almacen>()) {}

App::~App() {
    // Labels not yet placed in a window have no parent.
    for (QWidget* w : std::initializer_list<QWidget*>{insignia, vacio, redesTxt, camaraTxt, celularTxt, saldoTxt,
                                                      pantallasTit, aviso, estadoTxt, camSel, micSel, monoCaja, boton})
        if (w && !w->parent()) delete w;
}

bool App::tieneCuenta() const { return false; }

void App::cargarCanal(bool forzar) {
    auto elegido = canalElegido(*canales, preferidas);
    if (!hayQueCargar(elegido, canalCargado, uiLista, forzar)) return;
    almacen = abrirCanal(*canales, elegido, almacen.get(), canalCargado);
    ponerPantalla("camara");
}

void App::ponerPantalla(const std::string& id) {
    auto p = (*almacen)[id];
    if (!p) return;
    programa = id;
    motor->compositor.poner(*p, *almacen);
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
    armarMenu();
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
    crearVentana();
    if (principalLista) {
        ventana->setCentralWidget(contenido);
        cargarCanal(true);
    } else {
        cargarCanal(false);
        armarPrincipal();
    }
    ventana->show();
    ventana->raise();
    ventana->activateWindow();
    saldo.reset();
}

}  // namespace tt
