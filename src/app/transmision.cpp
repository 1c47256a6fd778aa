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
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/ventana_principal.h"
#include "uplink/pase.h"
#include "uplink/redes.h"

#include <QApplication>
#include <QTimer>

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

void App::decir(const QString& texto, bool error) { ventana->decir(texto, error); }

void App::pulsar() {
    if (motor->estaVivo()) {
        motor->detener();
        alDetener(false);
        decir("Transmisión detenida.");
        return;
    }

    std::optional<std::string> destino;
    const bool enSeco = entorno().tiene(Tm::archivo);
    if (!enSeco) {
        Config config = leerConfig();
        if (tt::conCuenta() || (config.entrada && !config.entrada->empty())) {
            auto canal = canalElegido(*canales, preferidas);
            if (!canal) {
                decir("Agrega el canal de Kick para poder transmitir.");
                return;
            }
            destino = canal->destino();
            if (!destino) {
                decir(QString::fromStdString("Al canal «" + canal->nombre + "» le falta la clave o tiene mal la URL."));
                return;
            }
        }
    }
    // Asking the control service for a permission comes with the account.
    empezar(enSeco, destino, std::nullopt, std::nullopt);
}

void App::empezar(bool enSeco, std::optional<std::string> destino, std::optional<std::string> respaldo,
                  std::optional<Pase> pase) {
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
    pintarEstado();
    programarPrueba();
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
    (void)cortoElServidor;  // the open-transmission record comes with the account
    ventana->ponerBoton(false);
    ventana->habilitarDispositivos(true);
    ventana->ponerInsignia("Sin transmitir", false);
    // The audio-only picture gives way to the screen the user chose.
    if (soloAudio())
        if (auto p = (*almacen)[programa]) motor->compositor.poner(*p, *almacen);
    escalera.terminar();
    pintarEstados();
    borrarCifras();
    pintarEstado();
    redes->medir();
    pintarRedes();
    actualizadorAlDetener();
}

}  // namespace tt
