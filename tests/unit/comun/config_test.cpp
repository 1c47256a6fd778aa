#include "comun/config.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tt;
using tt::prueba::CarpetaTemporal;

namespace {
const char* porDefecto =
    "{\n  \"servidor\": \"rtmp://127.0.0.1:1938/live/mac\",\n  \"kbps\": 1600,\n  \"preset\": 6\n}\n";
}

TEST(Config, sinArchivoSeCreaConLosValoresDeFabrica) {
    CarpetaTemporal d;
    Config c = leerConfig(d / "nueva");
    EXPECT_EQ(c.servidor, "rtmp://127.0.0.1:1938/live/mac");
    EXPECT_EQ(c.kbps, 1600);
    EXPECT_EQ(c.preset, 6);
    EXPECT_FALSE(c.entrada);
    EXPECT_FALSE(c.clave);
    EXPECT_EQ(prueba::leer(d / "nueva" / "config.json"), porDefecto);
    EXPECT_FALSE(std::filesystem::exists(d / "nueva" / "config.json.dañado"));
}

TEST(Config, seLeeTalCualConEntradaSinClave) {
    CarpetaTemporal d;
    const std::string propio =
        R"({"servidor": "rtmp://x/y", "kbps": 2500, "preset": 8, "entrada": "relay:7000", "otra": true})";
    prueba::escribir(d / "config.json", propio);
    Config c = leerConfig(d.ruta());
    EXPECT_EQ(c.servidor, "rtmp://x/y");
    EXPECT_EQ(c.kbps, 2500);
    EXPECT_EQ(c.preset, 8);
    EXPECT_EQ(c.entrada, "relay:7000");
    EXPECT_FALSE(c.clave);
    EXPECT_EQ(prueba::leer(d / "config.json"), propio);  // never rewritten when it reads
}

TEST(Config, unArchivoDanadoSeGuardaAlLadoYSeUsanLosValoresDeFabrica) {
    const std::string casos[] = {
        R"({"servidor": "rtmp://x", "kbps": 1, "entrada": "r:1", "clave": "k"})",  // no preset
        "no es json",
        R"({"servidor": "rtmp://x", "kbps": "1600", "preset": 6})",
        R"({"servidor": "rtmp://x", "kbps": 1600, "preset": 6, "clave": 5})",
        R"({"servidor": "rtmp://x", "kbps": 1e12, "preset": 6})",
        "[]",
        std::string(10 << 20, '\x07'),
    };
    for (const auto& caso : casos) {
        CarpetaTemporal d;
        prueba::escribir(d / "config.json", caso);
        Config c = leerConfig(d.ruta());
        EXPECT_EQ(c.kbps, 1600);
        EXPECT_EQ(prueba::leer(d / "config.json"), porDefecto);
        EXPECT_EQ(prueba::leer(d / "config.json.dañado"), caso);
    }
}

TEST(Config, unArchivoDanadoReemplazaElGuardadoAntes) {
    CarpetaTemporal d;
    prueba::escribir(d / "config.json", "uno");
    leerConfig(d.ruta());
    prueba::escribir(d / "config.json", "dos");
    leerConfig(d.ruta());
    EXPECT_EQ(prueba::leer(d / "config.json.dañado"), "dos");
}

TEST(Config, soloElDuenoLeeElArchivo) {
    CarpetaTemporal d;
    leerConfig(d.ruta());
    struct stat st{};
    ASSERT_EQ(stat((d / "config.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);  // it may hold the uplink key
}
