// The sign-in window as the application drives it: shown instead of the main window while no
// account is signed in, its requests carried to the control service, and the test sign-in.
#include "app/app.h"
#include "app/guion.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "ui/bienvenida.h"
#include "ui/ventana_principal.h"

#include <QPointer>
#include <QTimer>

namespace tt {

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
        guion->alBienvenida(*bienvenida);
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
    // In test mode the answer carries the mailed code: the window shows it before its next step.
    QPointer<App> yo = this;
    auto conCodigo = [yo](std::function<void(std::optional<std::string>)> luego) {
        return [yo, luego = std::move(luego)](std::optional<std::string> e) {
            if (yo && yo->bienvenida) yo->bienvenida->ponerCodigoDePrueba(QString::fromStdString(yo->remoto->codigoDePrueba()));
            luego(std::move(e));
        };
    };
    switch (p.tipo) {
        case T::registrar: remoto->registrar(p.correo, p.clave, conCodigo(std::move(hecho))); break;
        case T::pedirCodigo: remoto->pedirCodigo(p.correo, p.modo, conCodigo(std::move(hecho))); break;
        case T::verificar: remoto->verificar(p.correo, p.codigo, std::move(hecho)); break;
        case T::entrar: remoto->entrar(p.correo, p.codigo, std::move(hecho)); break;
        case T::entrarConClave: remoto->entrarConClave(p.correo, p.clave, std::move(hecho)); break;
        case T::restablecer: remoto->restablecer(p.correo, p.codigo, p.clave, std::move(hecho)); break;
    }
}

}  // namespace tt
