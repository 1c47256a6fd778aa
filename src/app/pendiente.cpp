// A transmission left open on the relay: the check at start and before a new start, the recovery
// dialog, the resume, the close the relay must confirm, and quitting while on air.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "cuenta/pendiente.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "ui/ventana_principal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace tt {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void App::armarPendiente() {
    charlas = std::make_unique<pendiente::Charlas>();
    ventana->installEventFilter(this);
    // A quit that did not come through pedirSalida (the last window closed by other means).
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (saliendo || !motor->estaVivo()) return;
        QEventLoop espera;
        cerrarAlSalir([&espera] { espera.quit(); });
        espera.exec();
    });
    auto* salud = new QTimer(this);
    connect(salud, &QTimer::timeout, this, &App::latidoSalud);
    salud->start(1000);
    QPointer<App> yo = this;
    QTimer::singleShot(2500, this, [yo] {
        if (yo) yo->revisarPendiente(0, nullptr);
    });
}

// The completion comes back to the main thread, also while a modal dialog runs its own loop.
void App::hablar(const SesionGuardada& s, const std::string& tipo, std::function<void(std::optional<std::string>)> fin) {
    charlas->hablar(s, tipo, [this, tipo, fin = std::move(fin)](std::optional<std::string> r) {
        QMetaObject::invokeMethod(this, [tipo, fin, r] {
            bitacora("servidor: " + tipo + " → " + (r ? *r : std::string("sin respuesta")));
            fin(r);
        }, Qt::QueuedConnection);
    });
}

void App::asegurarCierre(const SesionGuardada& s, int intento, std::function<void(bool)> alTerminar, bool aunqueNoEste) {
    QPointer<App> yo = this;
    hablar(s, "TM4", [yo, s, intento, alTerminar, aunqueNoEste](std::optional<std::string> r) {
        if (!yo) return;
        if (confirmaCierre(r)) {
            pendiente::borrar(s.sid);
            bitacora("el servidor confirmó el cierre de la transmisión");
            if (alTerminar) alTerminar(true);
            return;
        }
        auto hay = pendiente::leer();
        if (intento <= 7 && (aunqueNoEste || (hay && hay->sid == s.sid))) {
            QTimer::singleShot(5000, yo, [yo, s, intento, alTerminar, aunqueNoEste] {
                if (yo) yo->asegurarCierre(s, intento + 1, alTerminar, aunqueNoEste);
            });
            return;
        }
        if (alTerminar) alTerminar(false);
    });
}

void App::revisarPendiente(int intento, std::function<void()> siNoHay) {
    auto seguir = [siNoHay] {
        if (siNoHay) siNoHay();
    };
    if (!conCuenta() || motor->estaVivo() || pidiendoPase || revisando) return seguir();
    auto s = pendiente::leer();
    switch (revisar(s, remoto->cuenta()->sala, pendiente::silencioDe())) {
        case Revision::nada: return seguir();
        case Revision::borrar:
            bitacora("transmisión abierta: sin señales hace más de 5 min, el servidor ya la cerró");
            pendiente::borrar(s->sid);
            return seguir();
        case Revision::cerrar:
            asegurarCierre(*s, 0, nullptr);
            return seguir();
        case Revision::preguntar: break;
    }
    revisando = true;
    QPointer<App> yo = this;
    hablar(*s, "TM3", [yo, s = *s, intento, siNoHay, seguir](std::optional<std::string> r) {
        if (!yo) return;
        yo->revisando = false;
        if (yo->motor->estaVivo()) return;
        if (!yo->conCuenta()) return seguir();
        const auto v = leerVeredicto(r);
        if (v.tipo == Veredicto::abierta) {
            bitacora("quedó una transmisión abierta en el servidor (" + enHoras(v.segundos) + " al aire)");
            if (auto e = entorno().texto(Tm::retomar)) {
                if (*e == "seguir") yo->retomar(s, v.segundos, 0);
                else yo->terminarAbierta(s);
            } else {
                yo->preguntarAbierta(s, v.segundos);
            }
        } else if (v.tipo == Veredicto::cerrada) {
            pendiente::borrar(s.sid);
            seguir();
        } else if (siNoHay) {
            siNoHay();  // the new start goes ahead; the record is kept for the next check
        } else if (intento < 6) {
            QTimer::singleShot(5000, yo, [yo, intento] {
                if (yo) yo->revisarPendiente(intento + 1, nullptr);
            });
        }
    });
}

// A sheet over the main window; `revisando` stays set while it is open.
void App::preguntarAbierta(const SesionGuardada& s, long long segundos) {
    revisando = true;
    auto* caja = new QMessageBox(ventana.get());
    caja->setAttribute(Qt::WA_DeleteOnClose);
    caja->setWindowModality(Qt::WindowModal);
    caja->setIcon(QMessageBox::Warning);
    caja->setText(QString::fromUtf8("Tu transmisión sigue abierta"));
    caja->setInformativeText(q("La app se cerró mientras transmitías" + (s.canal.empty() ? "" : " a " + s.canal) +
                               " (lleva " + enHoras(segundos) +
                               "). En Kick se ve la pantalla de espera y tus horas siguen corriendo.\n\n"
                               "Puedes seguir transmitiendo donde ibas o terminarla."));
    auto* seguir = caja->addButton(QString::fromUtf8("Seguir transmitiendo"), QMessageBox::AcceptRole);
    auto* terminar = caja->addButton(QString::fromUtf8("Terminar transmisión"), QMessageBox::DestructiveRole);
    caja->setDefaultButton(seguir);
    const double abierta = ahora();
    QPointer<App> yo = this;
    QPointer<QAbstractButton> pSeguir = seguir, pTerminar = terminar;
    connect(caja, &QMessageBox::buttonClicked, this, [yo, s, segundos, abierta, pSeguir, pTerminar](QAbstractButton* b) {
        if (!yo) return;
        yo->revisando = false;
        if (!yo->conCuenta() || yo->motor->estaVivo()) return;
        if (b == pSeguir) yo->retomar(s, segundos + (long long)(ahora() - abierta), 0);
        else if (b == pTerminar) yo->terminarAbierta(s);
    });
    // Closed without a choice: the record stays for the next check.
    connect(caja, &QDialog::rejected, this, [yo] {
        if (yo) yo->revisando = false;
    });
    caja->open();
}

