// Placement arithmetic, the dissolve, the pass-through screen and composed pixels of the compositor.
#include "comun/reloj.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace tt {
namespace {

Cuadro plano(int W, int H, Yuv c) {
    Cuadro f = nuevoCuadro(W, H);
    std::fill(f.y(), f.y() + std::size_t(W) * H, c.y);
    for (std::size_t i = 0; i < std::size_t(W) * H / 2; i += 2) {
        f.uv()[i] = c.cb;
        f.uv()[i + 1] = c.cr;
    }
    return f;
}

int luz(const Cuadro& c, int x, int y) { return c.y()[std::size_t(y) * c.pasoY + x]; }
int cb(const Cuadro& c, int x, int y) { return c.uv()[std::size_t(y / 2) * c.pasoUV + (x & ~1)]; }
int cr(const Cuadro& c, int x, int y) { return c.uv()[std::size_t(y / 2) * c.pasoUV + (x & ~1) + 1]; }

Pantalla camaraSola() {
    Pantalla p;
    p.id = "camara";
    p.camara = 1;
    return p;
}

Pantalla conTitulo(const std::string& titulo) {
    Pantalla p;
    p.id = "titulo";
    p.titulo = titulo;
    return p;
}

const Yuv verde = aYuv709(0.1, 0.8, 0.2);

TEST(Geometria, CeldasYMargenes) {
    const QRectF R(0, 0, 1000, 500);
    const QSizeF caja(100, 50);
    EXPECT_EQ(celda(caja, R, 10, 20, 0), QRectF(10, 20, 100, 50));
    EXPECT_EQ(celda(caja, R, 10, 20, 4), QRectF(450, 225, 100, 50));
    EXPECT_EQ(celda(caja, R, 10, 20, 8), QRectF(890, 430, 100, 50));
    EXPECT_EQ(celda(caja, R, 10, 20, 5), QRectF(890, 225, 100, 50));
    EXPECT_EQ(celda(caja, R, 10, 20, 7), QRectF(450, 430, 100, 50));
    // Out-of-range cells are the nearest end.
    EXPECT_EQ(celda(caja, R, 10, 20, -3), celda(caja, R, 10, 20, 0));
    EXPECT_EQ(celda(caja, R, 10, 20, 99), celda(caja, R, 10, 20, 8));
    // A rect that does not start at the origin.
    EXPECT_EQ(celda(caja, QRectF(100, 100, 1000, 500), 10, 20, 0), QRectF(110, 120, 100, 50));
}

TEST(Geometria, EncajarCubreOCabe) {
    // 200 × 100 into 100 × 100: covering cuts the sides, fitting leaves bands above and below.
    auto cubre = encajar(QSizeF(200, 100), QRectF(0, 0, 100, 100), true);
    ASSERT_TRUE(cubre);
    EXPECT_EQ(cubre->destino, QRectF(0, 0, 100, 100));
    EXPECT_EQ(cubre->origen, QRectF(50, 0, 100, 100));
    auto cabe = encajar(QSizeF(200, 100), QRectF(0, 0, 100, 100), false);
    ASSERT_TRUE(cabe);
    EXPECT_EQ(cabe->destino, QRectF(0, 25, 100, 50));
    EXPECT_EQ(cabe->origen, QRectF(0, 0, 200, 100));
    EXPECT_FALSE(encajar(QSizeF(0, 100), QRectF(0, 0, 100, 100), true));
    EXPECT_FALSE(encajar(QSizeF(100, 100), QRectF(0, 0, 0, 100), true));
    EXPECT_FALSE(encajar(QSizeF(INFINITY, 100), QRectF(0, 0, 100, 100), true));
}

TEST(Geometria, CajaDelFondo) {
    Pantalla p;
    p.fondoPos = 0;
    p.fondoTam = 0.1;  // drawn as 0.2
    EXPECT_EQ(cajaFondo(p, 1920, 1080), QRectF(1920 * 0.03, 1920 * 0.03, 384, 216));
    p.fondoTam = 0.996;
    EXPECT_EQ(cajaFondo(p, 1920, 1080), QRectF(0, 0, 1920, 1080));
    p.fondoTam = 0.995;
    p.fondoPos = 4;
    const QRectF r = cajaFondo(p, 1920, 1080);
    EXPECT_DOUBLE_EQ(r.width(), 1920 * 0.995);
    EXPECT_DOUBLE_EQ(r.height(), 1080 * 0.995);
    EXPECT_DOUBLE_EQ(r.center().x(), 960);
    p.fondoTam = NAN;
    EXPECT_EQ(cajaFondo(p, 1920, 1080), QRectF(0, 0, 1920, 1080));
}

TEST(Geometria, CajaDeLaCamara) {
    Pantalla p;
    p.camPos = 8;
    p.camTam = 0.05;  // 12 %
    QRectF r = cajaCamara(p, 1920, 1080, 1280, 720);
    EXPECT_DOUBLE_EQ(r.width(), std::round(1920 * 0.12));
    EXPECT_DOUBLE_EQ(r.right(), std::round(1920 - 1920 * 0.03));
    EXPECT_DOUBLE_EQ(r.top(), std::round(1080 - 1920 * 0.03 - 1920 * 0.12 * 720 / 1280));
    p.camTam = 0.9;  // 80 %
    EXPECT_DOUBLE_EQ(cajaCamara(p, 1920, 1080, 1280, 720).width(), 1536);
    p.camTam = 0.5;
    r = cajaCamara(p, 1920, 1080, 640, 480);  // the camera's own proportions
    EXPECT_DOUBLE_EQ(r.height(), 720);
    EXPECT_DOUBLE_EQ(cajaCamara(p, 1920, 1080, 0, 0).height(), 540);  // 16:9 without a width
}

TEST(Disolucion, CurvaSuave) {
    EXPECT_DOUBLE_EQ(disolucion(0), 0);
    EXPECT_DOUBLE_EQ(disolucion(-1), 0);
    EXPECT_DOUBLE_EQ(disolucion(NAN), 0);
    EXPECT_DOUBLE_EQ(disolucion(0.25), 0.15625);
    EXPECT_DOUBLE_EQ(disolucion(0.5), 0.5);
    EXPECT_DOUBLE_EQ(disolucion(0.75), 0.84375);
    EXPECT_DOUBLE_EQ(disolucion(1), 1);
    EXPECT_DOUBLE_EQ(disolucion(7), 1);
}

class ConAlmacen : public ::testing::Test {
protected:
    prueba::CarpetaTemporal carpeta;
    Almacen almacen{carpeta.ruta()};

