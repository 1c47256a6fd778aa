// The compositor against real files made here by the ffmpeg command: video backgrounds (rotated,
// damaged, without video, changing size), a corrupt image, and stills of a store written as PNG.
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "pantallas/fondo_video.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace tt {
namespace {

namespace fs = std::filesystem;

bool ffmpeg(const std::string& argumentos) {
    const std::string orden = "ffmpeg -hide_banner -loglevel error -nostdin -y " + argumentos + " 2>/dev/null";
    return std::system(orden.c_str()) == 0;
}

Cuadro gris(int W, int H, std::uint8_t y) {
    Cuadro c = nuevoCuadro(W, H);
    std::fill(c.y(), c.y() + std::size_t(W) * H, y);
    std::fill(c.uv(), c.uv() + std::size_t(W) * H / 2, 128);
    return c;
}

int luz(const Cuadro& c, int x, int y) { return c.y()[std::size_t(y) * c.pasoY + x]; }

int maximo(const Cuadro& c, int x0, int y0, int x1, int y1) {
    int m = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) m = std::max(m, luz(c, x, y));
    return m;
}

class Medios : public ::testing::Test {
protected:
    prueba::CarpetaTemporal carpeta;
    Almacen almacen{carpeta.ruta()};
    fs::path medio(const std::string& nombre) { return almacen.medios() / nombre; }

    Pantalla conVideo(const std::string& archivo, bool rellenar = true) {
        Pantalla p;
        p.id = "video-" + archivo;
        p.archivo = archivo;
        p.esVideo = true;
        p.rellenar = rellenar;
        return p;
    }
};

TEST_F(Medios, VideoConSonidoAvanzaYSeMezcla) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=640x360:rate=30:duration=2 -f lavfi -i sine=frequency=440:duration=2 "
                       "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac -shortest " + medio("con.mp4").string()));
    Compositor c;
    Pantalla p = conVideo("con.mp4");
    p.micro = false;
    c.poner(p, almacen, 0);
    const Cuadro cam = gris(1280, 720, 80);
    std::vector<std::size_t> huellas;
    for (double t : {0.0, 0.5, 1.0, 1.5}) {
        const Cuadro s = c.cuadro(cam, t);
        ASSERT_EQ(s.ancho, 1280);
        huellas.push_back(std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(s.y()), 1280 * 720)));
        // The microphone is closed: what is heard is the video's sound, while its picture advances.
        std::vector<std::uint8_t> bloque(4096, 0);
        c.mezclar(bloque, true);
        if (t > 0) {
            EXPECT_TRUE(std::any_of(bloque.begin(), bloque.end(), [](auto b) { return b != 0; })) << t;
        }
    }
    std::sort(huellas.begin(), huellas.end());
    EXPECT_EQ(std::unique(huellas.begin(), huellas.end()) - huellas.begin(), 4);  // four different pictures

    // Editing the screen on air (not its file) keeps the video where it was: with the edit at 1.7 s
    // the picture at 1.8 s is the one of a compositor left alone. Both are asked at every frame of
    // the video, so neither has to catch up.
    Pantalla editada = p;
    editada.volumen = 0.5;
    Compositor uno, dos;
    uno.poner(p, almacen, 0);
    dos.poner(p, almacen, 0);
    Cuadro a, b;
    for (int i = 0; i <= 54; ++i) {
        if (i == 51) uno.poner(editada, almacen, 1.7);
        a = uno.cuadro(cam, i / 30.0);
        b = dos.cuadro(cam, i / 30.0);
    }
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(a.y()), 1280 * 720),
              std::string_view(reinterpret_cast<const char*>(b.y()), 1280 * 720));
}

TEST_F(Medios, FinDelVideoAvisaUnaVezEnElHiloPrincipal) {
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x90:rate=10:duration=1 -pix_fmt yuv420p " + medio("corto.mp4").string()));
    Compositor c;
    int avisos = 0;
    c.alTerminarVideo = [&] { ++avisos; };
    Pantalla p = conVideo("corto.mp4");
    p.alTerminar = 1;
    c.poner(p, almacen, 0);
    const Cuadro cam = gris(320, 180, 80);
    for (int i = 0; i < 30; ++i) c.cuadro(cam, i * 0.1);
    EXPECT_EQ(avisos, 0);  // posted, not called on the frame's thread
    QCoreApplication::processEvents();
    EXPECT_EQ(avisos, 1);
}

TEST_F(Medios, VideoGiradoSeMuestraDerecho) {
    const fs::path plano = carpeta / "plano.mp4";
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=320x180:rate=10:duration=1 -pix_fmt yuv420p " + plano.string()));
    ASSERT_TRUE(ffmpeg("-i " + plano.string() + " -c copy -metadata:s:v:0 rotate=90 " + medio("girado.mp4").string()));
    auto v = FondoVideo::abrir(medio("girado.mp4"), 0, 0);
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->giro() == 90 || v->giro() == 270) << v->giro();
    const auto vista = v->en(0);
    ASSERT_TRUE(vista.cuadro);
    EXPECT_EQ(vista.cuadro->ancho, 180);
    EXPECT_EQ(vista.cuadro->alto, 320);

    // Fitted whole in a 16:9 frame: a tall picture in the middle, black at the sides.
    Compositor c;
    c.poner(conVideo("girado.mp4", false), almacen, 0);
    const Cuadro s = c.cuadro(gris(640, 360, 80), 0.05);
    EXPECT_EQ(maximo(s, 0, 0, 200, 360), 16);
    EXPECT_EQ(maximo(s, 440, 0, 640, 360), 16);
    EXPECT_GT(maximo(s, 230, 0, 410, 360), 100);
}

