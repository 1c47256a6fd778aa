#include "app/app.h"
#include "app/guion.h"
#include "app/inhibidor.h"

#include "comun/config.h"
#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "principal/principal.h"
#include "sesion/pendiente.h"
#include "uplink/charlas.h"
#include "cuenta/remoto.h"
#include "cuenta/reportes.h"
#include "engine/motor.h"
#include "comun/cola.h"
#include "pantallas/almacen.h"
#include "ui/fotos.h"
#include "pantallas/compositor.h"
#include "ui/bienvenida.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/hoja_celular.h"
#include "ui/tarjeta.h"
#include "ui/lista.h"
#include "ui/pregunta.h"
#include "ui/ventana_principal.h"
#include "ui/vista_previa.h"
#include "update/actualizador.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tt {

namespace {
constexpr int anchoFoto = 320;  // pixels of a card's thumbnail
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

App::App()
    : motor(std::make_unique<Motor>()),
      redes(std::make_unique<Redes>(enPrincipal)),
      canales(std::make_unique<Canales>()),
      almacen(std::make_unique<Almacen>()),
      fotos(std::make_unique<Fotos>(anchoFoto)),
      remoto(std::make_unique<Remoto>(carpetaDatos() / "remoto.json")),
      charlas(std::make_unique<Charlas>()) {
    const auto& e = entorno();
    sesion = std::make_unique<Sesion>(Sesion::Opciones{e.tiene(Tm::archivo), e.tiene(Tm::seco)}, pendiente::leer(),
                                      pendiente::silencioDe(), ahora(), pendiente::ahoraPared());
    registro = std::make_unique<Cola>("tm.registro");
    inhibidor = std::make_unique<Inhibidor>();
    guion = new Guion(*this);
    despertador.setSingleShot(true);
    connect(&despertador, &QTimer::timeout, this, [this] { hacer(sesion->tic(ahora())); });
}

App::~App() { delete bienvenida; }

Compositor& App::compositor() { return motor->compositor; }
HojaCanales* App::hojaCanales() const { return hoja; }
Bienvenida* App::bienvenidaAbierta() const { return bienvenida; }
HojaCelular* App::hojaDelCelular() const { return hojaCelular; }
Editor* App::editorAbierto() const { return editor; }

void App::traerAlFrente() {
    QWidget* w = bienvenida ? static_cast<QWidget*>(bienvenida) : ventana.get();
    if (!w) return;
    w->showNormal();
    w->raise();
    w->activateWindow();
}

bool App::tieneCuenta() const { return remoto->cuenta().has_value(); }

void App::cargarCanal(bool forzar) {
    auto elegido = canalElegido(*canales, preferidas);
    if (!hayQueCargar(elegido, canalCargado, ventana != nullptr, forzar)) return;
    cerrarEditor();
    almacen = abrirCanal(*canales, elegido, almacen.get(), canalCargado);
    fotos->olvidar();
    programa = "camara";
    if (ventana) {
        ventana->ponerMono(mezclarMono(preferidas, elegido));
        pintarTira();
    }
    ponerPantalla("camara");
}

void App::lanzado() {
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
    else mostrarBienvenida();
}

void App::abrirPrincipal() {
    if (conCuenta()) usarCarpeta(remoto->cuenta()->sala);  // each account keeps its own channels
    ponerCuenta();
    canales = std::make_unique<Canales>();  // the account folder may have changed
    canalCargado.reset();
    if (ventana) {
        pintarCanales();
        cargarCanal(true);
        pintarCelular();
    } else {
        cargarCanal(false);
        ventana = std::make_unique<VentanaPrincipal>();
        armarPrincipal();
    }
    ventana->show();
    ventana->raise();
    ventana->activateWindow();
    // Closed once the main window shows: closing the last window would end the application.
    if (bienvenida) {
        bienvenida->close();    // deleted later, on close
        bienvenida = nullptr;  // a sign-out before then makes a new one
    }
    remoto->mandarReportes();
    empezarActualizador();
    // A signed-in user's first run: the channel sheet asks for the Kick channel to stream to.
    if (conCuenta() && canales->lista.empty()) {
        QTimer::singleShot(1200, this, [this] {
            if (ventana->isVisible() && conCuenta() && canales->lista.empty()) abrirCanales();
        });
    }
}

// The window's actions, the channel menu and the network watch; the channel; the engine's and
// the compositor's callbacks; the phone line; then the failure callback, the device watch, the
// devices themselves and the test switch that quits.
void App::armarPrincipal() {
    QPointer<App> yo = this;
    connect(ventana.get(), &VentanaPrincipal::pulsado, this, &App::pulsar);
    connect(ventana.get(), &VentanaPrincipal::dispositivoElegido, this, &App::cambioDispositivo);
    connect(ventana.get(), &VentanaPrincipal::canalElegido, this, &App::cambioCanal);
    connect(ventana.get(), &VentanaPrincipal::monoCambiado, this, &App::cambioMono);
    connect(ventana.get(), &VentanaPrincipal::celularPedido, this, &App::abrirCelular);
    connect(ventana.get(), &VentanaPrincipal::salirPedido, this, [this] { pedirSalida(true); });
    connect(ventana.get(), &VentanaPrincipal::acercaPedido, this, [this] {
        avisar(ventana.get(), "Tremolante Transmitir", q("Versión " + versionApp()));
    });
    connect(ventana.get(), &VentanaPrincipal::cerrarSesionPedido, this, [this] {
        if (!conCuenta()) return;
        QPointer<App> yo = this;
        preguntar(ventana.get(),
                  {q("¿Cerrar la sesión de " + remoto->cuenta()->correo + "?"),
                   QString::fromUtf8("Tus canales y pantallas quedan guardados en esta computadora."),
                   {"Cancelar", QString::fromUtf8("Cerrar sesión")}, 0, std::nullopt, 0},
                  [yo](std::optional<int> r) {
                      if (yo && r == 1) yo->cerrarSesion();
                  });
    });
    pintarCanales();
    cargarCanal(true);

    motor->alCamara = ventana->previa()->receptorCamara();
    motor->alComponer = ventana->previa()->receptorPrograma();
    // How long the start took, up to the first picture in the preview (bench/arranque reads it).
    ventana->previa()->alPintar = [primera = true]() mutable {
        if (!primera) return;
        primera = false;
        timespec cpu{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
        char linea[160];
        std::snprintf(linea, sizeof linea,
                      "inicio: primera imagen en la vista previa a los %.3f s (reloj %.6f, cpu %.3f s)",
                      ahora() - proceso().arranqueApp, ahora(), double(cpu.tv_sec) + cpu.tv_nsec / 1e9);
        bitacora(linea);
    };
    // A background video that ends by handing over to the camera (already on the main thread).
    motor->compositor.alTerminarVideo = [yo] {
        if (yo) yo->ponerPantalla("camara");
    };
    armarRemoto();
    motor->alFallar = [yo](const std::string& texto) {
        if (yo) yo->hacer(yo->sesion->alCortar(ahora(), yo->motor->figuras().cortoElServidor, texto));
    };
    motor->alNoRelevar = [yo](int kbps) {
        if (!yo) return;
        if (auto desde = yo->escalera.volverA(kbps)) yo->alCambiarEscalon(*desde);
    };
    motor->alMicrofono = [yo](bool callado) {
        if (yo) yo->microfonoCallado(callado);
    };
    motor->vigilarDispositivos([yo] {
        if (yo) yo->revisarDispositivos();
    });
    armarEstado();
    armarTira();
    pedirPermisos();
    armarPendiente();
    guion->alAbrir();
}

// The channel menu: the channels by name, then "Editar canales…"; the title over the strip
// names the chosen one.
void App::pintarCanales() {
    const MenuCanales m = menuCanales(*canales, canalElegido(*canales, preferidas));
    std::vector<Lista::Item> items;
    for (const auto& i : m.items)
        items.push_back({QString::fromStdString(i.titulo), QString::fromStdString(i.marca), i.separador});
    ventana->llenarCanales(items, m.elegido);
    ventana->ponerTituloPantallas(QString::fromStdString(m.tituloPantallas));
}

void App::cambioCanal(const QString& id) {
    if (id == "+") {
        pintarCanales();  // the chosen channel stays selected
        abrirCanales();
        return;
    }
    preferidas.setValue("canal", id);
    pintarCanales();
    cargarCanal(false);
}

// The sheet over the main window; what it chose is loaded when it closes, whatever it did.
void App::abrirCanales() {
    if (hoja || !ventana) return;
    auto elegido = canalElegido(*canales, preferidas);
    hoja = new HojaCanales(*canales, elegido ? std::optional(elegido->id) : std::nullopt, ventana.get());
    QPointer<App> yo = this;
    hoja->alCerrar = [yo](std::optional<std::string> id) {
        if (!yo) return;
        yo->hoja = nullptr;  // it is deleted later; the next request opens a new one
        if (id) yo->preferidas.setValue("canal", QString::fromStdString(*id));
        yo->pintarCanales();
        yo->cargarCanal(false);
    };
    hoja->open();
}

}  // namespace tt
