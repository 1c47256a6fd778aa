#include "ui/pregunta.h"

#include "soporte/soporte.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tt;
using prueba::esperar;

namespace {
QPushButton* boton(QMessageBox* m, const char* texto) {
    for (auto* b : m->buttons())
        if (b->text() == QString::fromUtf8(texto)) return qobject_cast<QPushButton*>(b);
    return nullptr;
}
}  // namespace

// Return takes the safe choice, even with the destructive one focused; the destructive one is red
// and never the default; Escape makes the choice the question names.
TEST(Pregunta, returnEsLaSeguraYLaDestructivaEsRoja) {
    QWidget ventana;
    ventana.resize(600, 400);
    ventana.show();
    std::vector<std::optional<int>> r;
    auto* m = preguntar(&ventana, {"¿Eliminar «Mi canal»?", "Se borra el canal.", {"Cancelar", "Eliminar"}, 0, 1, 0},
                        [&](std::optional<int> x) { r.push_back(x); });
    ASSERT_TRUE(esperar([&] { return m->isVisible(); }, 5));
    QPushButton* eliminar = boton(m, "Eliminar");
    ASSERT_TRUE(eliminar);
    EXPECT_EQ(m->defaultButton(), boton(m, "Cancelar"));
    const QColor fondo = eliminar->grab().toImage().pixelColor(eliminar->width() / 2, 4);
    EXPECT_GT(fondo.red(), 2 * fondo.green()) << fondo.name().toStdString();
    eliminar->setFocus();
    QTest::keyClick(m, Qt::Key_Return);
    ASSERT_TRUE(esperar([&] { return r.size() == 1; }, 5));
    EXPECT_EQ(r[0], 0);

    auto* otra = preguntar(&ventana, {"Estás transmitiendo", "", {"Cortar y cerrar", "Seguir transmitiendo"}, 1, 0, 1},
                           [&](std::optional<int> x) { r.push_back(x); });
    ASSERT_TRUE(esperar([&] { return otra->isVisible(); }, 5));
    QTest::keyClick(otra, Qt::Key_Escape);
    ASSERT_TRUE(esperar([&] { return r.size() == 2; }, 5));
    EXPECT_EQ(r[1], 1);
}

// A question that must be answered ignores Escape; its answer is the button pressed.
TEST(Pregunta, sinEscapeHayQueResponder) {
    QWidget ventana;
    ventana.show();
    std::optional<std::optional<int>> r;
    auto* m = preguntar(&ventana, {"Tu transmisión sigue abierta", "", {"Terminar", "Seguir"}, 1, 0, std::nullopt},
                        [&](std::optional<int> x) { r = x; });
    ASSERT_TRUE(esperar([&] { return m->isVisible(); }, 5));
    QTest::keyClick(m, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(m->isVisible());
    EXPECT_FALSE(r);
    boton(m, "Terminar")->click();
    ASSERT_TRUE(esperar([&] { return r.has_value(); }, 5));
    EXPECT_EQ(*r, 0);
}
