// Cameras and microphones as the window shows them: the menus, opening the chosen pair, and the
// synthetic camera of the tests.
#include "app/app.h"
#include "app/guion.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/tarjeta.h"

#include "channels/eleccion.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "engine/motor.h"
#include "engine/seleccion.h"
#include "ui/ventana_principal.h"
#include "uplink/redes.h"

#include <QPointer>
#include <QTimer>

namespace tt {

namespace {
using Menu = VentanaPrincipal::Menu;

void llenar(VentanaPrincipal& v, Menu menu, const std::vector<Dispositivo>& lista, const char* vacio,
            std::optional<std::string> recordado) {
    std::vector<std::pair<QString, QString>> items;
    for (auto& d : lista) items.emplace_back(QString::fromStdString(d.nombre), QString::fromStdString(d.id));
    std::optional<int> elegido;
    if (auto i = elegirDispositivo(lista, recordado)) elegido = int(*i);
    v.llenar(menu, items, elegido, QString::fromUtf8(vacio));
}
}  // namespace

void App::pedirPermisos() {
    if (auto imagen = entorno().texto(Tm::camaraFalsa)) {
        if (!motor->simular(*imagen)) {
            ventana->ponerVacio("No se pudo leer la imagen de la cámara falsa");
            decir("No se pudo leer la imagen de TM_CAMARA_FALSA.", true);
            return;
        }
        ventana->ponerVacio(std::nullopt);
        ventana->llenar(Menu::camara, {{"ILCE-7M4", "ILCE-7M4"}}, 0, "");
        if (entorno().tiene(Tm::microfonoReal)) {
            listar(true);  // the machine's microphones, the chosen one opened
        } else {
            ventana->llenar(Menu::microfono, {{"ILCE-7M4", "ILCE-7M4"}}, 0, "");
            abiertos = elegidos();  // what the device watch compares with: nothing to reopen
        }
        ventana->ponerFormato(QString::fromStdString(motor->formatoTexto()),
                              QString::fromStdString(motor->salidaTexto()));
        listoParaTransmitir();
        redes->medir();
        guion->alPedirDispositivos();
        return;
    }
    if (!motor->acceso().camara) {
        ventana->ponerVacio("Falta el permiso de cámara");
        decir("Tu usuario no puede abrir la cámara: agrégalo al grupo «video» y vuelve a abrir la app.", true);
        return;
    }
    listar(true);
    // Once, at start: reopening the devices later measures nothing and presses nothing.
    QTimer::singleShot(1500, this, [this] {
        if (!motor->estaVivo()) redes->medir();
    });
    guion->alPedirDispositivos();
}

// The button waits for the devices; a resume waiting for them goes ahead.
void App::dispositivosAbiertos(bool listos) {
    hacer(sesion->ponerListo(ahora(), listos));
}

void App::listoParaTransmitir() {
    dispositivosAbiertos(true);
    if (programa == "camara") decir("Listo para transmitir.");
}

void App::listar(bool reabrir) {
    // The synthetic camera's menu stays as it was filled: the machine's own list (often empty)
    // would say there is no camera while it keeps working. Its microphone is the machine's with
    // TM_MICROFONO_REAL, else a name in the menu.
    const bool falsa = entorno().tiene(Tm::camaraFalsa);
    if (motor->estaVivo() || (falsa && !entorno().tiene(Tm::microfonoReal))) return;
    auto recordado = [this](Menu menu, const char* clave) -> std::optional<std::string> {
        if (auto id = ventana->elegido(menu)) return id;
        if (preferidas.contains(clave)) return preferidas.value(clave).toString().toStdString();
        return std::nullopt;
    };
    if (!falsa)
        llenar(*ventana, Menu::camara, motor->camaras(), "No hay cámaras conectadas", recordado(Menu::camara, "camara"));
    llenar(*ventana, Menu::microfono, motor->microfonos(), "No hay micrófonos", recordado(Menu::microfono, "micro"));
    if (reabrir) abrirElegidos();
}

// After a device came or went, and after each stop (devices that changed on air waited for it).
void App::revisarDispositivos() {
    if (motor->estaVivo()) return;
    listar(false);
    if (elegidos() != abiertos) abrirElegidos();
}

// The microphone stopped delivering on air: the stream goes on with silence, and what is open is
// no longer that microphone, so the next check reopens it.
void App::microfonoCallado(bool callado) {
    const char* texto = callado ? "El micrófono dejó de mandar sonido: la transmisión sigue en silencio."
                                : "Volvió el sonido del micrófono.";
    if (callado) abiertos.second.reset();
    bitacora(std::string("aviso: ") + texto);
    decir(QString::fromUtf8(texto), callado);
}

std::pair<std::optional<std::string>, std::optional<std::string>> App::elegidos() const {
    return {ventana->elegido(Menu::camara), ventana->elegido(Menu::microfono)};
}

void App::cambioDispositivo() {
    auto [camara, micro] = elegidos();
    for (auto [id, clave] : {std::pair{camara, "camara"}, std::pair{micro, "micro"}}) {
        if (id) preferidas.setValue(clave, QString::fromStdString(*id));
        else preferidas.remove(clave);
    }
    remotoSucio = true;
    abrirElegidos();
}

// The box belongs to the loaded channel: it comes back with it (cargarCanal).
void App::cambioMono(bool mono) {
    preferidas.setValue(QString::fromStdString("mono." + canalCargado.value_or("")), mono);
}

void App::abrirElegidos() {
    abiertos = elegidos();
    QPointer<App> yo = this;
    if (entorno().tiene(Tm::camaraFalsa)) {  // the synthetic camera keeps running: only the microphone opens
        if (entorno().tiene(Tm::microfonoReal))
            motor->usar(std::nullopt, abiertos.second, [yo](std::optional<std::string> error) {
                if (yo && error) yo->decir(QString::fromStdString(*error), true);
            });
        return;
    }
    dispositivosAbiertos(false);
    if (!abiertos.first) {
        ventana->ponerVacio("Conecta una cámara");
        return;
    }
    ventana->ponerVacio("Abriendo la cámara…");
    ventana->ponerFormato("Abriendo…");
    motor->usar(abiertos.first, abiertos.second, [yo](std::optional<std::string> error) {
        if (!yo) return;
        if (error && *error != Motor::kSinMicrofono) {
            yo->ventana->ponerVacio("No se pudo abrir la cámara");
            yo->decir(QString::fromStdString(*error), true);
            return;
        }
        yo->ventana->ponerVacio(std::nullopt);
        yo->ventana->ponerFormato(QString::fromStdString(yo->motor->formatoTexto()),
                                  QString::fromStdString(yo->motor->salidaTexto()));
        yo->listoParaTransmitir();
        if (error) yo->decir(QString::fromStdString(*error), true);  // the stream goes out without sound
    });
}

}  // namespace tt