TEST_F(Medios, ArchivosDanadosNoDetienenNada) {
    // Truncated in the middle, audio only, a size change mid-file, and an image that is not one.
    const fs::path entero = carpeta / "entero.mp4";
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=320x180:rate=30:duration=3 -pix_fmt yuv420p -movflags +faststart " +
                       entero.string()));
    {
        const std::string datos = prueba::leer(entero);
        prueba::escribir(medio("cortado.mp4"), datos.substr(0, datos.size() / 2));
    }
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:duration=1 " + medio("sonido.m4a").string()));
    const fs::path a = carpeta / "a.ts", b = carpeta / "b.ts";
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=320x180:rate=10:duration=1 -pix_fmt yuv420p -c:v mpeg2video " + a.string()));
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x120:rate=10:duration=1 -pix_fmt yuv420p -c:v mpeg2video "
                       "-output_ts_offset 1 " + b.string()));
    prueba::escribir(medio("mezcla.ts"), prueba::leer(a) + prueba::leer(b));
    prueba::escribir(medio("rota.png"), std::string("\x89PNG\r\n\x1a\n", 8) + std::string(500, 'x'));

    const Cuadro cam = gris(640, 360, 80);
    for (const char* archivo : {"cortado.mp4", "sonido.m4a", "mezcla.ts", "rota.png", "falta.mp4"}) {
        Compositor c;
        Pantalla p = conVideo(archivo);
        p.esVideo = std::string(archivo) != "rota.png";
        p.titulo = "Seguimos";
        p.alTerminar = 2;
        c.poner(p, almacen, 0);
        for (int i = 0; i < 150; ++i) {
            const Cuadro s = c.cuadro(cam, i / 30.0);
            ASSERT_EQ(s.ancho, 640) << archivo;
            EXPECT_FALSE(s.mismaImagen(cam));
        }
        // The title is readable whatever happened to the background.
        EXPECT_GT(maximo(*c.ultimaSalida(), 200, 120, 440, 240), 200) << archivo;
    }
    // The size change is followed: both sizes come out of the same file.
    auto v = FondoVideo::abrir(medio("mezcla.ts"), 2, 0);
    ASSERT_TRUE(v);
    std::vector<int> anchos;
    for (int i = 0; i < 25; ++i)
        if (auto x = v->en(i * 0.1).cuadro) anchos.push_back(x->ancho);
    EXPECT_NE(std::find(anchos.begin(), anchos.end(), 320), anchos.end());
    EXPECT_NE(std::find(anchos.begin(), anchos.end(), 160), anchos.end());
}

TEST_F(Medios, RetratosDeTresPantallas) {
    QImage fondo(640, 360, QImage::Format_RGB32);
    fondo.fill(QColor(30, 90, 200));
    ASSERT_TRUE(fondo.save(QString::fromStdString(medio("azul.png").string())));
    const fs::path base = carpeta / "canal";
    fs::create_directories(base / "pantallas");
    fs::copy_file(medio("azul.png"), base / "pantallas" / "azul.png");
    prueba::escribir(base / "pantallas.json", R"([
      {"id": "camara", "nombre": "Cámara", "camara": 1, "micro": true},
      {"id": "audio", "nombre": "Solo audio", "titulo": "Entramos a una zona de baja señal",
       "subtitulo": "Sube el volumen para seguir escuchándonos"},
      {"id": "fiesta", "nombre": "Fiesta", "archivo": "azul.png", "titulo": "Hoy",
       "camara": 2, "redes": [{"tipo": "instagram", "usuario": "@tremolante"}, {"tipo": "kick", "usuario": "tremo"}]}
    ])");
    Almacen tres(base);
    ASSERT_EQ(tres.pantallas().size(), 3u);
    const fs::path salida = carpeta / "retratos" / "dentro";
    EXPECT_EQ(escribirRetratos(tres, salida), 3);
    for (const char* id : {"camara", "audio", "fiesta"}) {
        QImage i(QString::fromStdString((salida / (std::string(id) + ".png")).string()));
        ASSERT_FALSE(i.isNull()) << id;
        EXPECT_EQ(i.size(), QSize(1280, 720));
    }
    const QImage audio(QString::fromStdString((salida / "audio.png").string()));
    EXPECT_EQ(audio.pixelColor(20, 20), QColor(0, 0, 0));  // black around the text
    int claro = 0;
    for (int y = 280; y < 440; ++y)
        for (int x = 200; x < 1080; ++x) claro = std::max(claro, audio.pixelColor(x, y).value());
    EXPECT_GE(claro, 250);
    const QImage fiesta(QString::fromStdString((salida / "fiesta.png").string()));
    EXPECT_NEAR(fiesta.pixelColor(20, 20).blue(), 200, 4);  // the background
    EXPECT_NEAR(fiesta.pixelColor(1100, 600).red(), 33, 4);  // the grey stand-in in the camera box

    // A folder that cannot be written writes nothing and fails nothing.
    prueba::escribir(carpeta / "archivo", "x");
    EXPECT_EQ(escribirRetratos(tres, carpeta / "archivo" / "sub"), 0);
}

}  // namespace
}  // namespace tt
