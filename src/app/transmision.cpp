// The stream button and the life of one transmission, as the window sees it.
#include "app/app.h"

#include "comun/cola.h"
#include "app/guion.h"
#include "app/inhibidor.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/tarjeta.h"

#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/cola.h"
#include "comun/config.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "sesion/pendiente.h"
#include "cuenta/remoto.h"
#include "cuenta/reportes.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/ventana_principal.h"
#include "protocolo/pase.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QBuffer>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <type_traits>

namespace tt {

namespace {
int ms(double segundos) { return int(std::lround(std::max(0.0, segundos) * 1000)); }

}  // namespace

void App::decir(const QString& texto, bool error) {
    aviso = {texto.toStdString(), error};
    ventana->decir(texto, error);
}

// The window's button (and a phone's order): the channel is checked here, the rest is the session's.
void App::pulsar() {
    Sesion::Pedido p;
    if (sesion->estado().fase == Sesion::Fase::quieta && !entorno().tiene(Tm::archivo)) {
        Config config = leerConfig();
        p.conPermiso = tt::conCuenta();
        if (p.conPermiso || (config.entrada && !config.entrada->empty())) {
            auto canal = canalElegido(*canales, preferidas);
            if (!canal) {
                decir("Agrega el canal de Kick para poder transmitir.");
                abrirCanales();
                return;
            }
            p.destino = canal->destino();
            if (!p.destino) {
                decir(QString::fromStdString("Al canal «" + canal->nombre + "» le falta la clave o tiene mal la URL."));
                abrirCanales();
                return;
            }
            p.canal = canal->nombre;
        }
    }
    hacer(sesion->pulsar(ahora(), p));
}

bool App::alAire() const { return sesion->estado().alAire; }

void App::calidadDePrueba(int kbps) {
    if (!motor->cambiarCalidad(kbps, kbps < motor->kbps())) return;
    escalera.anotarCambio(ahora());
    decir(QString("Prueba: calidad a %1 kbps.").arg(kbps));
}

// Carries out what the session ordered, in order, then paints what it now says.
void App::hacer(const Ordenes& ordenes) {
    QPointer<App> yo = this;
    for (const auto& o : ordenes) {
        if (!yo) return;
        std::visit([this](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, orden::PedirPase>) pedirPase(x);
            else if constexpr (std::is_same_v<T, orden::Empezar>) arrancar(x);
            else if constexpr (std::is_same_v<T, orden::Detener>) {
                motor->detener();
                revisarDispositivos();
            }
            else if constexpr (std::is_same_v<T, orden::Detenida>) alDetener();
            // The record's writes wait for the disk: on their own queue, in order.
            else if constexpr (std::is_same_v<T, orden::Guardar>) registro->asincrono([s = x.s] { pendiente::guardar(s); });
            else if constexpr (std::is_same_v<T, orden::Borrar>) registro->asincrono([sid = x.sid] { pendiente::borrar(sid); });
            else if constexpr (std::is_same_v<T, orden::MarcarDetenida>)
                registro->asincrono([sid = x.sid] { pendiente::marcarDetenida(sid); });
            else if constexpr (std::is_same_v<T, orden::Tocar>) registro->asincrono([] { pendiente::tocar(); });
            else if constexpr (std::is_same_v<T, orden::Hablar>) hablar(x);
            else if constexpr (std::is_same_v<T, orden::PreguntarAbierta>) preguntarAbierta(x);
            else if constexpr (std::is_same_v<T, orden::PreguntarCierre>) preguntarCierre();
            else if constexpr (std::is_same_v<T, orden::Avisar>) decir(QString::fromStdString(x.texto), x.error);
            else if constexpr (std::is_same_v<T, orden::Anotar>) bitacora(x.linea);
            else if constexpr (std::is_same_v<T, orden::PedirSaldo>) pedirSaldo();
            else if constexpr (std::is_same_v<T, orden::MedirRedes>) {
                if (!motor->estaVivo()) redes->medir();
            } else if constexpr (std::is_same_v<T, orden::Salir>) {
                QApplication::closeAllWindows();
                QCoreApplication::exit(0);
            }
        }, o);
    }
    if (!yo) return;
    pintarSesion();
    if (auto d = sesion->despertar()) despertador.start(ms(*d - ahora()));
    else despertador.stop();
}

void App::pedirPase(const orden::PedirPase& o) {
    QPointer<App> yo = this;
    remoto->pedirPase(o.destino, o.canal, entorno().tiene(Tm::seco),
                      [yo](std::optional<Pase> pase, std::optional<std::string> error) {
                          if (yo) yo->hacer(yo->sesion->alPase(ahora(), std::move(pase), std::move(error)));
                      });
}

// The button, the badge, the cards and the balance follow the session; the phones get a full
// snapshot when what they show of it changed.
void App::pintarSesion() {
    const auto e = sesion->estado();
    inhibidor->sostener(e.alAire);
    if (ventana) {
        ventana->habilitarBoton(e.listo && e.fase != Sesion::Fase::pidiendo);
        pintarEstados();
        pintarSaldo();
    }
    if (e.fase != pintado.fase || e.sinDestino != pintado.sinDestino || e.sid != pintado.sid) remotoSucio = true;
    pintado = e;
}

