// The stream button and the life of one transmission, as the window sees it.
#include "app/app.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/tarjeta.h"

#include "channels/canales.h"
#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/config.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "cuenta/pendiente.h"
#include "cuenta/remoto.h"
#include "cuenta/reportes.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/ventana_principal.h"
#include "uplink/pase.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QBuffer>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <sstream>

namespace tt {

namespace {
int ms(double segundos) { return int(std::lround(std::max(0.0, segundos) * 1000)); }

// A test switch's items "seconds:value,…"; items without a number of seconds are skipped.
std::vector<std::pair<double, std::string>> itemsDePrueba(const std::optional<std::string>& texto) {
    std::vector<std::pair<double, std::string>> items;
    std::stringstream partes(texto.value_or(""));
    std::string item;
    while (std::getline(partes, item, ',')) {
        auto dos = item.find(':');
        auto t = dos == std::string::npos ? std::nullopt : leerNumero(item.substr(0, dos));
        if (t) items.emplace_back(*t, item.substr(dos + 1));
    }
    return items;
}

}  // namespace

void App::decir(const QString& texto, bool error) {
    aviso = {texto.toStdString(), error};
    ventana->decir(texto, error);
}

void App::pulsar() {
    if (motor->estaVivo()) {
        motor->detener();
        alDetener(false);
        decir("Transmisión detenida.");
        return;
    }
    if (pidiendoPase || revisando) return;
    // A recent record of a transmission not stopped: the relay may still hold it open.
    if (!pendienteRevisada && conCuenta() &&
        revisarAntesDeEmpezar(pendiente::leer(), pendiente::silencioDe())) {
        decir("Revisando una transmisión anterior…");
        QPointer<App> yo = this;
        revisarPendiente(0, [yo] {
            if (!yo) return;
            yo->pendienteRevisada = true;
            yo->pulsar();
            yo->pendienteRevisada = false;
        });
        return;
    }

    std::optional<std::string> destino;
    std::string nombreCanal;
    const bool enSeco = entorno().tiene(Tm::archivo);
    if (!enSeco) {
        Config config = leerConfig();
        if (tt::conCuenta() || (config.entrada && !config.entrada->empty())) {
            auto canal = canalElegido(*canales, preferidas);
            if (!canal) {
                decir("Agrega el canal de Kick para poder transmitir.");
                abrirCanales();
                return;
            }
            destino = canal->destino();
            if (!destino) {
                decir(QString::fromStdString("Al canal «" + canal->nombre + "» le falta la clave o tiene mal la URL."));
                abrirCanales();
                return;
            }
            nombreCanal = canal->nombre;
        }
    }
    auto respaldo = fotoRespaldo();
    if (enSeco || !tt::conCuenta() || !destino) {
        empezar(enSeco, destino, std::move(respaldo), std::nullopt);
        return;
    }
    pidiendoPase = true;
    ventana->habilitarBoton(false);
    decir("Conectando con el servidor…");
    remotoSucio = true;
    QPointer<App> yo = this;
    remoto->pedirPase(*destino, nombreCanal, entorno().tiene(Tm::seco),
                      [yo, destino, respaldo](std::optional<Pase> pase, std::optional<std::string> error) {
                          if (!yo) return;
                          yo->pidiendoPase = false;
                          yo->ventana->habilitarBoton(true);
                          yo->remotoSucio = true;
                          if (yo->motor->estaVivo()) return;  // resumed meanwhile
                          if (pase) {
                              yo->saldoAlEmpezar = pase->segundos;
                              yo->empezar(false, destino, respaldo, pase);
                              return;
                          }
                          yo->decir(QString::fromStdString(error.value_or("No se pudo conectar con el servidor.")), true);
                          yo->pedirSaldo();
                      });
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

void App::empezar(bool enSeco, std::optional<std::string> destino, std::optional<std::string> respaldo,
                  std::optional<Pase> pase) {
    if (pase) {
        auto canal = canalElegido(*canales, preferidas);
        std::optional<std::string> sala;
        if (remoto->cuenta()) sala = remoto->cuenta()->sala;
        auto nueva = SesionGuardada::de(*pase, canal ? canal->nombre : std::string(), pendiente::ahoraPared(), sala);
        // A record of another transmission not yet confirmed closed is about to be replaced: the
        // relay is told to close that one, so it does not run on unseen.
        if (auto vieja = pendiente::leer(); vieja && vieja->sid != nueva.sid &&
                                            pendiente::silencioDe() <= silencioMaximo) {
            // One just stopped may still be sending its last pieces: it is told 10 s later.
            QPointer<App> yo = this;
            QTimer::singleShot(vieja->estaDetenida() ? 10000 : 0, this, [yo, vieja = *vieja] {
                if (yo) yo->asegurarCierre(vieja, 0, nullptr, true);
            });
        }
        pendiente::guardar(nueva);
    }
    sidAlAire = pase ? std::optional(pase->sid) : std::nullopt;
    sinDestino = false;
    paseEnUso = pase.has_value() && !entorno().tiene(Tm::seco);
    avisoSaldo = false;
    motor->compositor.reiniciar();
    motor->transmitir(ventana->mono(), enSeco, destino, std::move(respaldo), std::move(pase));
    inicioVivo = ahora();
    tablero.empezar(inicioVivo);
    escalera.empezar(leerConfig().kbps, inicioVivo);
    ventana->ponerBoton(true);
    ventana->habilitarDispositivos(false);
    pintarEstados();
    if (enSeco) decir("Grabando la prueba sin salir a Kick.");
    else if (destino) {
        auto canal = canalElegido(*canales, preferidas);
        decir(QString::fromStdString("Transmitiendo a Kick: " + (canal ? canal->nombre : std::string()) + "."));
    } else decir("Transmitiendo a Kick.");
    anotarAlAire();
    saludTic = 0;
    pintarEstado();
    pintarSaldo();
    remotoSucio = true;
    programarPrueba();
}

// The transmission's sid and the screen on air, so a resume after a crash shows the same screen.
void App::anotarAlAire() {
    auto s = pendiente::leer();
    if (!s) return;
    preferidas.setValue("alAire", QString::fromStdString(s->sid + "|" + programa));
}

// Test switches that act while on air.
void App::programarPrueba() {
    const double inicio = inicioVivo;
    auto sigueAlAire = [this, inicio] { return motor->estaVivo() && inicioVivo == inicio; };
    if (auto n = entorno().numero(Tm::autoPulsar)) {
        QTimer::singleShot(ms(*n), Qt::PreciseTimer, this, [this, sigueAlAire] {
            if (!sigueAlAire()) return;
            pulsar();
            QTimer::singleShot(9000, qApp, [] { QApplication::quit(); });
        });
    }
    // "5:pausa,12:camara": after each item's seconds on air, that screen.
    for (auto& [t, id] : itemsDePrueba(entorno().texto(Tm::guion)))
        QTimer::singleShot(ms(t), Qt::PreciseTimer, this, [this, sigueAlAire, id = id] {
            if (sigueAlAire()) ponerPantalla(id);
        });
    // "6:800,12:1600": after each item's seconds on air, the encoder changes to that bit rate.
    for (auto& [t, texto] : itemsDePrueba(entorno().texto(Tm::calidad))) {
        auto kbps = leerNumero(texto);
        if (!kbps || *kbps <= 0) continue;
        QTimer::singleShot(ms(t), Qt::PreciseTimer, this, [this, sigueAlAire, k = int(*kbps)] {
            if (!sigueAlAire() || !motor->cambiarCalidad(k, k < motor->kbps())) return;
            escalera.anotarCambio(ahora());
            decir(QString("Prueba: calidad a %1 kbps.").arg(k));
        });
    }
}

void App::alDetener(bool cortoElServidor) {
    if (auto s = pendiente::leer(); s && !s->estaDetenida()) {
        if (cortoElServidor) {
            pendiente::borrar(s->sid);
        } else if (pendiente::marcarDetenida(s->sid)) {
            // The uplink ends 9 s after the stop; then the relay is asked to close.
            QPointer<App> yo = this;
            QTimer::singleShot(10000, this, [yo, sid = s->sid] {
                if (!yo) return;
                if (auto ahora = pendiente::leer(); ahora && ahora->sid == sid && ahora->estaDetenida())
                    yo->asegurarCierre(*ahora, 0, nullptr);
            });
        }
    }
    ventana->ponerBoton(false);
    ventana->habilitarDispositivos(true);
    ventana->ponerInsignia("Sin transmitir", false);
    // The audio-only picture gives way to the screen the user chose.
    if (soloAudio())
        if (auto p = (*almacen)[programa]) motor->compositor.poner(*p, *almacen);
    escalera.terminar();
    pintarEstados();
    paseEnUso = false;
    sidAlAire.reset();
    sinDestino = false;
    QPointer<App> yo = this;
    QTimer::singleShot(4000, this, [yo] {
        if (yo && !yo->motor->estaVivo()) yo->pedirSaldo();
    });
    pintarSaldo();
    remotoSucio = true;
    listar(false);
    if (elegidos() != abiertos) abrirElegidos();
    borrarCifras();
    pintarEstado();
    pintarRedes();
    QTimer::singleShot(3000, this, [yo] {
        if (yo && !yo->motor->estaVivo()) yo->redes->medir();
    });
    actualizadorAlDetener();
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
           {"sinDestino", vivo && sinDestino},
           {"sinImagen", (long long)motor->sinImagen()}};
    if (saldo) j["saldo"] = *saldo;
    if (vivo) {
        j["alAire"] = (long long)std::max(0.0, ahora() - inicioVivo);
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
