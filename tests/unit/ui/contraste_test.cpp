#include "ui/apariencia.h"
#include "ui/fuente.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <gtest/gtest.h>

#include <cmath>

using namespace tt;

namespace {
// `arriba` laid over the opaque `abajo`.
QColor sobre(QColor arriba, QColor abajo) {
    const double a = arriba.alphaF();
    return QColor::fromRgbF(float(arriba.redF() * a + abajo.redF() * (1 - a)),
                            float(arriba.greenF() * a + abajo.greenF() * (1 - a)),
                            float(arriba.blueF() * a + abajo.blueF() * (1 - a)));
}
double luminancia(QColor c) {
    auto lineal = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lineal(c.redF()) + 0.7152 * lineal(c.greenF()) + 0.0722 * lineal(c.blueF());
}
double contraste(QColor a, QColor b) {
    const double la = luminancia(a), lb = luminancia(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
}  // namespace

// Every text colour the interface reads (secondary and tertiary labels, placeholders) against
// every background it is drawn on: the window, a block of the side column, and a field (focused,
// its brightest) on either, all from the appearance's own values.
TEST(Contraste, todoTextoSeLeeSobreTodoFondo) {
    const QPalette antes = QApplication::palette();
    const QString estilo = QApplication::style()->name();
    aparienciaOscura();
    const QColor placeholder = QApplication::palette().color(QPalette::PlaceholderText);
    QApplication::setPalette(antes);  // the other tests keep the look they were written for
    QApplication::setStyle(estilo);
    const QColor fondo = colorFondo();
    const QColor bloque = sobre(colorBloque(), fondo);
    const QColor campo(255, 255, 255, 23);  // a focused field's fill
    const QColor fondos[] = {fondo, bloque, sobre(campo, fondo), sobre(campo, bloque)};
    const QColor textos[] = {colorSecundario(), colorTerciario(), placeholder};
    for (const QColor& f : fondos)
        for (const QColor& t : textos)
            EXPECT_GE(contraste(sobre(t, f), f), 4.5) << t.name(QColor::HexArgb).toStdString() << " sobre "
                                                      << f.name().toStdString();
}