void App::terminarAbierta(const SesionGuardada& s) {
    decir(QString::fromUtf8("Terminando la transmisión…"));
    QPointer<App> yo = this;
    asegurarCierre(s, 0, [yo](bool cerrada) {
        if (!yo) return;
        if (!cerrada) {
            yo->decir(QString::fromUtf8("No se pudo avisar al servidor. Revisa el internet; se cerrará sola en unos minutos."), true);
            return;
        }
        bitacora("transmisión abierta: terminada");
        yo->decir(QString::fromUtf8("Transmisión terminada."));
        QTimer::singleShot(3000, yo, [yo] {
            if (yo) yo->pedirSaldo();
        });
    });
}

void App::retomar(const SesionGuardada& s, long long segundos, int intento) {
    if (motor->estaVivo()) return;
    if (ventana->botonHabilitado() && !pidiendoPase) {
        auto respaldo = fotoRespaldo();
        // The screen that was on air, when it still exists.
        const std::string alAire = preferidas.value("alAire").toString().toStdString();
        if (auto barra = alAire.find('|'); barra != std::string::npos && alAire.substr(0, barra) == s.sid) {
            const std::string id = alAire.substr(barra + 1);
            if (id != programa && (*almacen)[id]) ponerPantalla(id);
        }
        std::string linea = "se retoma la transmisión abierta";
        if (programa != "camara") {
            auto p = (*almacen)[programa];
            linea += " en «" + (p ? p->nombre : programa) + "»";
        }
        bitacora(linea);
        empezar(false, std::nullopt, std::move(respaldo), s.comoPase());
        saldoAlEmpezar = s.segundos;
        // The time on air counts from the first start.
        inicioVivo -= double(segundos);
        tablero.empezar(inicioVivo);
        decir(q("Sigues al aire" + (s.canal.empty() ? "" : " en " + s.canal) + "."));
        return;
    }
    if (intento > 39) {
        decir(QString::fromUtf8("No hay cámara lista para seguir la transmisión: se terminó. Conéctala y vuelve a transmitir."), true);
        asegurarCierre(s, 0, nullptr);
        return;
    }
    decir(QString::fromUtf8("Abriendo la cámara para seguir la transmisión…"));
    QPointer<App> yo = this;
    QTimer::singleShot(500, this, [yo, s, segundos, intento] {
        if (yo) yo->retomar(s, segundos, intento + 1);
    });
}

// ---- Quitting ----

bool App::confirmarCierre() {
    if (cierreConfirmado) return true;
    QMessageBox caja(ventana.get());
    caja.setWindowModality(Qt::ApplicationModal);
    caja.setIcon(QMessageBox::Warning);
    caja.setText(QString::fromUtf8("Estás transmitiendo"));
    caja.setInformativeText(QString::fromUtf8("Si cierras la app se corta la transmisión."));
    auto* seguir = caja.addButton(QString::fromUtf8("Seguir transmitiendo"), QMessageBox::RejectRole);
    auto* cortar = caja.addButton(QString::fromUtf8("Cortar y cerrar"), QMessageBox::DestructiveRole);
    caja.setDefaultButton(seguir);
    caja.setEscapeButton(seguir);
    caja.exec();
    cierreConfirmado = caja.clickedButton() == cortar;
    return cierreConfirmado;
}

void App::pedirSalida(bool preguntar) {
    if (saliendo) return;
    if (motor->estaVivo() && preguntar && !entorno().tiene(Tm::salir) && !confirmarCierre()) return;
    cerrarAlSalir(nullptr);
}

// Stops, marks the record stopped and tells the relay to close; the process ends on its answer or
// 4 s later, whichever comes first. `alTerminar` replaces the quit (the quit is already under way).
void App::cerrarAlSalir(std::function<void()> alTerminar) {
    saliendo = true;
    auto fin = [alTerminar] {
        if (alTerminar) return alTerminar();
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    };
    const bool vivo = motor->estaVivo();
    if (vivo) {
        bitacora("al salir: se corta la transmisión");
        motor->detener();
    }
    auto s = pendiente::leer();
    if (!vivo || !s || s->estaDetenida()) return fin();
    pendiente::marcarDetenida(s->sid);
    auto hecho = std::make_shared<bool>(false);
    auto una = [hecho, fin] {
        if (*hecho) return;
        *hecho = true;
        fin();
    };
    hablar(*s, "TM4", [sid = s->sid, una](std::optional<std::string> r) {
        if (confirmaCierre(r)) {
            pendiente::borrar(sid);
            bitacora("al salir: el servidor confirmó el cierre");
        }
        una();
    });
    QTimer::singleShot(4000, this, una);
}

// Closing the main window while on air asks first; the quit then waits for the relay.
bool App::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto != ventana.get() || evento->type() != QEvent::Close || saliendo || !motor->estaVivo())
        return QObject::eventFilter(objeto, evento);
    evento->ignore();
    if (confirmarCierre()) cerrarAlSalir(nullptr);
    return true;
}

}  // namespace tt
