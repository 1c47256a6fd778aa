#include "ui/sitio_ventana.h"

#include <gtest/gtest.h>

using namespace tt;

namespace {
const QSize preferido(1240, 746), minimo(1040, 600);
const QMargins titulo(0, 37, 0, 0);
}  // namespace

TEST(SitioVentana, abreEnteraEnLaPantallaQueTiene) {
    // A 1366×768 laptop with a 32-point panel on top: shorter, whole, under the panel.
    const QRect portatil(0, 32, 1366, 736);
    SitioVentana e = sitioVentana(preferido, minimo, titulo, portatil, {portatil}, std::nullopt);
    EXPECT_EQ(e.tamano, QSize(1240, 699));
    EXPECT_TRUE(portatil.contains(QRect(e.lugar, e.tamano.grownBy(titulo))));

    // A large screen: the preferred size, centred.
    const QRect grande(0, 0, 1600, 1000);
    e = sitioVentana(preferido, minimo, titulo, grande, {grande}, std::nullopt);
    EXPECT_EQ(e.tamano, preferido);
    EXPECT_EQ(e.lugar, QPoint(180, 108));

    // Smaller than the minimum: the minimum, its title bar on the screen.
    const QRect chica(0, 0, 1024, 576);
    e = sitioVentana(preferido, minimo, titulo, chica, {chica}, std::nullopt);
    EXPECT_EQ(e.tamano, minimo);
    EXPECT_EQ(e.lugar, QPoint(0, 0));
}

TEST(SitioVentana, elLugarGuardadoSoloSiSeVeEntero) {
    const QRect izquierda(0, 0, 1920, 1080), derecha(1920, 0, 1920, 1200);
    // Fully on the second screen: kept.
    SitioVentana e = sitioVentana(preferido, minimo, titulo, izquierda, {izquierda, derecha}, QPoint(1950, 10));
    EXPECT_EQ(e.lugar, QPoint(1950, 10));
    EXPECT_EQ(e.tamano, preferido);
    // Across the two screens, or on a screen that is gone: centred on the screen it opens on.
    for (QPoint guardado : {QPoint(1000, 10), QPoint(4000, 10)}) {
        e = sitioVentana(preferido, minimo, titulo, izquierda, {izquierda}, guardado);
        EXPECT_EQ(e.lugar, QPoint(340, 148)) << guardado.x();
    }
}
