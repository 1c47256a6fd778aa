#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "cuenta/cierres.h"
#include "cuenta/mandar_reportes.h"
#include "cuenta/reportes.h"
#include "ui/apariencia.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

extern char** environ;

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
    tt::App delegado;
    QMetaObject::invokeMethod(&app, [&delegado] { delegado.lanzado(); }, Qt::QueuedConnection);
    int estado = app.exec();
    tt::pararReportes();
    tt::bitacora("fin: estado " + std::to_string(estado));
    return estado;
}
