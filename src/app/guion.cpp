#include "app/guion.h"

#include "app/app.h"
#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "engine/motor.h"
#include "ui/bienvenida.h"

#include <QApplication>
#include <QTimer>

#include <cmath>
#include <sstream>

namespace tt {

namespace {
int ms(double segundos) { return int(std::lround(std::max(0.0, segundos) * 1000)); }
// The password of the accounts that TM_SESION makes or signs in to.
constexpr const char* clavePrueba = "Piloto#4821";
}  // namespace

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

Guion::Guion(App& app) : QObject(&app), app_(app) {}

void Guion::alBienvenida(Bienvenida& b) {
    const auto& e = entorno();
    if (auto paso = e.texto(Tm::bienvenida); paso && *paso != "1") b.probar(QString::fromStdString(*paso));
    if (auto correo = e.texto(Tm::sesion); correo && !correo->empty())
        QTimer::singleShot(4000, &b, [this, c = *correo] { sesionDePrueba(c); });
}

// Registers the address with the test password; if it exists, signs in with that password; a
// new account is confirmed with the code the service in test mode returned.
void Guion::sesionDePrueba(const std::string& correo) {
    Remoto& remoto = app_.cuentaRemota();
    auto entrar = [this](const char* como, std::optional<std::string> error) {
        bitacora(std::string("sesión de prueba (") + como + "): " + error.value_or("dentro"));
        if (!error && app_.bienvenidaAbierta()) app_.abrirPrincipal();
    };
    remoto.registrar(correo, clavePrueba, [this, &remoto, correo, entrar](std::optional<std::string> error) {
        if (error) {
            remoto.entrarConClave(correo, clavePrueba, [entrar](auto e) { entrar("contraseña", std::move(e)); });
            return;
        }
        remoto.verificar(correo, remoto.codigoDePrueba(), [entrar](auto e) { entrar("cuenta nueva", std::move(e)); });
    });
}

void Guion::alAbrir() {
    if (auto n = entorno().numero(Tm::salir); n && *n >= 0) {
        QTimer::singleShot(ms(*n), this, [this] {
            bitacora("inicio: TM_SALIR, fin de la aplicación");
            app_.pedirSalida(false);
        });
    }
}

void Guion::alPedirDispositivos() {
    const auto& e = entorno();
    // The stream button 3 s after the devices were first asked for, whether they opened or not.
    if (e.tiene(Tm::autoPulsar))
        QTimer::singleShot(3000, this, [this] {
            if (!app_.alAire()) app_.pulsar();
        });
    if (auto id = e.texto(Tm::pantalla)) QTimer::singleShot(1000, this, [this, id = *id] { app_.ponerPantalla(id); });
    if (auto id = e.texto(Tm::editar)) app_.editar(*id);
    if (e.tiene(Tm::canales)) app_.abrirCanales();
}

void Guion::alEmpezar() {
    const int vez = ++vez_;
    auto sigue = [this, vez] { return vez_ == vez && app_.alAire(); };
    const auto& e = entorno();
    // After that many seconds on air, the button again; the application ends 9 s later.
    if (auto n = e.numero(Tm::autoPulsar))
        QTimer::singleShot(ms(*n), Qt::PreciseTimer, this, [this, sigue] {
            if (!sigue()) return;
            app_.pulsar();
            QTimer::singleShot(9000, qApp, [] { QApplication::quit(); });
        });
    // "5:pausa,12:camara": after each item's seconds on air, that screen.
    for (auto& [t, id] : itemsDePrueba(e.texto(Tm::guion)))
        QTimer::singleShot(ms(t), Qt::PreciseTimer, this, [this, sigue, id = id] {
            if (sigue()) app_.ponerPantalla(id);
        });
    // "6:800,12:1600": after each item's seconds on air, the encoder changes to that bit rate.
    for (auto& [t, texto] : itemsDePrueba(e.texto(Tm::calidad))) {
        auto kbps = leerNumero(texto);
        if (!kbps || *kbps <= 0) continue;
        QTimer::singleShot(ms(t), Qt::PreciseTimer, this, [this, sigue, k = int(*kbps)] {
            if (sigue()) app_.calidadDePrueba(k);
        });
    }
}

void Guion::alConectar() {
    if (!entorno().tiene(Tm::vincular) || enlaceDado_) return;
    enlaceDado_ = true;
    bitacora("enlace: " + app_.cuentaRemota().enlaceNuevo());
}

std::optional<bool> Guion::respuestaAbierta() const {
    auto e = entorno().texto(Tm::retomar);
    if (!e) return std::nullopt;
    return *e == "seguir";
}

}  // namespace tt
