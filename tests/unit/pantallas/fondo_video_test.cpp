// Background video pacing with the clock passed in: the frame due, looping, staying on the last frame.
#include "pantallas/fondo_video.h"
#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace tt {
namespace {

namespace fs = std::filesystem;

// Ten frames of 0.1 s, each picture different (the test pattern's counter moves).
class Video : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        carpeta = new prueba::CarpetaTemporal;
        const std::string orden = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                                  "testsrc=size=64x48:rate=10:duration=1 -pix_fmt yuv420p " +
                                  (carpeta->ruta() / "diez.mp4").string() + " 2>/dev/null";
        ASSERT_EQ(std::system(orden.c_str()), 0);
    }
    static void TearDownTestSuite() { delete carpeta; }
    static fs::path ruta() { return carpeta->ruta() / "diez.mp4"; }
    static std::size_t huella(const FondoVideo::Vista& v) {
        if (!v.cuadro) return 0;
        const Cuadro& c = *v.cuadro;
        return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(c.y()), std::size_t(c.pasoY) * c.alto));
    }
    static inline prueba::CarpetaTemporal* carpeta = nullptr;
};

TEST_F(Video, ElCuadroQueTocaYLaVuelta) {
    auto v = FondoVideo::abrir(ruta(), 0, 100);
    ASSERT_TRUE(v);
    const auto a0 = v->en(100);
    ASSERT_TRUE(a0.cuadro);
    EXPECT_EQ(a0.cuadro->ancho, 64);
    EXPECT_EQ(a0.tiempo, 0);
    EXPECT_EQ(huella(v->en(100.05)), huella(a0));  // the second frame is due at 0.1
    const auto a2 = v->en(100.25);
    EXPECT_NE(huella(a2), huella(a0));
    EXPECT_TRUE(a2.avanza);
    EXPECT_DOUBLE_EQ(a2.tiempo, 0.25);
    const auto a9 = v->en(100.95);
    EXPECT_NE(huella(a9), huella(a2));
    // Past the end (1 s) it starts again: at 1.25 s the picture of 0.25 s.
    const auto b2 = v->en(101.25);
    EXPECT_NEAR(b2.tiempo, 0.25, 1e-9);
    EXPECT_TRUE(b2.avanza);
    EXPECT_FALSE(b2.termino);
    EXPECT_EQ(huella(b2), huella(a2));
    // A long gap lands in the right lap too.
    EXPECT_EQ(huella(v->en(107.25)), huella(a2));
}

TEST_F(Video, SeQuedaEnElUltimoCuadro) {
    for (int accion : {1, 2}) {
        auto v = FondoVideo::abrir(ruta(), accion, 0);
        ASSERT_TRUE(v);
        v->en(0);
        const auto ultimo = v->en(0.95);
        EXPECT_FALSE(ultimo.termino);
        const auto fin = v->en(1.5);
        EXPECT_EQ(fin.termino, accion == 1) << accion;
        EXPECT_FALSE(fin.avanza);
        EXPECT_NEAR(fin.tiempo, 1.0, 1e-6);
        EXPECT_EQ(huella(fin), huella(ultimo));
        const auto despues = v->en(9);
        EXPECT_FALSE(despues.termino);  // reported once
        EXPECT_FALSE(despues.avanza);
        EXPECT_EQ(huella(despues), huella(ultimo));
        // Back to the start when a transmission begins.
        v->reiniciar(20);
        const auto otra = v->en(20);
        EXPECT_EQ(otra.tiempo, 0);
        EXPECT_NE(huella(otra), huella(ultimo));
        EXPECT_TRUE(v->en(20.3).avanza);
    }
}

TEST_F(Video, CambiarLaAccionFinal) {
    auto v = FondoVideo::abrir(ruta(), 2, 0);
    ASSERT_TRUE(v);
    v->en(0.5);
    v->alTerminar(0);  // the screen was edited to loop before the end came
    const auto r = v->en(1.2);
    EXPECT_TRUE(r.avanza);
    EXPECT_NEAR(r.tiempo, 0.2, 1e-9);
}

TEST_F(Video, ArchivosQueNoSonVideo) {
    prueba::escribir(carpeta->ruta() / "texto.mp4", "esto no es un video");
    EXPECT_FALSE(FondoVideo::abrir(carpeta->ruta() / "texto.mp4", 0, 0));
    EXPECT_FALSE(FondoVideo::abrir(carpeta->ruta() / "no-existe.mp4", 0, 0));
}

}  // namespace
}  // namespace tt