// The screen kept for a loss of internet, drawn without the camera: what the relay shows while
// the computer is offline. Nothing without such a screen or when it does not render.
std::optional<std::string> App::fotoRespaldo() {
    nombreRespaldo.reset();
    auto p = almacen->deRespaldo();
    if (!p) return std::nullopt;
    auto imagen = Compositor::retrato(*p, *almacen, 1280);
    if (!imagen) return std::nullopt;
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::WriteOnly);
    if (!imagen->save(&b, "JPG", 90) || bytes.isEmpty()) return std::nullopt;
    nombreRespaldo = p->nombre;
    return bytes.toStdString();
}

// The session's start: the engine, the quality ladder and the status display.
void App::arrancar(const orden::Empezar& o) {
    if (o.retomada) {
        // The screen that was on air, when it still exists.
        const std::string alAire = preferidas.value("alAire").toString().toStdString();
        if (auto barra = alAire.find('|'); barra != std::string::npos && o.pase && alAire.substr(0, barra) == o.pase->sid) {
            const std::string id = alAire.substr(barra + 1);
            if (id != programa && (*almacen)[id]) ponerPantalla(id);
        }
        std::string linea = "se retoma la transmisión abierta";
        if (programa != "camara") {
            auto p = (*almacen)[programa];
            linea += " en «" + (p ? p->nombre : programa) + "»";
        }
        bitacora(linea);
    }
    const bool enSeco = entorno().tiene(Tm::archivo);
    motor->compositor.reiniciar();
    motor->transmitir(ventana->mono(), enSeco, o.destino, fotoRespaldo(), o.pase);
    const double t = ahora();
    tablero.empezar(sesion->estado().inicio);
    escalera.empezar(leerConfig().kbps, t);
    ventana->ponerBoton(true);
    ventana->habilitarDispositivos(false);
    anotarAlAire();
    saludTic = 0;
    guion->alEmpezar();
}

// The transmission's sid and the screen on air, so a resume after a crash shows the same screen.
void App::anotarAlAire() {
    if (auto sid = sesion->estado().sid) preferidas.setValue("alAire", QString::fromStdString(*sid + "|" + programa));
}

// The window back to idle once the transmission is over.
void App::alDetener() {
    ventana->ponerBoton(false);
    ventana->habilitarDispositivos(true);
    ventana->ponerInsignia("Sin transmitir", false);
    // The audio-only picture gives way to the screen the user chose.
    if (soloAudio())
        if (auto p = (*almacen)[programa]) motor->compositor.ponerEnFondo(*p, *almacen);
    escalera.terminar();
    listar(false);
    if (elegidos() != abiertos) abrirElegidos();
    borrarCifras();
    pintarEstado();
    pintarRedes();
    actualizadorAlDetener();
    guion->alDetener();
}

// The health report through the control channel: every 5 s on air, every 30 s otherwise.
void App::latidoSalud() {
    ++saludTic;
    const bool vivo = motor->estaVivo();
    if (!remoto->conectado() || saludTic % (vivo ? 5 : 30) != 1) return;
    const auto& e = entorno();
    const auto f = motor->figuras();
    std::string version = versionApp(), build = "?";
    if (auto p = version.find(" ("); p != std::string::npos) {
        build = version.substr(p + 2);
        if (!build.empty() && build.back() == ')') build.pop_back();
        version = version.substr(0, p);
    }
    std::string camara;
    const auto elegida = ventana->elegido(VentanaPrincipal::Menu::camara);
    for (const auto& [titulo, id] : ventana->items(VentanaPrincipal::Menu::camara))
        if (elegida && id.toStdString() == *elegida) camara = titulo.toStdString();
    std::string pantalla = "Cámara";
    if (programa != "camara") {
        auto p = (*almacen)[programa];
        pantalla = p ? p->nombre : programa;
    }
    auto canal = canalElegido(*canales, preferidas);
    Json j{{"t", "salud"},
           {"version", version.empty() ? "?" : version},
           {"build", build.empty() ? "?" : build},
           {"sistema", QSysInfo::prettyProductName().toStdString()},
           {"memoria", memoriaMB()},
           {"vivo", vivo},
           {"seco", e.tiene(Tm::archivo) || e.tiene(Tm::seco)},
           {"canal", canal ? canal->nombre : std::string()},
           {"pantalla", pantalla},
           {"camara", camara},
           {"formato", motor->formatoTexto()},
           {"aviso", aviso.texto},
           {"error", aviso.error},
           {"redes", lineaRedes},
           {"sinRed", vivo && motor->cortado()},
           {"sinDestino", vivo && sesion->estado().sinDestino},
           {"sinImagen", (long long)motor->sinImagen()}};
    if (auto saldo = sesion->estado().saldo) j["saldo"] = *saldo;
    if (vivo) {
        j["alAire"] = (long long)std::max(0.0, ahora() - sesion->estado().inicio);
        j["mbps"] = cifras.sale;
        j["cps"] = cifras.cps;
        j["ritmo"] = cifras.ritmo;
        j["saltados"] = f.saltados;
        j["kbps"] = f.kbpsEnUso;
        j["kbpsNormal"] = escalera.escalones().empty() ? f.kbpsEnUso : escalera.escalones().front();
        j["cambios"] = f.cambiosCalidad;
        j["soloAudio"] = soloAudio();
        j["enlaces"] = motor->enlaces();
    }
    remoto->enviar(j);
}

// Resident memory in MiB from /proc; 0 when it cannot be read.
int App::memoriaMB() {
    long paginas = 0, residentes = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    const bool leido = std::fscanf(f, "%ld %ld", &paginas, &residentes) == 2;
    std::fclose(f);
    if (!leido) return 0;
    return int((static_cast<long long>(residentes) * sysconf(_SC_PAGESIZE)) >> 20);
}

}  // namespace tt
