#include "ui/pildora.h"

#include "soporte/soporte.h"

#include <QEnterEvent>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

using namespace tt;

namespace {
// The body's colour at the left end of the pill, away from the mark and the title.
QColor cuerpo(Pildora& b) { return b.grab().toImage().pixelColor(22, 25); }

void entrar(QWidget& w) {
    QEnterEvent e(QPointF(20, 20), QPointF(20, 20), QPointF(20, 20));
    QApplication::sendEvent(&w, &e);
}
void salir(QWidget& w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}
}  // namespace

// Disabled it is a faint grey pill, ready a white one, on air a red one; only an enabled button
// answers a click or the space bar.
TEST(Pildora, tresAspectosYSoloResponderHabilitada) {
    QWidget ventana;
    ventana.setStyleSheet("background: black");
    Pildora b(&ventana);
    b.resize(b.sizeHint());
    int clics = 0;
    QObject::connect(&b, &QPushButton::clicked, [&] { ++clics; });

    b.setEnabled(false);
    const QColor apagada = cuerpo(b);
    EXPECT_LT(apagada.lightness(), 90);
    EXPECT_GT(apagada.lightness(), 10);
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(clics, 0);

    b.setEnabled(true);
    const QColor lista = cuerpo(b);
    EXPECT_GT(lista.lightness(), 240);
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(clics, 1);
    b.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&b, Qt::Key_Space);
    EXPECT_EQ(clics, 2);

    b.ponerEnVivo(true);
    const QColor vivo = cuerpo(b);
    EXPECT_GT(vivo.red(), 240);
    EXPECT_LT(vivo.green(), 110);
    EXPECT_EQ(b.accessibleName(), "Detener");
    // "Detener" is shorter: the pill narrows.
    EXPECT_EQ(b.sizeHint(), QSize(156, 50));
    b.ponerEnVivo(false);
    EXPECT_EQ(b.sizeHint(), QSize(176, 50));
}

// The pointer over an enabled button grows the glow to full in about ten ticks of 1/60 s and
// the body to the whole bounds; disabling it under the pointer fades the glow out, and a
// disabled button does not light up at all.
TEST(Pildora, brilloBajoElPunteroYAlDeshabilitar) {
    int pasos = 0;
    for (double r = 0; r != 1; r = Pildora::paso(r, 1)) ++pasos;
    EXPECT_LE(pasos, 11);

    Pildora b;
    b.resize(b.sizeHint());
    EXPECT_DOUBLE_EQ(b.margen(), 3);
    entrar(b);
    ASSERT_TRUE(prueba::esperar([&] { return b.realce() == 1; }, 2));
    EXPECT_DOUBLE_EQ(b.margen(), 0);

    b.setEnabled(false);
    EXPECT_EQ(b.meta(), 0);
    EXPECT_TRUE(prueba::esperar([&] { return b.realce() == 0; }, 2));
    salir(b);
    entrar(b);
    prueba::esperar([] { return false; }, 0.1);
    EXPECT_EQ(b.realce(), 0);
}
