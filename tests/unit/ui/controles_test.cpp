// The form controls as a user meets them: what a click or a key changes, what the callback
// hears, and that values set from code call nothing.
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/campo_secreto.h"
#include "ui/casilla.h"
#include "ui/deslizador.h"
#include "ui/icono.h"
#include "ui/lista.h"
#include "ui/marca.h"
#include "ui/opacidad.h"
#include "ui/rejilla.h"
#include "ui/segmentos.h"

#include "soporte/soporte.h"

#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

using namespace tt;

namespace {
void entrar(QWidget& w) {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&w, &e);
}
void salir(QWidget& w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}
}  // namespace

// Refilled with the same channels (or more), the list keeps the one the user had chosen; only
// the user's choice reaches `al`, with the item's id; with nothing to choose it is disabled.
TEST(Lista, conservaLaEleccionAlRellenarYSoloAvisaAlUsuario) {
    Lista l;
    std::vector<QString> oidos;
    l.al = [&](const QString& id) { oidos.push_back(id); };
    l.llenar({{"Uno", "a"}, {"Dos", "b"}, {"", "", true}, {"Editar…", "+"}});
    EXPECT_EQ(l.elegido(), "a");
    l.elegir("b");
    l.llenar({{"Uno", "a"}, {"Dos", "b"}, {"", "", true}, {"Editar…", "+"}});
    EXPECT_EQ(l.elegido(), "b");
    l.llenar({{"Cero", "z"}, {"Uno", "a"}, {"Dos", "b"}});
    EXPECT_EQ(l.elegido(), "b");
    l.llenar({{"Uno", "a"}});  // gone: the first
    EXPECT_EQ(l.elegido(), "a");
    l.llenar({{"Uno", "a"}, {"Dos", "b"}}, QString("b"));
    EXPECT_EQ(l.elegido(), "b");
    EXPECT_TRUE(oidos.empty());

    Q_EMIT l.activated(0);  // what the pop-up does when the user picks an item
    EXPECT_EQ(oidos, std::vector<QString>{"a"});

    l.esperar(QString::fromUtf8("Cargando…"));
    EXPECT_FALSE(l.isEnabled());
    EXPECT_EQ(l.count(), 1);
    EXPECT_EQ(l.elegido(), std::nullopt);
}

// Lists and check boxes rest at 0.82 and light up under the pointer, unless disabled.
TEST(Lista, seIluminaBajoElPunteroSoloHabilitada) {
    Lista l;
    Casilla c("Mezclar a mono");
    for (QWidget* w : std::initializer_list<QWidget*>{&l, &c}) {
        EXPECT_NEAR(opacidad(w), 0.82, 1e-9);
        entrar(*w);
        EXPECT_TRUE(prueba::esperar([&] { return opacidad(w) == 1.0; }, 2));
        salir(*w);
        EXPECT_TRUE(prueba::esperar([&] { return std::abs(opacidad(w) - 0.82) < 1e-9; }, 2));
        EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
        w->setEnabled(false);
        EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
        entrar(*w);
        prueba::esperar([] { return false; }, 0.2);
        EXPECT_NEAR(opacidad(w), 0.82, 1e-9);
    }
}

TEST(Casillas, alOyeLoQueMarcaElUsuario) {
    Casilla casilla("Mezclar a mono");
    Marca marca("Repetir", true);
    std::vector<bool> oidos;
    casilla.al = marca.al = [&](bool si) { oidos.push_back(si); };
    casilla.poner(true);
    marca.poner(false);
    EXPECT_TRUE(oidos.empty());
    for (QCheckBox* c : std::initializer_list<QCheckBox*>{&casilla, &marca}) {
        c->resize(c->sizeHint());
        QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(8, c->height() / 2));  // on the box
    }
    EXPECT_EQ(oidos, (std::vector<bool>{false, true}));
}

// A click picks the cell under it; in a gap it picks the first cell within 1.5 points; the
// chosen cell again, or outside every cell, says nothing.
TEST(Rejilla, devuelveLaCeldaPulsada) {
    Rejilla r(4);
    r.resize(r.sizeHint());  // cells 19.33 × 11.33 with 3-point gaps
    std::vector<int> oidas;
    r.al = [&](int c) { oidas.push_back(c); };
    QTest::mouseClick(&r, Qt::LeftButton, {}, QPoint(55, 35));  // bottom right
    QTest::mouseClick(&r, Qt::LeftButton, {}, QPoint(55, 35));
    QTest::mouseClick(&r, Qt::LeftButton, {}, QPoint(20, 5));   // the gap between 0 and 1
    EXPECT_EQ(oidas, (std::vector<int>{8, 0}));
    EXPECT_EQ(r.celda(), 0);
    EXPECT_EQ(Rejilla::celdaEn(QSizeF(64, 40), QPointF(21.5, 5)), 1);  // nearer 1, out of 0's reach
    EXPECT_EQ(Rejilla::celdaEn(QSizeF(64, 40), QPointF(-3, -3)), std::nullopt);

    r.elegir(3);
    EXPECT_EQ(oidas.size(), 2u);
    r.setFocus();
    QTest::keyClick(&r, Qt::Key_Right);
    QTest::keyClick(&r, Qt::Key_Up);
    EXPECT_EQ(oidas, (std::vector<int>{8, 0, 4, 1}));
    EXPECT_EQ(r.toolTip(), QString::fromUtf8("Lugar en la imagen"));
}

