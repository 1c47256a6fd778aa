// What the session asks of the relay and of the user about a transmission left open, and
// quitting while on air: the conversations, the recovery question and the quit question.
#include "app/app.h"
#include "app/guion.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "sesion/pendiente.h"
#include "uplink/charlas.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "engine/motor.h"
#include "ui/pregunta.h"
#include "ui/ventana_principal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QPushButton>

namespace tt {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void App::armarPendiente() {
    ventana->installEventFilter(this);
    // A quit that did not come through pedirSalida (the last window closed by other means): the
    // engine stops and the record is marked stopped, so the next start has the relay close it.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { hacer(sesion->alTerminarProceso(ahora())); });
    auto* salud = new QTimer(this);
    connect(salud, &QTimer::timeout, this, &App::latidoSalud);
    salud->start(1000);
    hacer(sesion->alAbrir(ahora()));
}

// The answer comes back to the main thread as an event of the session.
void App::hablar(const orden::Hablar& o) {
    QPointer<App> yo = this;
    charlas->hablar(o.s.comoPase(), o.tipo, [yo, tipo = o.tipo, charla = o.charla](std::optional<std::string> r) {
        QMetaObject::invokeMethod(yo, [yo, tipo, charla, r] {
            if (!yo) return;
            bitacora("servidor: " + tipo + " → " + (r ? *r : std::string("sin respuesta")));
            yo->hacer(yo->sesion->alCharla(ahora(), charla, r));
        }, Qt::QueuedConnection);
    });
}

// A sheet over the main window; the session counts the time it stays open as time on air.
void App::preguntarAbierta(const orden::PreguntarAbierta& o) {
    if (auto r = guion->respuestaAbierta()) {
        QPointer<App> yo = this;
        QMetaObject::invokeMethod(this, [yo, seguir = *r] {
            if (yo) yo->hacer(yo->sesion->alResponderAbierta(ahora(), seguir));
        }, Qt::QueuedConnection);
        return;
    }
    QPointer<App> yo = this;
    // Closed without a choice: the record stays for the next check.
    preguntar(ventana.get(),
              {QString::fromUtf8("Tu transmisión sigue abierta"),
               q("La app se cerró mientras transmitías" + (o.canal.empty() ? "" : " a " + o.canal) + " (lleva " +
                 enHoras(o.segundos) +
                 "). En Kick se ve la pantalla de espera y tus horas siguen corriendo.\n\n"
                 "Puedes seguir transmitiendo donde ibas o terminarla."),
               {QString::fromUtf8("Terminar transmisión"), QString::fromUtf8("Seguir transmitiendo")}, 1, 0,
               std::nullopt},
              [yo](std::optional<int> r) {
                  if (yo) yo->hacer(yo->sesion->alResponderAbierta(ahora(), r ? std::optional(*r == 1) : std::nullopt));
              });
}

// ---- Quitting ----

void App::preguntarCierre() {
    QPointer<App> yo = this;
    preguntar(ventana.get(),
              {QString::fromUtf8("Estás transmitiendo"), QString::fromUtf8("Si cierras la app se corta la transmisión."),
               {QString::fromUtf8("Cortar y cerrar"), QString::fromUtf8("Seguir transmitiendo")}, 1, 0, 1},
              [yo](std::optional<int> r) {
                  if (yo) yo->hacer(yo->sesion->alResponderCierre(ahora(), r == 0));
              });
}

void App::pedirSalida(bool preguntar) { hacer(sesion->pedirSalida(ahora(), preguntar && !entorno().tiene(Tm::salir))); }

// Closing the main window while on air asks first; the quit then waits for the relay.
bool App::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto != ventana.get() || evento->type() != QEvent::Close) return QObject::eventFilter(objeto, evento);
    Ordenes ordenes;
    if (sesion->alCerrarVentana(ahora(), ordenes)) return QObject::eventFilter(objeto, evento);
    evento->ignore();
    hacer(ordenes);
    return true;
}

}  // namespace tt
