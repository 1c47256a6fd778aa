#include "engine/captura.h"

#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <gtest/gtest.h>

#include <cstring>

namespace tt {
namespace {

QVideoFrame hacer(QVideoFrameFormat::PixelFormat f, int w, int h, std::function<void(QVideoFrame&)> llenar) {
    QVideoFrameFormat formato(QSize(w, h), f);
    QVideoFrame cuadro(formato);
    EXPECT_TRUE(cuadro.map(QVideoFrame::WriteOnly));
    llenar(cuadro);
    cuadro.unmap();
    return cuadro;
}

TEST(CuadroDe, CamarasEnOtrasDisposicionesLleganEnNv12) {
    // YUYV with a flat picture: Y 81, U 90, V 240 (a BT.601 red).
    auto yuyv = hacer(QVideoFrameFormat::Format_YUYV, 64, 32, [](QVideoFrame& c) {
        for (int f = 0; f < 32; ++f) {
            std::uint8_t* fila = c.bits(0) + f * c.bytesPerLine(0);
            for (int x = 0; x < 32; ++x) {
                fila[4 * x] = 81;
                fila[4 * x + 1] = 90;
                fila[4 * x + 2] = 81;
                fila[4 * x + 3] = 240;
            }
        }
    });
    auto c = cuadroDe(yuyv);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ancho, 64);
    EXPECT_EQ(c->alto, 32);
    EXPECT_EQ(c->y()[64 * 31 + 63], 81);
    EXPECT_EQ(c->uv()[0], 90);
    EXPECT_EQ(c->uv()[1], 240);

    // BGRA white: full luma in video range.
    auto bgra = hacer(QVideoFrameFormat::Format_BGRA8888, 16, 16, [](QVideoFrame& c) {
        std::memset(c.bits(0), 255, std::size_t(c.bytesPerLine(0)) * 16);
    });
    auto d = cuadroDe(bgra);
    ASSERT_TRUE(d);
    EXPECT_NEAR(d->y()[0], 235, 1);
    EXPECT_NEAR(d->uv()[0], 128, 1);

    // A layout without a direct conversion goes through QImage.
    auto otro = hacer(QVideoFrameFormat::Format_ARGB8888, 16, 16, [](QVideoFrame& c) {
        std::memset(c.bits(0), 255, std::size_t(c.bytesPerLine(0)) * 16);
    });
    auto e = cuadroDe(otro);
    ASSERT_TRUE(e);
    EXPECT_NEAR(e->y()[0], 235, 1);

    EXPECT_FALSE(cuadroDe(QVideoFrame()));
}

}  // namespace
}  // namespace tt
