// Cameras and microphones as the window shows them: the menus, opening the chosen pair, and the
// synthetic camera of the tests.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "engine/motor.h"
#include "uplink/redes.h"
#include "engine/seleccion.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tt {

namespace {
std::optional<std::string> elegido(QComboBox* menu) {
    if (!menu || menu->currentIndex() < 0) return std::nullopt;
    QVariant id = menu->currentData();
    if (!id.isValid()) return std::nullopt;
    return id.toString().toStdString();
}

void llenar(QComboBox* menu, const std::vector<Dispositivo>& lista, const char* vacio,
            std::optional<std::string> recordado) {
    menu->blockSignals(true);
    menu->clear();
    if (lista.empty()) {
        menu->addItem(QString::fromUtf8(vacio));
        menu->setEnabled(false);
    } else {
        for (auto& d : lista) menu->addItem(QString::fromStdString(d.nombre), QString::fromStdString(d.id));
        menu->setEnabled(true);
        if (auto i = elegirDispositivo(lista, recordado)) menu->setCurrentIndex(int(*i));
    }
    menu->blockSignals(false);
}
}  // namespace

void App::pedirPermisos() {
    if (auto imagen = entorno().texto(Tm::camaraFalsa)) {
        if (!motor->simular(*imagen)) {
            vacio->setText("No se pudo leer la imagen de la cámara falsa");
            decir("No se pudo leer la imagen de TM_CAMARA_FALSA.", true);
            return;
        }
        vacio->hide();
        for (QComboBox* m : {camSel, micSel}) {
            m->clear();
            m->addItem("ILCE-7M4", "ILCE-7M4");
            m->setEnabled(true);
        }
        camaraTxt->setText(QString::fromStdString(motor->formatoTexto()));
        listoParaTransmitir();
        if (auto id = entorno().texto(Tm::pantalla))
            QTimer::singleShot(1000, this, [this, id = *id] { ponerPantalla(id); });
        return;
    }
    if (!motor->acceso().camara) {
        vacio->setText("Falta el permiso de cámara");
        decir("Tu usuario no puede abrir la cámara: agrégalo al grupo «video» y vuelve a abrir la app.", true);
        return;
    }
    listar(true);
}

void App::listoParaTransmitir() {
    boton->setEnabled(true);
    redes->medir();  // the devices are settled: now the networks' speed
    if (programa == "camara") decir("Listo para transmitir.");
    if (entorno().tiene(Tm::autoPulsar)) {
        QTimer::singleShot(3000, this, [this] {
            if (!motor->estaVivo()) pulsar();
        });
    }
}

void App::listar(bool reabrir) {
    if (motor->estaVivo()) return;
    auto recordado = [this](QComboBox* menu, const char* clave) -> std::optional<std::string> {
        if (auto id = elegido(menu)) return id;
        if (preferidas.contains(clave)) return preferidas.value(clave).toString().toStdString();
        return std::nullopt;
    };
    llenar(camSel, motor->camaras(), "No hay cámaras conectadas", recordado(camSel, "camara"));
    llenar(micSel, motor->microfonos(), "No hay micrófonos", recordado(micSel, "micro"));
    if (reabrir) abrirElegidos();
}

std::pair<std::optional<std::string>, std::optional<std::string>> App::elegidos() const {
    return {elegido(camSel), elegido(micSel)};
}

void App::cambioDispositivo() {
    for (auto [menu, clave] : {std::pair{camSel, "camara"}, std::pair{micSel, "micro"}}) {
        if (auto id = elegido(menu)) preferidas.setValue(clave, QString::fromStdString(*id));
        else preferidas.remove(clave);
    }
    abrirElegidos();
}

void App::abrirElegidos() {
    abiertos = elegidos();
    if (!abiertos.first) {
        vacio->setText("Conecta una cámara");
        vacio->show();
        boton->setEnabled(false);
        return;
    }
    vacio->setText("Abriendo la cámara…");
    vacio->show();
    boton->setEnabled(false);
    camaraTxt->setText("Abriendo…");
    motor->usar(abiertos.first, abiertos.second, [this](std::optional<std::string> error) {
        if (error && *error != Motor::kSinMicrofono) {
            vacio->setText("No se pudo abrir la cámara");
            decir(QString::fromStdString(*error), true);
            return;
        }
        vacio->hide();
        camaraTxt->setText(QString::fromStdString(motor->formatoTexto()));
        listoParaTransmitir();
        if (error) decir(QString::fromStdString(*error), true);  // the stream goes out without sound
    });
}

}  // namespace tt
