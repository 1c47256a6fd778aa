#include "principal/principal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <cmath>
#include <memory>

#if defined(__SANITIZE_THREAD__)
// Qt's event queue locks with its own futexes, which ThreadSanitizer does not see: the hand-over
// of the job to the main thread is announced to it explicitly.
extern "C" void __tsan_acquire(void* direccion);
extern "C" void __tsan_release(void* direccion);
#else
static void __tsan_acquire(void*) {}
static void __tsan_release(void*) {}
#endif

namespace tt {

void enPrincipal(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (!app) return;  // no event loop left: the process is ending
    auto trabajo = std::make_shared<std::function<void()>>(std::move(fn));
    __tsan_release(trabajo.get());
    QMetaObject::invokeMethod(
        app,
        [trabajo] {
            __tsan_acquire(trabajo.get());
            (*trabajo)();
        },
        Qt::QueuedConnection);
}

void enPrincipalDespues(double segundos, std::function<void()> fn) {
    int ms = segundos <= 0 ? 0 : int(std::lround(segundos * 1000));
    enPrincipal([ms, fn = std::move(fn)]() mutable {
        QTimer::singleShot(ms, QCoreApplication::instance(), std::move(fn));
    });
}

}  // namespace tt
