// The screen sound against real files made here by the ffmpeg command.
#include "pantallas/sonido_archivo.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numeric>

namespace tt {
namespace {

namespace fs = std::filesystem;

bool ffmpeg(const std::string& argumentos) {
    const std::string orden = "ffmpeg -hide_banner -loglevel error -nostdin -y " + argumentos + " 2>/dev/null";
    return std::system(orden.c_str()) == 0;
}

// Power of one frequency in the left channel of interleaved 48 kHz stereo (Goertzel).
double potencia(const std::vector<std::int16_t>& m, double hz) {
    const double w = 2 * M_PI * hz / 48000, k = 2 * std::cos(w);
    double a = 0, b = 0;
    for (std::size_t i = 0; i < m.size(); i += 2) {
        const double s = m[i] / 32768.0 + k * a - b;
        b = a;
        a = s;
    }
    return (a * a + b * b - k * a * b) / double(m.size() / 2);
}

bool ceros(const std::vector<std::int16_t>& m, std::size_t desde, std::size_t hasta) {
    return std::all_of(m.begin() + std::ptrdiff_t(desde), m.begin() + std::ptrdiff_t(hasta),
                       [](std::int16_t v) { return v == 0; });
}

class SonidoReal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new prueba::CarpetaTemporal;
        // 3 s: a picture, a 440 Hz track at 48 kHz stereo and a 1000 Hz track at 44.1 kHz mono.
        dosPistas = (*dir / "dos.mkv").string();
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=10:duration=3"
                           " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3"
                           " -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=3"
                           " -map 0:v -map 1:a -map 2:a -c:v mpeg4 -c:a pcm_s16le -ac:a:0 2 -ac:a:1 1 " + dosPistas));
        soloVideo = (*dir / "mudo.mp4").string();
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=10:duration=1 -c:v mpeg4 " + soloVideo));
        aac = (*dir / "aac.mp4").string();
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=10:duration=2"
                           " -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=2"
                           " -c:v mpeg4 -c:a aac -ac 1 " + aac));
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }

    static inline prueba::CarpetaTemporal* dir = nullptr;
    static inline std::string dosPistas, soloVideo, aac;
};

TEST_F(SonidoReal, MezclaTodasLasPistasA48kEstereo) {
    auto s = SonidoArchivo::abrir(dosPistas);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pistas(), 2);
    EXPECT_DOUBLE_EQ(s->posicion(), -10);
    // The first read at 0 starts from the beginning.
    const auto m = s->leer(9600, 0);
    ASSERT_EQ(m.size(), 19200u);
    EXPECT_DOUBLE_EQ(s->posicion(), 0.2);
    const double p440 = potencia(m, 440), p1000 = potencia(m, 1000), p3000 = potencia(m, 3000);
    EXPECT_GT(p440, 100 * p3000);
    EXPECT_GT(p1000, 100 * p3000);  // the 44.1 kHz mono track, resampled and mixed in
    for (std::size_t i = 0; i < m.size(); i += 2) ASSERT_EQ(m[i], m[i + 1]) << i;
    EXPECT_FALSE(ceros(m, 0, 200));
    EXPECT_FALSE(SonidoArchivo::abrir(soloVideo));
}

TEST_F(SonidoReal, SigueSinSaltosYSeReubicaAlDerivar) {
    auto entera = SonidoArchivo::abrir(dosPistas)->leer(7200, 0);

    auto s = SonidoArchivo::abrir(dosPistas);
    auto a = s->leer(2400, 0);
    // 0.2 s off the expected 0.05: within 0.3 s, so the stream just goes on.
    auto b = s->leer(4800, 0.25);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, entera);
    EXPECT_DOUBLE_EQ(s->posicion(), 0.15);

    // Far from the picture: re-seeks to the video's time.
    auto lejos = s->leer(2400, 1.5);
    EXPECT_EQ(lejos, SonidoArchivo::abrir(dosPistas)->leer(2400, 1.5));
    EXPECT_NE(lejos, std::vector<std::int16_t>(entera.begin(), entera.begin() + 4800));
    EXPECT_DOUBLE_EQ(s->posicion(), 1.55);

    // The video loops: back near 0, the sound starts over.
    auto otraVez = s->leer(2400, 0.01);
    EXPECT_EQ(otraVez, SonidoArchivo::abrir(dosPistas)->leer(2400, 0.01));
    EXPECT_EQ(std::vector<std::int16_t>(otraVez.begin(), otraVez.begin() + 100),
              std::vector<std::int16_t>(entera.begin() + 960, entera.begin() + 1060));
}

