#include "ui/vista_previa.h"

#include "engine/convertir.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace tt {
namespace {

using prueba::esperar;

Cuadro color(QColor c, int w = 1920, int h = 1080) {
    QImage i(64, 36, QImage::Format_RGB32);
    i.fill(c);
    return *imagenANv12709(i, w, h);
}

bool parecido(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

TEST(EncajarPrevia, TamanoParQueCabe) {
    EXPECT_EQ(encajarPrevia({1920, 1080}, {400, 400}), QSize(400, 224));
    EXPECT_EQ(encajarPrevia({1080, 1920}, {400, 400}), QSize(224, 400));
    EXPECT_EQ(encajarPrevia({1920, 1080}, {1, 1}), QSize(2, 2));
    EXPECT_TRUE(encajarPrevia({1920, 1080}, {0, 300}).isEmpty());
}

TEST(VistaPrevia, CamaraProgramaYVuelta) {
    VistaPrevia vista;
    vista.resize(320, 240);
    vista.show();
    int pintadas = 0;
    vista.alPintar = [&] { ++pintadas; };
    auto alCamara = vista.receptorCamara();
    auto alPrograma = vista.receptorPrograma();

    alCamara(color(Qt::red));
    ASSERT_TRUE(esperar([&] { return pintadas >= 1; }));
    // Converted at the preview's size, keeping the frame's proportions.
    EXPECT_EQ(vista.imagen().size(), QSize(320, 180));
    EXPECT_TRUE(parecido(vista.imagen().pixelColor(160, 90), Qt::red));
    EXPECT_FALSE(vista.viendoPrograma());

    alPrograma(color(Qt::blue));
    EXPECT_TRUE(vista.viendoPrograma());
    ASSERT_TRUE(esperar([&] { return parecido(vista.imagen().pixelColor(160, 90), Qt::blue); }))
        << vista.imagen().pixelColor(160, 90).name().toStdString();
    // Live pictures do not show over the programme.
    const int antes = pintadas;
    alCamara(color(Qt::green));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(pintadas, antes);
    EXPECT_TRUE(parecido(vista.imagen().pixelColor(160, 90), Qt::blue));

    alPrograma(std::nullopt);
    EXPECT_FALSE(vista.viendoPrograma());
    alCamara(color(Qt::green));
    ASSERT_TRUE(esperar([&] { return parecido(vista.imagen().pixelColor(160, 90), Qt::green); }));
}

TEST(VistaPrevia, EsquinasRedondeadasSobreNegro) {
    VistaPrevia vista;
    vista.resize(320, 180);
    vista.show();
    int pintadas = 0;
    vista.alPintar = [&] { ++pintadas; };
    vista.camara(color(Qt::red));
    ASSERT_TRUE(esperar([&] { return pintadas >= 1; }));
    const QImage captura = vista.grab().toImage();
    // The picture fills the middle; the corner lies outside the radius-14 rounding.
    EXPECT_TRUE(parecido(captura.pixelColor(160, 90), Qt::red));
    EXPECT_FALSE(parecido(captura.pixelColor(1, 1), Qt::red));
    // Along an edge, away from the corner, the picture reaches the border.
    EXPECT_GT(captura.pixelColor(160, 3).red(), 200);
}

}  // namespace
}  // namespace tt
