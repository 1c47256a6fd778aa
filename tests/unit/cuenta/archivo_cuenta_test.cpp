// remoto.json as a hostile or damaged disk may hold it.
#include "cuenta/archivo_cuenta.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tt {
namespace {

using prueba::escribir;

TEST(ArchivoCuenta, seGuardaPrivadoYSeBorraAlSalir) {
    prueba::CarpetaTemporal d;
    const auto ruta = d / "remoto.json";
    guardarCuenta(ruta, Cuenta{"a@b.c", "sala1", "ficha1"});
    struct stat st {};
    ASSERT_EQ(stat(ruta.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto c = leerCuenta(ruta);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->sala, "sala1");
    EXPECT_EQ(c->ficha, "ficha1");
    guardarCuenta(ruta, std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(ruta));
}

TEST(ArchivoCuenta, loQueNoEsUnaCuentaEmpiezaSinSesion) {
    prueba::CarpetaTemporal d;
    escribir(d / "sin_ficha.json", R"({"correo":"a@b.c","sala":"s"})");
    escribir(d / "no_texto.json", R"({"correo":"a@b.c","sala":"s","ficha":7})");
    escribir(d / "basura.json", std::string(10 << 20, '{'));
    escribir(d / "bien.json", R"({"correo":"a@b.c","sala":"s","ficha":"f"})");
    std::filesystem::create_symlink(d / "bien.json", d / "enlace.json");
    std::filesystem::create_directory(d / "carpeta.json");
    ASSERT_EQ(mkfifo((d / "tubo.json").c_str(), 0600), 0);  // opening it must not wait for a writer
    EXPECT_TRUE(leerCuenta(d / "bien.json"));
    for (auto n : {"sin_ficha.json", "no_texto.json", "basura.json", "enlace.json", "carpeta.json", "tubo.json", "nada.json"})
        EXPECT_FALSE(leerCuenta(d / n)) << n;
}

}  // namespace
}  // namespace tt
