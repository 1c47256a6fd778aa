// The overlay: layout of the social pills, drawing, icons, and the prepared layer laid over NV12.
#include "pantallas/capa.h"
#include "pantallas/compositor.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <algorithm>

namespace tt {
namespace {

int alfaMaximo(const QImage& i, QRect zona) {
    int m = 0;
    zona &= i.rect();
    for (int y = zona.top(); y <= zona.bottom(); ++y)
        for (int x = zona.left(); x <= zona.right(); ++x) m = std::max(m, qAlpha(i.pixel(x, y)));
    return m;
}

TEST(Redes, FilaCuandoCabeSinoColumna) {
    const double k = 20;  // separation 8.4, pill height round(34.4) = 34
    auto d = disponerRedes({100, 150, 50}, k, 400, true, 1);
    EXPECT_TRUE(d.enFila);
    EXPECT_DOUBLE_EQ(d.ancho, 300 + 2 * 8.4);
    EXPECT_DOUBLE_EQ(d.alto, 34);
    ASSERT_EQ(d.pastillas.size(), 3u);
    EXPECT_DOUBLE_EQ(d.pastillas[1].x(), 108.4);
    EXPECT_DOUBLE_EQ(d.pastillas[2].x(), 266.8);

    // Wider than the text width: stacked, even though a row was asked for.
    d = disponerRedes({100, 150, 50}, k, 300, true, 1);
    EXPECT_FALSE(d.enFila);
    EXPECT_DOUBLE_EQ(d.ancho, 150);
    EXPECT_DOUBLE_EQ(d.alto, 3 * 34 + 2 * 8.4 * 0.7);
    EXPECT_DOUBLE_EQ(d.pastillas[0].x(), 25);  // centred in the column
    EXPECT_DOUBLE_EQ(d.pastillas[2].y(), 2 * (34 + 8.4 * 0.7));

    // A column asked for, aligned right; a pill wider than the text width is cut to it.
    d = disponerRedes({100, 500}, k, 400, false, 2);
    EXPECT_FALSE(d.enFila);
    EXPECT_DOUBLE_EQ(d.ancho, 400);
    EXPECT_DOUBLE_EQ(d.pastillas[0].x(), 300);
    EXPECT_DOUBLE_EQ(d.pastillas[1].width(), 400);
    EXPECT_TRUE(disponerRedes({200, 180}, k, 400, true, 0).enFila);
    EXPECT_FALSE(disponerRedes({200, 195}, k, 400, true, 0).enFila);
    EXPECT_TRUE(disponerRedes({}, k, 400, true, 0).pastillas.empty());
}

TEST(Capa, NadaQueDibujar) {
    Pantalla p;
    p.titulo = " \n\t";
    p.redes = {Red{"x", "   "}};
    EXPECT_TRUE(dibujarCapa(p, 1920, 1080).isNull());
    p.titulo = "Hola";
    EXPECT_TRUE(dibujarCapa(p, 15, 1080).isNull());
    EXPECT_FALSE(dibujarCapa(p, 16, 16).isNull());
}

TEST(Capa, TituloArribaYRedesAbajo) {
    Pantalla p;
    p.titulo = "Ya casi empezamos";
    p.subtitulo = "En un momento";
    p.textoPos = 1;
    p.redes = {Red{"instagram", "@tremolante"}, Red{"kick", "tremo"}};
    p.redesPos = 7;
    const QImage i = dibujarCapa(p, 1920, 1080);
    ASSERT_EQ(i.size(), QSize(1920, 1080));
    // Lettering at the top centre, pills at the bottom centre, nothing in the middle or the corners.
    EXPECT_EQ(alfaMaximo(i, QRect(760, 92, 400, 120)), 255);
    EXPECT_GT(alfaMaximo(i, QRect(700, 900, 520, 90)), 100);
    EXPECT_EQ(alfaMaximo(i, QRect(0, 450, 1920, 150)), 0);
    EXPECT_EQ(alfaMaximo(i, QRect(0, 0, 80, 80)), 0);
    // The title is white.
    bool blanco = false;
    for (int y = 92; y < 212 && !blanco; ++y)
        for (int x = 760; x < 1160 && !blanco; ++x) blanco = i.pixel(x, y) == qRgba(255, 255, 255, 255);
    EXPECT_TRUE(blanco);
}

TEST(Capa, EntradasDesmesuradasTerminan) {
    Pantalla p;
    p.titulo = std::string(10000, 'M');
    for (int i = 0; i < 200; ++i) p.redes.push_back(Red{i % 2 ? "tiktok" : "desconocida", "usuario" + std::to_string(i)});
    const QImage i = dibujarCapa(p, 1280, 720);
    ASSERT_FALSE(i.isNull());
    EXPECT_GT(alfaMaximo(i, QRect(0, 0, 1280, 720)), 200);
    const auto c = fijar(i, 0, 0, 1280, 720);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ancho, 1280);
}

TEST(Iconos, SiluetaBlancaYNombresSeguros) {
    auto i = icono("instagram", 40);
    ASSERT_TRUE(i);
    EXPECT_EQ(i->size(), QSize(40, 40));
    int opacos = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const QRgb px = i->pixel(x, y);
            if (qAlpha(px) == 255) {
                ++opacos;
                EXPECT_EQ(px, qRgba(255, 255, 255, 255));
            }
        }
    EXPECT_GT(opacos, 50);
    EXPECT_FALSE(icono("instagram", 0));
    EXPECT_FALSE(icono("no-existe", 40));
    EXPECT_FALSE(icono("../redes/instagram", 40));
}

