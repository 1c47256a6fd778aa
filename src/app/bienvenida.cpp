// The sign-in window as the application drives it: shown instead of the main window while no
// account is signed in, its requests carried to the control service, and the test sign-in.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "ui/bienvenida.h"
#include "ui/ventana_principal.h"

#include <QPointer>
#include <QTimer>


namespace tt {

namespace {
// The password of the accounts that TM_SESION makes or signs in to.
constexpr const char* clavePrueba = "Piloto#4821";
}  // namespace

void App::mostrarBienvenida() {
    if (!bienvenida) {
        bienvenida = new Bienvenida();
        bienvenida->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<App> yo = this;
        bienvenida->alPedir = [yo](const PedidoCuenta& p, Bienvenida::Hecho hecho) {
            if (yo) yo->pedirCuenta(p, std::move(hecho));
        };
        bienvenida->alEntrar = [yo] {
            if (yo) yo->abrirPrincipal();
        };
        const auto& e = entorno();
        if (auto paso = e.texto(Tm::bienvenida); paso && *paso != "1")
            bienvenida->probar(QString::fromStdString(*paso));
        if (auto correo = e.texto(Tm::sesion); correo && !correo->empty()) {
            QTimer::singleShot(4000, bienvenida, [yo, c = *correo] {
                if (yo) yo->sesionDePrueba(c);
            });
        }
        bitacora("inicio: ventana de bienvenida");
    }
    bienvenida->show();
    bienvenida->raise();
    bienvenida->activateWindow();
    // Hidden after the sign-in window shows, so the application never has no window.
    if (ventana) ventana->hide();
}

void App::pedirCuenta(const PedidoCuenta& p, std::function<void(std::optional<std::string>)> hecho) {
    using T = PedidoCuenta::Tipo;
    switch (p.tipo) {
        case T::registrar: remoto->registrar(p.correo, p.clave, std::move(hecho)); break;
        case T::pedirCodigo: remoto->pedirCodigo(p.correo, p.modo, std::move(hecho)); break;
        case T::verificar: remoto->verificar(p.correo, p.codigo, std::move(hecho)); break;
        case T::entrar: remoto->entrar(p.correo, p.codigo, std::move(hecho)); break;
        case T::entrarConClave: remoto->entrarConClave(p.correo, p.clave, std::move(hecho)); break;
        case T::restablecer: remoto->restablecer(p.correo, p.codigo, p.clave, std::move(hecho)); break;
    }
}

// Registers the address with the test password; if it exists, signs in with that password; a
// new account is confirmed with the code the service in test mode returned.
void App::sesionDePrueba(const std::string& correo) {
    QPointer<App> yo = this;
    auto entrar = [yo](const char* como, std::optional<std::string> error) {
        if (!yo) return;
        bitacora(std::string("sesión de prueba (") + como + "): " + error.value_or("dentro"));
        if (!error && yo->bienvenida) yo->abrirPrincipal();
    };
    remoto->registrar(correo, clavePrueba, [yo, correo, entrar](std::optional<std::string> error) {
        if (!yo) return;
        if (error) {
            yo->remoto->entrarConClave(correo, clavePrueba, [entrar](auto e) { entrar("contraseña", std::move(e)); });
            return;
        }
        yo->remoto->verificar(correo, yo->remoto->codigoDePrueba(),
                              [entrar](auto e) { entrar("cuenta nueva", std::move(e)); });
    });
}

}  // namespace tt
