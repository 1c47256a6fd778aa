#include "ui/fotos.h"

#include <gtest/gtest.h>

using namespace tt;

// A screen is drawn once per version: not again while its drawing runs or after it came back,
// again when it changes (even if the old drawing comes back late, it does not count for the new);
// each version's first picture is announced once.
TEST(CuentaFotos, unaVezPorVersionDeLaPantalla) {
    CuentaFotos c;
    Pantalla p;
    p.camara = 0;
    EXPECT_TRUE(c.toca(p, true, 0));
    c.pedida(p, 0);
    EXPECT_FALSE(c.toca(p, true, 0.1));
    EXPECT_TRUE(c.hecha(p, true));
    EXPECT_FALSE(c.toca(p, true, 60));

    Pantalla cambiada = p;
    cambiada.titulo = "Ya volvemos";
    EXPECT_TRUE(c.toca(cambiada, false, 61));
    c.pedida(cambiada, 61);
    EXPECT_FALSE(c.hecha(p, true));  // the drawing of the old version
    EXPECT_FALSE(c.toca(cambiada, false, 200));  // the new one is still running
    EXPECT_TRUE(c.hecha(cambiada, true));
    c.olvidar();
    EXPECT_TRUE(c.toca(cambiada, false, 201));
}

// A card that shows the camera follows it, but never more than once a second, and only while there
// is a camera frame; a drawing that failed is not tried again until the screen changes.
TEST(CuentaFotos, laCamaraCadaSegundoYUnFalloNoSeRepite) {
    CuentaFotos c;
    Pantalla p;
    p.camara = 2;
    c.pedida(p, 10);
    c.hecha(p, true);
    EXPECT_FALSE(c.toca(p, true, 10.5));
    EXPECT_TRUE(c.toca(p, true, 11));
    EXPECT_FALSE(c.toca(p, false, 11));
    c.pedida(p, 11);
    EXPECT_FALSE(c.hecha(p, true));  // the same screen with a newer camera frame

    c.pedida(p, 12);
    c.hecha(p, false);
    EXPECT_FALSE(c.toca(p, true, 30));
    p.camTam = 0.5;
    EXPECT_TRUE(c.toca(p, true, 30));
}
