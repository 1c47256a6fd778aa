#include "app/inhibidor.h"

#include "comun/bitacora.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace tt {

namespace {
const char* quien = "Tremolante Transmitir";
const char* porque = "Transmitiendo en vivo";

// Calls asynchronously and hands the reply to `luego` on this thread.
template <class F>
void llamar(QObject* dueno, QDBusConnection bus, const QDBusMessage& m, F luego) {
    if (!bus.isConnected()) return luego(QDBusMessage::createError("tt.SinBus", "sin bus"));
    auto* w = new QDBusPendingCallWatcher(bus.asyncCall(m), dueno);
    QObject::connect(w, &QDBusPendingCallWatcher::finished, dueno, [w, luego](QDBusPendingCallWatcher*) {
        w->deleteLater();
        luego(w->reply());
    });
}
}  // namespace

Inhibidor::Inhibidor(QDBusConnection sistema, QDBusConnection sesion)
    : sistema_(std::move(sistema)), sesion_(std::move(sesion)) {}

void Inhibidor::sostener(bool si) {
    if (si == querido_) return;
    querido_ = si;
    ++vez_;
    if (si) pedirLogind(vez_);
    else soltar();
}

void Inhibidor::pedirLogind(int vez) {
    auto m = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                            "org.freedesktop.login1.Manager", "Inhibit");
    m << QString("idle:sleep") << QString(quien) << QString(porque) << QString("block");
    llamar(this, sistema_, m, [this, vez](const QDBusMessage& r) {
        if (vez != vez_) return;  // released (or asked again) meanwhile: the descriptor closes here
        if (r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty() &&
            r.arguments().first().canConvert<QDBusUnixFileDescriptor>()) {
            candado_ = r.arguments().first().value<QDBusUnixFileDescriptor>();
            bitacora("al aire: el equipo no se suspende por inactividad (logind)");
            return;
        }
        pedirSalvapantallas(vez);
    });
}

void Inhibidor::pedirSalvapantallas(int vez) {
    auto m = QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                            "org.freedesktop.ScreenSaver", "Inhibit");
    m << QString(quien) << QString(porque);
    llamar(this, sesion_, m, [this, vez](const QDBusMessage& r) {
        const bool bien = r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty();
        if (!bien) {
            if (vez == vez_) bitacora("al aire: no se pudo impedir la suspensión por inactividad");
            return;
        }
        galleta_ = r.arguments().first().toUInt();
        if (vez != vez_) soltar();  // released meanwhile
        else bitacora("al aire: el equipo no se suspende por inactividad (salvapantallas)");
    });
}

void Inhibidor::soltar() {
    candado_ = QDBusUnixFileDescriptor();  // logind's block ends when its descriptor closes
    if (!galleta_) return;
    auto m = QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                            "org.freedesktop.ScreenSaver", "UnInhibit");
    m << *galleta_;
    galleta_.reset();
    sesion_.asyncCall(m);
}

}  // namespace tt
