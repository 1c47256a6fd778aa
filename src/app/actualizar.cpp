// The updater's ties to the application: what it asks (on air, the window free), the offer sheet,
// the notices and the quit that lets the swap script take over.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/hoja_actualizacion.h"
#include "ui/ventana_principal.h"
#include "update/actualizador.h"
#include "update/paquete.h"

#include <QApplication>
#include <QDialog>

namespace tt {

void App::empezarActualizador() {
    if (!actualizador) {
        actualizador = std::make_unique<Actualizador>(remoto->sitio(), recursos());
        const DatosApp& d = actualizador->datos();
        bitacora("actualización: versión " + d.version.value_or("?") + ", build " + d.build);
        QPointer<App> yo = this;
        // On air from the permission request on, not only once the engine runs.
        actualizador->alVivo = [yo] {
            if (!yo) return false;
            const auto f = yo->sesion->estado().fase;
            return yo->motor->estaVivo() || f == Sesion::Fase::alAire || f == Sesion::Fase::pidiendo;
        };
        actualizador->alVentanaLibre = [yo] {
            if (!yo || !yo->ventana || !yo->ventana->isVisible()) return false;
            for (auto* d : yo->ventana->findChildren<QDialog*>())
                if (d->isVisible()) return false;
            return true;
        };
        actualizador->alPreguntar = [yo](const Anuncio& a) {
            if (!yo) return;
            // Replaceable in place, and holding the key that checks the package.
            const bool sola =
                instalacionReemplazable(recursos()) && std::filesystem::is_regular_file(recursos() / "actualizaciones.pem");
            auto* hoja = new HojaActualizacion(QString::fromStdString(textoOferta(a.notas, sola)), sola, yo->ventana.get());
            connect(hoja, &HojaActualizacion::actualizar, yo, [yo, a] {
                if (yo) yo->actualizador->instalar(a);
            });
            connect(hoja, &HojaActualizacion::despues, yo, [yo, b = a.build] {
                if (yo) yo->actualizador->posponer(b);
            });
            hoja->open();
        };
        actualizador->alDecir = [yo](const std::string& texto, bool error) {
            if (yo) yo->decir(QString::fromStdString(texto), error);
        };
        actualizador->alSalir = [yo] {
            if (yo) yo->almacen->escribir();
            QApplication::closeAllWindows();
            QApplication::quit();
        };
    }
    actualizador->empezar();
}

void App::actualizadorAlDetener() {
    if (actualizador) actualizador->alDetener();
}

}  // namespace tt