TEST(Fijar, OpacaSeCopiaTransparenteSeFunde) {
    QImage blanca(64, 32, QImage::Format_RGB32);
    blanca.fill(Qt::white);
    auto c = fijar(blanca, 11, 7, 100, 60);  // odd place: grows to even edges
    ASSERT_TRUE(c);
    EXPECT_EQ(c->x, 10);
    EXPECT_EQ(c->y, 6);
    EXPECT_EQ(c->ancho, 66);
    EXPECT_FALSE(c->opaca);  // the added column and row are transparent
    auto exacta = fijar(blanca, 10, 6, 100, 60);
    ASSERT_TRUE(exacta);
    EXPECT_TRUE(exacta->opaca);
    EXPECT_FALSE(fijar(blanca, 200, 0, 100, 60));
    EXPECT_FALSE(fijar(QImage(), 0, 0, 100, 60));

    Cuadro f = nuevoCuadro(100, 60);
    std::fill(f.y(), f.y() + 6000, 16);
    std::fill(f.uv(), f.uv() + 3000, 128);
    ponerCapa(*exacta, f);
    EXPECT_EQ(f.y()[10 * 100 + 20], 235);
    EXPECT_EQ(f.y()[10 * 100 + 5], 16);
    EXPECT_EQ(f.y()[50 * 100 + 20], 16);

    // Half-transparent red over black: half the way to red, chroma too.
    QImage media(20, 20, QImage::Format_ARGB32);
    media.fill(QColor(255, 0, 0, 128));
    auto m = fijar(media, 0, 0, 100, 60);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->tramos.size(), 1u);
    EXPECT_EQ(m->tramos[0].ancho, 20);
    std::fill(f.y(), f.y() + 6000, 16);
    std::fill(f.uv(), f.uv() + 3000, 128);
    ponerCapa(*m, f);
    const Yuv rojo = aYuv709(1, 0, 0);
    EXPECT_NEAR(f.y()[4 * 100 + 4], 16 + (rojo.y - 16) * 128 / 255.0, 2);
    EXPECT_NEAR(f.uv()[2 * 100 + 4 + 1], 128 + (rojo.cr - 128) * 128 / 255.0, 2);
    EXPECT_EQ(f.y()[4 * 100 + 30], 16);
}

TEST(Fijar, BordesSinFranjasDeColor) {
    // A white disc on transparent: chroma stays neutral at its soft edge (colour weighted by alpha).
    QImage i(40, 40, QImage::Format_ARGB32_Premultiplied);
    i.fill(Qt::transparent);
    {
        QPainter pintor(&i);
        pintor.setRenderHint(QPainter::Antialiasing);
        pintor.setBrush(Qt::white);
        pintor.setPen(Qt::NoPen);
        pintor.drawEllipse(QRectF(3.3, 3.3, 30, 30));
    }
    auto c = fijar(i, 0, 0, 40, 40);
    ASSERT_TRUE(c);
    for (std::size_t j = 0; j < c->croma.size(); ++j)
        if (c->alfaCroma[j] > 0) {
            EXPECT_NEAR(c->croma[j], 128, 1) << j;
        }
}

}  // namespace
}  // namespace tt