TEST_F(SonidoReal, AlFinalRellenaConCeros) {
    auto s = SonidoArchivo::abrir(dosPistas);
    // 2.5 s to 3.5 s: half a second of sound, then zeros up to the length asked for.
    const auto m = s->leer(48000, 2.5);
    ASSERT_EQ(m.size(), 96000u);
    EXPECT_FALSE(ceros(m, 0, 40000));
    EXPECT_TRUE(ceros(m, 48200, 96000));
    const auto despues = s->leer(4800, 3.5);
    ASSERT_EQ(despues.size(), 9600u);
    EXPECT_TRUE(ceros(despues, 0, despues.size()));
    // A time before the start reads from 0 onward.
    const auto antes = SonidoArchivo::abrir(dosPistas)->leer(480, -1);
    EXPECT_EQ(antes.size(), 960u);
}

TEST_F(SonidoReal, ArchivoAacYArchivoCortado) {
    auto s = SonidoArchivo::abrir(aac);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pistas(), 1);
    const auto m = s->leer(9600, 0.5);
    EXPECT_GT(potencia(m, 1000), 100 * potencia(m, 3000));

    // The same file cut in the middle: whatever can be read plays, the rest is zeros.
    const std::string todo = prueba::leer(dosPistas);
    const auto cortado = (*dir / "cortado.mkv");
    prueba::escribir(cortado, todo.substr(0, todo.size() / 2));
    auto c = SonidoArchivo::abrir(cortado.string());
    ASSERT_TRUE(c);
    const auto n = c->leer(48000 * 3, 0);
    ASSERT_EQ(n.size(), std::size_t(48000 * 6));
    EXPECT_FALSE(ceros(n, 0, 48000));
    EXPECT_TRUE(ceros(n, n.size() - 48000, n.size()));
    // A file that disappears after opening: silence, no crash.
    auto v = SonidoArchivo::abrir(dosPistas);
    const auto copia = (*dir / "copia.mkv");
    fs::copy_file(dosPistas, copia);
    auto w = SonidoArchivo::abrir(copia.string());
    ASSERT_TRUE(w);
    fs::remove(copia);
    const auto silencio = w->leer(4800, 0);
    EXPECT_TRUE(ceros(silencio, 0, silencio.size()));
}

TEST_F(SonidoReal, CambioDeFrecuenciaAMitadDeArchivo) {
    // Two MP3 streams laid end to end: 440 Hz at 44.1 kHz, then 1000 Hz at 22.05 kHz.
    const auto a = (*dir / "a.mp3"), b = (*dir / "b.mp3"), c = (*dir / "c.mp3");
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 " + a.string()));
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=1000:sample_rate=22050:duration=1 " + b.string()));
    prueba::escribir(c, prueba::leer(a) + prueba::leer(b));
    auto s = SonidoArchivo::abrir(c.string());
    ASSERT_TRUE(s);
    const auto m = s->leer(48000 * 2, 0);
    const std::vector<std::int16_t> primero(m.begin() + 9600, m.begin() + 86400);
    const std::vector<std::int16_t> segundo(m.begin() + 115200, m.begin() + 172800);
    EXPECT_GT(potencia(primero, 440), 100 * potencia(primero, 1000));
    // Read at its own rate, the second stream stays at 1000 Hz (not 2000).
    EXPECT_GT(potencia(segundo, 1000), 100 * potencia(segundo, 2000));
}

}  // namespace
}  // namespace tt
