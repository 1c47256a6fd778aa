#include "comun/json.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tt;
using tt::prueba::CarpetaTemporal;

TEST(Json, escribeConOrdenSangriaYSinEscaparBarras) {
    CarpetaTemporal d;
    Json j;
    j["zeta"] = "rtmp://h/a/b";
    j["alfa"] = 1;
    j["eñe"] = "Pantalla nueva · 2";
    ASSERT_TRUE(escribirJson(d / "a.json", j));
    EXPECT_EQ(prueba::leer(d / "a.json"),
              "{\n  \"zeta\": \"rtmp://h/a/b\",\n  \"alfa\": 1,\n  \"eñe\": \"Pantalla nueva · 2\"\n}\n");
    auto leido = leerJson(d / "a.json");
    ASSERT_TRUE(leido);
    EXPECT_EQ(*leido, j);
}

TEST(Json, lecturaFallidaEsAusencia) {
    CarpetaTemporal d;
    EXPECT_FALSE(leerJson(d / "no-existe.json"));
    prueba::escribir(d / "roto.json", "{\"a\": ");
    EXPECT_FALSE(leerJson(d / "roto.json"));
    prueba::escribir(d / "grande.json", std::string(2000, ' ') + "{}");
    EXPECT_FALSE(leerJson(d / "grande.json", 1000));
    EXPECT_TRUE(leerJson(d / "grande.json"));
}

TEST(Json, escrituraAtomicaPrivadaYSinRestos) {
    CarpetaTemporal d;
    ASSERT_TRUE(escribirAtomico(d / "c.json", "viejo"));
    ASSERT_TRUE(escribirAtomico(d / "c.json", "secreto", true));
    EXPECT_EQ(prueba::leer(d / "c.json"), "secreto");
    struct stat st{};
    ASSERT_EQ(stat((d / "c.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(escribirAtomico(d / "p.json", "público"));
    ASSERT_EQ(stat((d / "p.json").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u);
    // A public file follows the process's umask, which stays as it was.
    const mode_t antes = ::umask(027);
    ASSERT_TRUE(escribirAtomico(d / "p.json", "del grupo"));
    EXPECT_EQ(::umask(antes), 027u);
    ASSERT_EQ(stat((d / "p.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int archivos = 0;
    for (auto& e : std::filesystem::directory_iterator(d.ruta())) (void)e, ++archivos;
    EXPECT_EQ(archivos, 2);  // no temporary sibling left behind
    EXPECT_FALSE(escribirAtomico(d / "falta" / "x.json", "x"));
}
