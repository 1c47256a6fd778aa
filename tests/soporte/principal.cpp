// Entry point of every test program: a Qt application without a screen and process values that
// point into a private temporary folder, so no test touches the user's files.
#include "soporte/soporte.h"

#include "comun/proceso.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tt::prueba {

namespace {
CarpetaTemporal* raiz = nullptr;
}

const std::filesystem::path& raizPruebas() { return raiz->ruta(); }

}  // namespace tt::prueba

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);  // as the application does: a dead encoder's pipe is an error, not a kill
    ::testing::InitGoogleTest(&argc, argv);
    tt::prueba::CarpetaTemporal raiz;
    tt::prueba::raiz = &raiz;
    // Without a display: one 1600×1000 screen, where the main window has room for its full size.
    const char* plataforma = std::getenv("QT_QPA_PLATFORM");
    if (!plataforma || std::strcmp(plataforma, "offscreen") == 0) {
        const auto pantalla = raiz.ruta() / "pantalla.json";
        std::ofstream(pantalla) << R"({"screens": [{"name": "prueba", "x": 0, "y": 0, "width": 1600, "height": 1000}]})";
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + pantalla.string()).c_str(), 1);
    }
    setenv("HOME", raiz.ruta().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (raiz.ruta() / ".config").c_str(), 1);

    tt::Proceso p;
    p.recursos = std::filesystem::path(TM_BIN) / ".." / "share" / "tremolante";
    p.casa = raiz.ruta();
    p.carpetaLog = raiz.ruta() / "log";
    p.carpetaHogar = raiz.ruta() / "hogar";
    p.entorno = tt::Entorno({{"TM_DATOS", (raiz.ruta() / "datos").string()}});
    std::filesystem::create_directories(p.carpetaLog);
    tt::fijarProceso(p);

    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
