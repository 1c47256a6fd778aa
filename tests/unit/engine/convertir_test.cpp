#include "engine/convertir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace tt {
namespace {

// A 4×2 picture: left half one colour, right half another, in several layouts.
TEST(ANv12, CadaDisposicionDaLosMismosPlanos) {
    const int w = 4, h = 2;
    // I420 with strides wider than the rows (padding must be skipped).
    std::vector<std::uint8_t> y{10, 20, 30, 40, 0, 0, 50, 60, 70, 80, 0, 0};
    std::vector<std::uint8_t> u{100, 110, 0}, v{200, 210, 0};
    Planos p;
    p.datos[0] = y.data(); p.pasos[0] = 6; p.bytes[0] = y.size();
    p.datos[1] = u.data(); p.pasos[1] = 3; p.bytes[1] = u.size();
    p.datos[2] = v.data(); p.pasos[2] = 3; p.bytes[2] = v.size();
    auto c = aNv12(Disposicion::i420, p, w, h);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ancho, 4);
    EXPECT_EQ(c->alto, 2);
    const std::vector<std::uint8_t> yEsperado{10, 20, 30, 40, 50, 60, 70, 80};
    EXPECT_EQ(std::vector<std::uint8_t>(c->y(), c->y() + 8), yEsperado);
    const std::vector<std::uint8_t> uvEsperado{100, 200, 110, 210};
    EXPECT_EQ(std::vector<std::uint8_t>(c->uv(), c->uv() + 4), uvEsperado);

    // YV12 carries V before U.
    Planos q = p;
    std::swap(q.datos[1], q.datos[2]);
    auto d = aNv12(Disposicion::yv12, q, w, h);
    ASSERT_TRUE(d);
    EXPECT_EQ(std::vector<std::uint8_t>(d->uv(), d->uv() + 4), uvEsperado);

    // NV21 interleaves V first.
    std::vector<std::uint8_t> vu{200, 100, 210, 110};
    Planos r;
    r.datos[0] = y.data(); r.pasos[0] = 6; r.bytes[0] = y.size();
    r.datos[1] = vu.data(); r.pasos[1] = 4; r.bytes[1] = vu.size();
    auto e = aNv12(Disposicion::nv21, r, w, h);
    ASSERT_TRUE(e);
    EXPECT_EQ(std::vector<std::uint8_t>(e->uv(), e->uv() + 4), uvEsperado);
    EXPECT_EQ(std::vector<std::uint8_t>(e->y(), e->y() + 8), yEsperado);

    // YUYV: Y0 U Y1 V per pair of pixels.
    std::vector<std::uint8_t> yuyv{10, 100, 20, 200, 30, 110, 40, 210, 50, 100, 60, 200, 70, 110, 80, 210};
    Planos s;
    s.datos[0] = yuyv.data(); s.pasos[0] = 8; s.bytes[0] = yuyv.size();
    auto f = aNv12(Disposicion::yuyv, s, w, h);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::vector<std::uint8_t>(f->y(), f->y() + 8), yEsperado);
    EXPECT_EQ(std::vector<std::uint8_t>(f->uv(), f->uv() + 4), uvEsperado);
    // A frame whose buffer is shorter than its rows (a camera's first, cut-off buffer) is refused
    // instead of read past its end.
    s.bytes[0] = yuyv.size() - 1;
    EXPECT_FALSE(aNv12(Disposicion::yuyv, s, w, h));
    p.bytes[2] = 1;
    EXPECT_FALSE(aNv12(Disposicion::i420, p, w, h));
}

