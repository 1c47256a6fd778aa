// Runs the real executable as a user would start it.
#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sys/wait.h>

namespace fs = std::filesystem;
using tt::prueba::CarpetaTemporal;

namespace {

struct Resultado {
    int estado = -1;
    std::string salida;
};

Resultado correr(const std::string& orden) {
    Resultado r;
    FILE* p = popen((orden + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.salida.append(buf, n);
    int s = pclose(p);
    r.estado = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return r;
}

std::string entornoDe(const CarpetaTemporal& casa, const CarpetaTemporal& datos) {
    return "env -i PATH=/usr/bin:/bin HOME=" + casa.ruta().string() + " TM_DATOS=" + datos.ruta().string() +
           " QT_QPA_PLATFORM=offscreen ";
}

}  // namespace

TEST(Arranque, abreYSaleConTmSalirDejandoConfigYBitacora) {
    CarpetaTemporal casa, datos;
    auto r = correr(entornoDe(casa, datos) + "TM_SALIR=1 timeout 30 " TM_BIN "/tremolante");
    ASSERT_EQ(r.estado, 0) << r.salida;
    EXPECT_EQ(tt::prueba::leer(casa / ".local/share/Tremolante/config.json"),
              "{\n  \"servidor\": \"rtmp://127.0.0.1:1938/live/mac\",\n  \"kbps\": 1600,\n  \"preset\": 6\n}\n");
    std::string log = tt::prueba::leer(casa / ".local/state/Tremolante/app.log");
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(^\d\d:\d\d:\d\d inicio: )")));
}

TEST(Arranque, sinCarpetaDeRecursosTerminaConUnMensajeClaro) {
    CarpetaTemporal copia, casa, datos;
    fs::create_directories(copia / "bin");
    fs::copy_file(fs::path(TM_BIN) / "tremolante", copia / "bin" / "tremolante");
    auto r = correr(entornoDe(casa, datos) + "TM_SALIR=1 timeout 30 " + (copia / "bin/tremolante").string());
    EXPECT_EQ(r.estado, 1);
    EXPECT_NE(r.salida.find("carpeta de recursos"), std::string::npos) << r.salida;
}