    // An opaque picture file in the media folder as p's background.
    void fondo(Pantalla& p, QColor color, const std::string& nombre = "fondo.png") {
        QImage i(320, 180, QImage::Format_RGB32);
        i.fill(color);
        ASSERT_TRUE(i.save(QString::fromStdString((almacen.medios() / nombre).string())));
        p.archivo = nombre;
        p.esVideo = false;
    }
};

TEST_F(ConAlmacen, LaPantallaDeCamaraDevuelveElMismoCuadro) {
    Compositor c;
    const Cuadro cam = plano(640, 360, verde);
    // Without a screen the camera passes too.
    EXPECT_TRUE(c.cuadro(cam, 1).mismaImagen(cam));

    Pantalla otra = conTitulo("Hola");
    c.poner(otra, almacen, 10);
    const Cuadro compuesta = c.cuadro(cam, 10.5);
    EXPECT_FALSE(compuesta.mismaImagen(cam));

    c.poner(camaraSola(), almacen, 20);
    // During the 0.3 s dissolve frames are composed; afterwards the camera buffer itself comes back.
    const Cuadro durante = c.cuadro(cam, 20.1);
    EXPECT_FALSE(durante.mismaImagen(cam));
    const Cuadro despues = c.cuadro(cam, 20.31);
    EXPECT_TRUE(despues.mismaImagen(cam));
    EXPECT_TRUE(c.ultimaSalida()->mismaImagen(cam));

    // Editing the screen on air (same id) starts no dissolve.
    Pantalla editada = camaraSola();
    editada.micro = true;
    c.poner(editada, almacen, 30);
    EXPECT_TRUE(c.cuadro(cam, 30.01).mismaImagen(cam));
}

TEST_F(ConAlmacen, LaDisolucionVaDeLaAnteriorALaNueva) {
    Compositor c;
    const Cuadro cam = plano(320, 180, verde);
    Pantalla blanca;
    blanca.id = "blanca";
    fondo(blanca, Qt::white);
    c.poner(blanca, almacen, 0);
    EXPECT_EQ(luz(c.cuadro(cam, 1), 160, 90), 235);

    Pantalla negra = conTitulo("x");
    negra.textoPos = 0;
    c.poner(negra, almacen, 2);
    // Half the time is half the way (t²(3 − 2t) at 0.5), a quarter is 0.156 of the way.
    EXPECT_NEAR(luz(c.cuadro(cam, 2.15), 160, 90), 16 + 0.5 * 219, 3);
    EXPECT_NEAR(luz(c.cuadro(cam, 2.075), 160, 90), 235 - 0.15625 * 219, 3);
    EXPECT_EQ(luz(c.cuadro(cam, 2.3), 160, 90), 16);
}

// Off the main thread: the screen before stays on air until the new one's media are open, and
// of two asked in a row only the later goes on air.
TEST_F(ConAlmacen, EnFondoLaAnteriorSigueHastaQueLaNuevaEsteLista) {
    Compositor c;
    const Cuadro cam = plano(320, 180, verde);
    Pantalla blanca, roja, negra;
    blanca.id = "blanca", roja.id = "roja", negra.id = "negra";
    fondo(blanca, Qt::white, "blanca.png");
    fondo(roja, Qt::red, "roja.png");
    fondo(negra, Qt::black, "negra.png");
    c.poner(blanca, almacen, 0);
    c.ponerEnFondo(roja, almacen);
    c.ponerEnFondo(negra, almacen);
    // The answers come through this thread's event loop, which has not run yet.
    EXPECT_TRUE(c.cargando());
    EXPECT_EQ(c.puesta()->id, "blanca");
    EXPECT_EQ(luz(c.cuadro(cam, 1), 160, 90), 235);
    ASSERT_TRUE(prueba::esperar([&] { return !c.cargando(); }, 10));
    EXPECT_EQ(c.puesta()->id, "negra");
    QCoreApplication::processEvents();  // the stale answer, if any, changes nothing
    EXPECT_EQ(c.puesta()->id, "negra");
    EXPECT_EQ(luz(c.cuadro(cam, ahora() + 1), 160, 90), 16);
}

TEST_F(ConAlmacen, LaCapaSeDibujaUnaVezPorPantallaYTamano) {
    Compositor c;
    const Cuadro cam = plano(640, 360, verde);
    Pantalla p = conTitulo("Volvemos");
    c.poner(p, almacen, 0);
    for (int i = 0; i < 10; ++i) c.cuadro(cam, 1 + i * 0.016);
    EXPECT_EQ(c.capasDibujadas(), 1);
    const Cuadro grande = plano(1280, 720, verde);
    for (int i = 0; i < 5; ++i) c.cuadro(grande, 2 + i * 0.016);
    EXPECT_EQ(c.capasDibujadas(), 2);
    // A change of text prepares it again, at once (the size is known), and only once.
    p.titulo = "Ya volvimos";
    c.poner(p, almacen, 3);
    for (int i = 0; i < 5; ++i) c.cuadro(grande, 3 + i * 0.016);
    EXPECT_EQ(c.capasDibujadas(), 3);
    EXPECT_GE(c.tardanza(), 0);
    EXPECT_EQ(c.tardanza(), 0);  // read resets it
}

// A screen without the camera or a video is composed once and handed out again with each frame's
// time, until the screen or the frame size changes.
TEST_F(ConAlmacen, UnaPantallaQuietaSeComponeUnaVez) {
    Compositor c;
    Cuadro cam = plano(640, 360, verde);
    Pantalla p = conTitulo("Volvemos");
    c.poner(p, almacen, 0);
    const Cuadro a = c.cuadro(cam, 1);
    cam.hora = 7;
    const Cuadro b = c.cuadro(cam, 1.02);
    EXPECT_TRUE(b.mismaImagen(a));
    EXPECT_EQ(b.hora, 7);
    EXPECT_FALSE(c.cuadro(plano(1280, 720, verde), 1.04).mismaImagen(a));
    p.titulo = "Ya volvimos";
    c.poner(p, almacen, 2);
    const Cuadro otro = c.cuadro(cam, 2.1);
    EXPECT_FALSE(otro.mismaImagen(a));
    EXPECT_TRUE(c.cuadro(cam, 2.12).mismaImagen(otro));
    // With the camera in a box every frame is composed.
    p.camara = 2;
    c.poner(p, almacen, 3);
    EXPECT_FALSE(c.cuadro(cam, 3.1).mismaImagen(c.cuadro(cam, 3.12)));
}

TEST_F(ConAlmacen, PixelesDeUnCuadroCompuesto) {
    Compositor c;
    const int W = 1280, H = 720;
    const Cuadro cam = plano(W, H, verde);
    Pantalla p = conTitulo("TITULO GRANDE");
    p.textoPos = 1;
    p.textoTam = 1;
    p.camara = 2;
    p.camTam = 0.5;
    p.camPos = 8;
    c.poner(p, almacen, 0);
    const Cuadro s = c.cuadro(cam, 5);
    ASSERT_EQ(s.ancho, W);
    // Black where nothing is drawn.
    EXPECT_EQ(luz(s, 20, H / 2), 16);
    EXPECT_EQ(cb(s, 20, H / 2), 128);
    // The title area (top centre) holds white lettering.
    int masClaro = 0;
    for (int y = 0; y < H / 3; ++y)
        for (int x = W / 4; x < 3 * W / 4; ++x) masClaro = std::max(masClaro, luz(s, x, y));
    EXPECT_GE(masClaro, 225);
    // The camera box: 640 × 360 at the bottom-right margin (38 px), corners rounded.
    const QRectF caja = cajaCamara(p, W, H, W, H);
    const int x0 = int(caja.left()), y0 = int(caja.top()), x1 = int(caja.right()) - 1, y1 = int(caja.bottom()) - 1;
    EXPECT_EQ(luz(s, (x0 + x1) / 2, (y0 + y1) / 2), verde.y);
    EXPECT_EQ(cb(s, (x0 + x1) / 2, (y0 + y1) / 2), verde.cb);
    EXPECT_EQ(cr(s, (x0 + x1) / 2, (y0 + y1) / 2), verde.cr);
    EXPECT_EQ(luz(s, x0 + 1, (y0 + y1) / 2), verde.y);  // a straight edge is camera up to the border
    for (auto [x, y] : {std::pair{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}}) EXPECT_EQ(luz(s, x, y), 16) << x << "," << y;
    EXPECT_EQ(luz(s, x0 - 2, (y0 + y1) / 2), 16);  // outside the box
}

TEST_F(ConAlmacen, FondoCompletoTapaLaCamaraYCajaDeFondo) {
    Compositor c;
    const Cuadro cam = plano(640, 360, verde);
    Pantalla p;
    p.id = "roja";
    p.camara = 1;
    fondo(p, QColor(200, 30, 40));
    c.poner(p, almacen, 0);
    Cuadro s = c.cuadro(cam, 1);
    const Yuv rojo = aYuv709(200 / 255.0, 30 / 255.0, 40 / 255.0);
    for (auto [x, y] : {std::pair{0, 0}, {639, 359}, {320, 180}, {5, 300}}) {
        EXPECT_NEAR(luz(s, x, y), rojo.y, 1);
        EXPECT_NEAR(cr(s, x, y), rojo.cr, 1);
    }
    // A box of 0.5 at the top left: the camera shows around it.
    p.fondoTam = 0.5;
    p.fondoPos = 0;
    c.poner(p, almacen, 2);
    s = c.cuadro(cam, 3);
    const int m = int(640 * 0.03);
    EXPECT_NEAR(luz(s, m + 10, m + 10), rojo.y, 1);
    EXPECT_NEAR(luz(s, m + 310, m + 170), rojo.y, 1);
    EXPECT_EQ(luz(s, m + 330, m + 10), verde.y);
    EXPECT_EQ(luz(s, 2, 2), verde.y);
    EXPECT_EQ(luz(s, 600, 340), verde.y);
    // Fitting a wide picture into a tall box leaves the camera above and below it.
    p.fondoTam = 1;
    p.rellenar = false;
    QImage ancha(400, 100, QImage::Format_RGB32);
    ancha.fill(Qt::white);
    ASSERT_TRUE(ancha.save(QString::fromStdString((almacen.medios() / "ancha.png").string())));
    p.archivo = "ancha.png";
    c.poner(p, almacen, 4);
    s = c.cuadro(cam, 5);
    EXPECT_EQ(luz(s, 320, 180), 235);
    EXPECT_EQ(luz(s, 320, 10), verde.y);
}

TEST_F(ConAlmacen, RetratoSinCamaraYFoto) {
    Pantalla p = camaraSola();
    auto r = Compositor::retrato(p, almacen, 1280);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->size(), QSize(1280, 720));
    // The grey stand-in, 0.13 0.13 0.14, scaled from 1920 × 1080 without a colour cast.
    const QColor g = r->pixelColor(640, 360);
    EXPECT_NEAR(g.red(), 34, 1);
    EXPECT_NEAR(g.green(), 34, 1);
    EXPECT_NEAR(g.blue(), 36, 1);
    EXPECT_FALSE(Compositor::retrato(p, almacen, 1));
    auto impar = Compositor::retrato(p, almacen, 301);
    ASSERT_TRUE(impar);
    EXPECT_EQ(impar->size(), QSize(301, 169));