TEST(ANv12, EntradasQueNoAlcanzan) {
    std::vector<std::uint8_t> datos(64, 0);
    Planos p;
    p.datos[0] = datos.data(); p.pasos[0] = 2;  // stride below the width
    p.datos[1] = datos.data(); p.pasos[1] = 4;
    p.bytes[0] = p.bytes[1] = datos.size();
    EXPECT_FALSE(aNv12(Disposicion::nv12, p, 4, 2));
    p.pasos[0] = 4;
    p.datos[1] = nullptr;  // missing chroma plane
    EXPECT_FALSE(aNv12(Disposicion::nv12, p, 4, 2));
    EXPECT_FALSE(aNv12(Disposicion::nv12, Planos{}, 0, 0));
    // Bytes that are not a JPEG picture.
    Planos j;
    j.datos[0] = datos.data();
    j.bytes[0] = datos.size();
    EXPECT_FALSE(aNv12(Disposicion::jpeg, j, 4, 2));
    // Odd sizes are brought down to even ones.
    Planos b;
    std::vector<std::uint8_t> argb(5 * 3 * 4, 255);
    b.datos[0] = argb.data(); b.pasos[0] = 20; b.bytes[0] = argb.size();
    auto c = aNv12(Disposicion::bgra, b, 5, 3);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ancho, 4);
    EXPECT_EQ(c->alto, 2);
}

// Colours through the BT.709 conversion and back through the preview's conversion.
TEST(Bt709, ColoresDeIdaYVuelta) {
    QImage imagen(64, 36, QImage::Format_RGB32);
    imagen.fill(QColor(255, 0, 0));
    auto c = imagenANv12709(imagen, 64, 36);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->bt709);
    // Video range BT.709 red: Y = 16 + 219 × 0.2126, Cb = 128 − 224 × 0.2126 / 1.8556,
    // Cr = 128 + 224 × 0.7874 / 1.5748.
    EXPECT_NEAR(c->y()[0], 63, 1);
    EXPECT_NEAR(c->uv()[0], 102, 1);
    EXPECT_NEAR(c->uv()[1], 240, 1);

    imagen.fill(Qt::white);
    auto b = imagenANv12709(imagen, 64, 36);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->y()[100], 235);
    EXPECT_EQ(b->uv()[10], 128);

    const QImage vuelta = nv12AImagen(*c, 32, 18);
    ASSERT_EQ(vuelta.size(), QSize(32, 18));
    const QColor px = vuelta.pixelColor(16, 9);
    EXPECT_GT(px.red(), 240);
    EXPECT_LT(px.green(), 20);
    EXPECT_LT(px.blue(), 20);
    EXPECT_TRUE(nv12AImagen(Cuadro{}, 32, 18).isNull());
}

TEST(Bt709, LaImagenCubreElCuadroSinDeformarse) {
    // A square image half red (top) half blue (bottom) over a 16:9 frame: scaled to cover, its
    // middle rows stay; the picture's centre row is the boundary, the top edge is red, not black.
    QImage imagen(100, 100, QImage::Format_RGB32);
    imagen.fill(Qt::blue);
    for (int f = 0; f < 50; ++f)
        for (int x = 0; x < 100; ++x) imagen.setPixelColor(x, f, QColor(255, 0, 0));
    auto c = imagenANv12709(imagen, 160, 90);
    ASSERT_TRUE(c);
    const QImage rgb = nv12AImagen(*c, 160, 90);
    EXPECT_GT(rgb.pixelColor(80, 2).red(), 200);
    EXPECT_GT(rgb.pixelColor(80, 87).blue(), 200);
    EXPECT_GT(rgb.pixelColor(2, 20).red(), 200);  // covered to the left edge
}

TEST(Piscina, DevuelveYReusaLaMemoria) {
    auto piscina = Piscina::crear(2);
    const std::uint8_t* antes;
    {
        Cuadro a = piscina->nuevo(64, 32);
        EXPECT_EQ(a.memoria->size(), bytesNv12(64, 32));
        EXPECT_EQ(a.uv() - a.y(), 64 * 32);
        antes = a.memoria->data();
        Cuadro copia = a;  // a copy shares the planes
        EXPECT_TRUE(copia.mismaImagen(a));
    }
    Cuadro b = piscina->nuevo(64, 32);
    EXPECT_EQ(b.memoria->data(), antes);
    Cuadro otro = piscina->nuevo(64, 32);
    EXPECT_FALSE(otro.mismaImagen(b));
    // A frame that outlives its pool is simply freed.
    Cuadro suelto = Piscina::crear()->nuevo(8, 8);
    EXPECT_EQ(suelto.planos(), 2);
}

}  // namespace
}  // namespace tt