// From the keyboard to both ends: exactly the range's ends, each heard.
TEST(Deslizador, valorEnAmbosExtremos) {
    Deslizador d(0.3, 0.1, 0.9);
    std::vector<double> oidos;
    d.al = [&](double v) { oidos.push_back(v); };
    EXPECT_NEAR(d.valor(), 0.3, 1e-3);
    d.poner(5);  // clamped, silent
    EXPECT_EQ(d.valor(), 0.9);
    d.poner(0.5);
    EXPECT_TRUE(oidos.empty());
    d.setFocus();
    QTest::keyClick(&d, Qt::Key_End);
    QTest::keyClick(&d, Qt::Key_Home);
    EXPECT_EQ(oidos, (std::vector<double>{0.9, 0.1}));
    // Dragged past the right end.
    const QPoint medio(d.width() / 2, d.height() / 2);
    d.poner(0.5);
    QTest::mousePress(&d, Qt::LeftButton, {}, medio);
    QTest::mouseMove(&d, QPoint(d.width() + 50, medio.y()));
    QTest::mouseRelease(&d, Qt::LeftButton, {}, QPoint(d.width() + 50, medio.y()));
    ASSERT_GT(oidos.size(), 2u);
    EXPECT_EQ(oidos.back(), 0.9);
}

TEST(Segmentos, elClicEligeElSegmento) {
    Segmentos s({"Izquierda", "Centro", "Derecha"}, 0);
    s.resize(300, 26);
    std::vector<int> oidos;
    s.al = [&](int i) { oidos.push_back(i); };
    s.elegir(2);
    EXPECT_TRUE(oidos.empty());
    QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(150, 13));
    s.setFocus();
    QTest::keyClick(&s, Qt::Key_Left);
    QTest::keyClick(&s, Qt::Key_Left);  // already the first
    EXPECT_EQ(oidos, (std::vector<int>{1, 0}));
    EXPECT_EQ(s.elegido(), 0);
}

// Typing is heard edit by edit; a secret field never hands its text to the clipboard.
TEST(Campos, cadaEdicionYElSecretoNoSeCopia) {
    Campo c("", "Nombre del canal");
    std::vector<QString> oidos;
    c.al = [&](const QString& t) { oidos.push_back(t); };
    c.poner("x");
    EXPECT_TRUE(oidos.empty());
    c.clear();
    QTest::keyClicks(&c, "ab");
    EXPECT_EQ(oidos, (std::vector<QString>{"a", "ab"}));

    CampoSecreto s("Clave de transmisión");
    s.setText("sk_live_secreta");
    QApplication::clipboard()->setText("antes");
    s.selectAll();
    s.copy();
    QMetaObject::invokeMethod(&s, "cut");  // what the menu's "Cortar" does
    s.setFocus();
    s.selectAll();
    QTest::keySequence(&s, QKeySequence::Copy);
    QTest::keySequence(&s, QKeySequence::Cut);
    EXPECT_EQ(QApplication::clipboard()->text(), "antes");
    EXPECT_EQ(s.text(), "sk_live_secreta");
    EXPECT_NE(s.displayText(), s.text());
}

// A click is heard only while enabled; the pointer lights a faint background only where the
// button has none of its own; a symbol that is not there leaves the title alone.
TEST(Boton, clicYFondoBajoElPuntero) {
    Boton b("Abrir app móvil", "no-existe");
    b.resize(b.sizeHint());
    int clics = 0;
    b.al = [&] { ++clics; };
    QTest::mouseClick(&b, Qt::LeftButton);
    b.setEnabled(false);
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(clics, 1);
    EXPECT_FALSE(b.grab().isNull());
    // Symbols take the colour asked for; a missing one, or a path, is none.
    const QImage celular = icono("celular", 14, Qt::red, 2).toImage();
    ASSERT_EQ(celular.size(), QSize(28, 28));
    EXPECT_EQ(celular.pixelColor(14, 2).rgb(), QColor(Qt::red).rgb());
    EXPECT_TRUE(icono("no-existe", 14, Qt::red).isNull());
    EXPECT_TRUE(icono("../iconos/celular", 14, Qt::red).isNull());

    b.setEnabled(true);
    b.ponerFondo(std::nullopt);
    entrar(b);
    ASSERT_TRUE(b.fondoVisible());
    EXPECT_NEAR(b.fondoVisible()->alphaF(), 0.06, 0.01);
    salir(b);
    EXPECT_EQ(b.fondoVisible(), std::nullopt);
    b.ponerFondo(QColor(255, 255, 255, 40));
    entrar(b);
    EXPECT_EQ(b.fondoVisible(), QColor(255, 255, 255, 40));
}