    const QImage f = Compositor::foto(plano(640, 360, aYuv709(1, 1, 1)), 320);
    EXPECT_EQ(f.size(), QSize(320, 180));
    EXPECT_GE(f.pixelColor(10, 10).red(), 250);
    EXPECT_TRUE(Compositor::foto(Cuadro{}, 320).isNull());
}

TEST_F(ConAlmacen, PonerMientrasSeComponeYSeMezcla) {
    // The main thread switches screens while the video and audio queues use the compositor.
    Compositor c;
    Pantalla roja;
    roja.id = "roja";
    fondo(roja, Qt::red);
    const Pantalla pantallas[] = {conTitulo("uno"), camaraSola(), roja};
    const Cuadro cam = plano(320, 180, verde);
    std::atomic<bool> fin{false};
    std::atomic<int> cuadros{0};
    std::thread video([&] {
        for (double t = 0; !fin; t += 0.01, ++cuadros) EXPECT_EQ(c.cuadro(cam, t).ancho, 320);
    });
    std::thread audio([&] {
        std::vector<std::uint8_t> bloque(1024, 1);
        while (!fin) {
            c.mezclar(bloque, true);
            c.tardanza();
            c.ultimaSalida();
        }
    });
    for (int i = 0; i < 60; ++i) {
        c.poner(pantallas[i % 3], almacen, i * 0.05);
        if (i % 10 == 0) c.reiniciar(i * 0.05);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    fin = true;
    video.join();
    audio.join();
    EXPECT_GT(cuadros.load(), 0);
    EXPECT_TRUE(c.ultimaSalida());
}

TEST_F(ConAlmacen, MicrofonoCerradoSilencia) {
    Compositor c;
    std::vector<std::uint8_t> bloque(400, 7);
    c.mezclar(bloque, true);  // no screen: untouched
    EXPECT_EQ(bloque[0], 7);
    Pantalla p = conTitulo("x");
    p.micro = false;
    c.poner(p, almacen, 0);
    c.mezclar(bloque, true);
    EXPECT_TRUE(std::all_of(bloque.begin(), bloque.end(), [](auto b) { return b == 0; }));
    p.micro = true;
    std::fill(bloque.begin(), bloque.end(), 7);
    c.poner(p, almacen, 1);
    c.mezclar(bloque, false);
    EXPECT_EQ(bloque[5], 7);
}

}  // namespace
}  // namespace tt
