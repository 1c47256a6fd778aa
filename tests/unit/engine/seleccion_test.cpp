#include "engine/seleccion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tt {
namespace {

std::vector<Dispositivo> lista(std::initializer_list<const char*> nombres) {
    std::vector<Dispositivo> r;
    int i = 0;
    for (const char* n : nombres) r.push_back({"id" + std::to_string(i++), n});
    return r;
}

TEST(ElegirDispositivo, OrdenDePreferencia) {
    // A capture card beats a built-in camera, and a virtual camera is never preferred.
    EXPECT_EQ(elegirDispositivo(lista({"OBS Virtual Camera", "FaceTime HD Camera", "Cam Link 4K"}), std::nullopt), 2u);
    // Only avoided devices: the first one.
    EXPECT_EQ(elegirDispositivo(lista({"OBS Virtual Camera", "iPhone Camera"}), std::nullopt), 0u);
    // Nothing preferred: the first device that is not avoided.
    EXPECT_EQ(elegirDispositivo(lista({"Virtual Cam", "HP Webcam", "Integrated"}), std::nullopt), 1u);
    // The remembered id wins over any name.
    EXPECT_EQ(elegirDispositivo(lista({"Cam Link 4K", "OBS Virtual Camera"}), std::string("id1")), 1u);
    // A remembered id that is no longer listed falls back to the names.
    EXPECT_EQ(elegirDispositivo(lista({"HP Webcam", "Sony ILCE-7M4"}), std::string("gone")), 1u);
    EXPECT_FALSE(elegirDispositivo({}, std::string("id0")));
}

TEST(ElegirDispositivo, NombresSeComparanConMayusculas) {
    // "sony" in lower case is not the preferred expression; "iphone" is not avoided either.
    EXPECT_EQ(elegirDispositivo(lista({"sony fake", "USB3 Video"}), std::nullopt), 1u);
    EXPECT_EQ(elegirDispositivo(lista({"my iphone", "Webcam"}), std::nullopt), 0u);
    // Anywhere in the name, and the same rules hold for microphones.
    EXPECT_EQ(elegirDispositivo(lista({"Built-in Audio", "Elgato HDMI Capture audio"}), std::nullopt), 1u);
}

bool soloVideo0(const std::string& id) { return id == "/dev/video0"; }

TEST(AccesoCamara, SinPermisoSoloSiNingunaSePuedeAbrir) {
    EXPECT_TRUE(accesoCamara({}, &soloVideo0));  // no camera: nothing refused, "Conecta una cámara"
    EXPECT_FALSE(accesoCamara({{"/dev/video2", "HD Webcam"}, {"/dev/video4", "Cam Link 4K"}}, &soloVideo0));
    EXPECT_TRUE(accesoCamara({{"/dev/video2", "HD Webcam"}, {"/dev/video0", "Cam Link 4K"}}, &soloVideo0));
}

TEST(ElegirFormato, ElMasAltoHasta1080YLuegoElMasRapido) {
    std::vector<FormatoCamara> f{
        {3840, 2160, {{1, 30}}},
        {1920, 1080, {{1, 30}}},
        {1920, 1080, {{1, 60}}},
        {1280, 720, {{1, 120}}},
    };
    auto e = elegirFormato(f);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->indice, 2u);
    EXPECT_EQ(e->texto, "1920×1080 a 60 cuadros");
    EXPECT_DOUBLE_EQ(e->duracion, 1.0 / 60);
}

TEST(ElegirFormato, RangoAmplioSeFijaA60) {
    auto e = elegirFormato({{1920, 1080, {{10, 120}}}});
    ASSERT_TRUE(e);
    EXPECT_DOUBLE_EQ(e->duracion, 1.0 / 60);
    EXPECT_EQ(e->texto, "1920×1080 a 60 cuadros");
    // A range that cannot go down to 60 keeps its own shortest duration.
    EXPECT_DOUBLE_EQ(duracionCuadro({90, 120}), 1.0 / 120);
    EXPECT_DOUBLE_EQ(duracionCuadro({5, 30}), 1.0 / 30);
    EXPECT_EQ(formatoTexto(1280, 720, 29.97), "1280×720 a 30 cuadros");
    // What goes out: at most 720 lines, never more than comes in, an even width.
    EXPECT_EQ(e->salida, "Sale en 1280×720");
    EXPECT_EQ(salidaTexto(640, 480), "Sale en 640×480");
    EXPECT_EQ(salidaTexto(1440, 1080), "Sale en 960×720");
    EXPECT_EQ(salidaTexto(1366, 1024), "Sale en 960×720");
}

TEST(ElegirFormato, RangosEmpatesYFormatosInservibles) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<FormatoCamara> f{
        {1920, 1080, {{1, inf}}},               // not finite: skipped
        {1920, 1080, {{0, 0}}},                 // no rate: skipped
        {1280, 720, {{1, 15}, {1, 30}, {1, 24}}},  // best range is the second
        {1280, 720, {{1, 30}}},                 // same score: the first stays
        {800, 600, {}},
    };
    auto e = elegirFormato(f);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->indice, 2u);
    EXPECT_EQ(e->rango, 1u);
    EXPECT_EQ(e->texto, "1280×720 a 30 cuadros");
    // 60.5 is the cap of the score: 61 and 120 score alike, so the first of them stays.
    auto g = elegirFormato({{1920, 1080, {{1, 61}}}, {1920, 1080, {{1, 120}}}});
    ASSERT_TRUE(g);
    EXPECT_EQ(g->indice, 0u);
    EXPECT_FALSE(elegirFormato({{3840, 2160, {{1, 30}}}}));
    EXPECT_FALSE(elegirFormato({}));
}

TEST(RitmoFalso, NumeroEnteroOTreinta) {
    EXPECT_EQ(ritmoFalso(std::nullopt), 30);
    EXPECT_EQ(ritmoFalso(std::string("")), 30);
    EXPECT_EQ(ritmoFalso(std::string("si")), 30);
    EXPECT_EQ(ritmoFalso(std::string("25.5")), 30);
    EXPECT_EQ(ritmoFalso(std::string(" 60 ")), 60);
    EXPECT_EQ(ritmoFalso(std::string("1")), 1);
    // A rate no timer can honour.
    EXPECT_EQ(ritmoFalso(std::string("0")), 30);
    EXPECT_EQ(ritmoFalso(std::string("-5")), 30);
    EXPECT_EQ(ritmoFalso(std::string("100000")), 240);
    EXPECT_EQ(ritmoFalso(std::string("99999999999999999999")), 30);
}

TEST(Rebote, UnaRafagaDaUnSoloTrabajo) {
    Rebote r(0.7);
    EXPECT_FALSE(r.toca(0));
    // Unplugged at 10.0 and plugged back at 10.4: the job waits for 0.7 s after the last.
    r.avisar(10.0);
    r.avisar(10.4);
    ASSERT_TRUE(r.cuando());
    EXPECT_DOUBLE_EQ(*r.cuando(), 11.1);
    EXPECT_FALSE(r.toca(10.7));
    EXPECT_FALSE(r.toca(11.05));
    EXPECT_TRUE(r.toca(11.1));
    EXPECT_FALSE(r.toca(11.2));  // once
    EXPECT_FALSE(r.cuando());
    r.avisar(20);
    EXPECT_TRUE(r.toca(25));
}

}  // namespace
}  // namespace tt
