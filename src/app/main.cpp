#include "app/app.h"
#include "app/unica.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/cierres.h"
#include "cuenta/mandar_reportes.h"
#include "cuenta/reportes.h"
#include "ui/apariencia.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <memory>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

namespace {
// SIGTERM and SIGINT (the desktop logging out, Ctrl-C) only write a byte here; the main loop
// reads it and quits as the menu does.
int tuboSenales[2] = {-1, -1};

void alSenal(int) {
    const int antes = errno;
    const char c = 1;
    [[maybe_unused]] auto n = ::write(tuboSenales[1], &c, 1);
    errno = antes;
}
}  // namespace

int main(int argc, char** argv) {
    // A write into a pipe whose reader has gone must fail, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    if (auto error = tt::iniciarProceso(tt::Entorno::deProceso(environ), "/proc/self/exe")) {
        std::fprintf(stderr, "Tremolante Transmitir: %s\n", error->c_str());
        return 1;
    }
    // A crash leaves a report, sent at a later start.
    tt::instalarCierres(tt::carpetaInformes(), tt::versionApp());
    QApplication::setOrganizationName("Tremolante");
    QApplication::setApplicationName("Tremolante Transmitir");
    QApplication app(argc, argv);
    tt::aparienciaOscura();
    QApplication::setQuitOnLastWindowClosed(true);
    tt::bitacora("inicio: Tremolante Transmitir");
    tt::Unica unica(tt::claveDeCopia());
    if (!unica.primera()) {
        tt::bitacora("inicio: ya había una copia abierta con estos datos; se trae al frente");
        return 0;
    }
    tt::App delegado;
    unica.alLlamar = [&delegado] { delegado.traerAlFrente(); };
    std::unique_ptr<QSocketNotifier> senales;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, tuboSenales) == 0) {
        senales = std::make_unique<QSocketNotifier>(tuboSenales[0], QSocketNotifier::Read);
        QObject::connect(senales.get(), &QSocketNotifier::activated, &delegado, [&delegado] {
            char c[16];
            while (::read(tuboSenales[0], c, sizeof c) > 0) {
            }
            tt::bitacora("fin: señal de terminar");
            delegado.pedirSalida(false);
        });
        struct sigaction accion {};
        accion.sa_handler = alSenal;
        sigemptyset(&accion.sa_mask);
        accion.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &accion, nullptr);
        ::sigaction(SIGINT, &accion, nullptr);
    }
    QMetaObject::invokeMethod(&app, [&delegado] { delegado.lanzado(); }, Qt::QueuedConnection);
    int estado = app.exec();
    tt::pararReportes();
    tt::bitacora("fin: estado " + std::to_string(estado));
    return estado;
}
