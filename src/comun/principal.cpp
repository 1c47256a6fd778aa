#include "comun/principal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <cmath>

namespace tt {

void enPrincipal(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (!app) return;  // no event loop left: the process is ending
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void enPrincipalDespues(double segundos, std::function<void()> fn) {
    int ms = segundos <= 0 ? 0 : int(std::lround(segundos * 1000));
    enPrincipal([ms, fn = std::move(fn)]() mutable {
        QTimer::singleShot(ms, QCoreApplication::instance(), std::move(fn));
    });
}

}  // namespace tt
