// The fallback picture made with FFmpeg's libraries in the format of a real encoder's stream.
#include "relay/empalme.h"
#include "relay/imagen_respaldo.h"
#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace tt::relay;
using namespace tt::prueba;

namespace {

std::string salida(const std::string& orden) {
    std::string r;
    if (FILE* p = popen(orden.c_str(), "r")) {
        char b[4096];
        std::size_t n;
        while ((n = std::fread(b, 1, sizeof b, p)) > 0) r.append(b, n);
        pclose(p);
    }
    return r;
}

// Mean difference per byte between two pictures reduced to 32×18 RGB.
double diferencia(const std::string& a, const std::string& b) {
    const std::string reducir = " -frames:v 1 -vf scale=32:18 -f rawvideo -pix_fmt rgb24 - 2>/dev/null";
    const std::string x = salida("ffmpeg -v error -i " + a + reducir), y = salida("ffmpeg -v error -i " + b + reducir);
    if (x.size() != 32 * 18 * 3 || x.size() != y.size()) return 255;
    double d = 0;
    for (std::size_t i = 0; i < x.size(); ++i) d += std::abs(int(std::uint8_t(x[i])) - int(std::uint8_t(y[i])));
    return d / double(x.size());
}

}  // namespace

TEST(ImagenRespaldo, enElFormatoDelFlujoYConLosColoresDeLaImagen) {
    CarpetaTemporal c;
    const auto flujo = (c / "flujo.flv").string(), foto = (c / "foto.jpg").string();
    // A stream of another size, rate and sound than the app's defaults.
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i "
                           "sine=sample_rate=44100 -t 2 -c:v libx264 -preset ultrafast -g 50 -c:a aac -ac 1 " +
                           flujo)
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i color=c=0x2050c0:size=1280x720,drawbox=x=300:y=200:w=600:"
                           "h=300:color=0xf0d020:t=fill -frames:v 1 " + foto)
                              .c_str()),
              0);
    Empalme e;
    e.poner(leer(flujo), 1);
    const auto f = e.formato();
    ASSERT_TRUE(f);
    EXPECT_NEAR(f->cps, 25, 0.5);

    const auto hecho = hacerRelleno(leer(foto), *f);
    EXPECT_EQ(hecho.aviso, "");
    const Relleno& r = hecho.relleno;
    ASSERT_FALSE(r.cuadros.empty());
    EXPECT_NEAR(double(r.cuadros.size()) / r.cps, 0.5, 0.05);  // a key frame every half second
    EXPECT_EQ(std::uint8_t(r.cuadros[0][0]) >> 4, 1);
    for (std::size_t i = 1; i < r.cuadros.size(); ++i) EXPECT_EQ(std::uint8_t(r.cuadros[i][0]) >> 4, 2);
    // The silence has the stream's own configuration, so none is sent again around it.
    EXPECT_EQ(r.configAudio, f->configAudio);
    EXPECT_NEAR(r.msAudio, 1024 / 44.1, 0.01);

    // Two loops of it as a player would get them: they decode cleanly, at the stream's size, and
    // show the picture.
    std::string flv = cabeceraFlv() + enFlv({9, 0, r.configVideo}) + enFlv({8, 0, r.configAudio});
    for (std::size_t i = 0; i < 2 * r.cuadros.size(); ++i) {
        flv += enFlv({9, std::int64_t(double(i) * 1000 / r.cps), r.cuadros[i % r.cuadros.size()]});
        flv += enFlv({8, std::int64_t(double(i) * r.msAudio), r.audio});
    }
    const auto relleno = (c / "relleno.flv").string();
    escribir(relleno, flv);
    EXPECT_EQ(salida("ffmpeg -v error -i " + relleno + " -f null - 2>&1"), "");
    EXPECT_EQ(salida("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 " + relleno),
              "640,360\n");
    EXPECT_LT(diferencia(relleno, foto), 6);
}

TEST(ImagenRespaldo, unJpegIlegibleDejaElSilencioYLoDice) {
    CarpetaTemporal c;
    const auto flujo = (c / "flujo.flv").string();
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=30 -f lavfi -i "
                           "sine=sample_rate=48000 -t 1 -c:v libx264 -preset ultrafast -c:a aac -ac 2 " + flujo)
                              .c_str()),
              0);
    Empalme e;
    e.poner(leer(flujo), 1);
    ASSERT_TRUE(e.formato());
    const auto hecho = hacerRelleno("\xff\xd8\xff\xe0 no es un JPEG", *e.formato());
    EXPECT_NE(hecho.aviso.find("JPEG"), std::string::npos) << hecho.aviso;
    EXPECT_TRUE(hecho.relleno.cuadros.empty());  // the last key frame is repeated instead
    EXPECT_FALSE(hecho.relleno.audio.empty());
}
