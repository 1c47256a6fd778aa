#include "ui/cifra.h"
#include "ui/medidor.h"

#include <QImage>

#include <cstdlib>
#include <limits>
#include <gtest/gtest.h>

using namespace tt;

// What a user reads off the meter: 0 dB fills it in red, −20 dB fills two thirds in green,
// silence and nonsense leave it empty.
TEST(Medidor, largoYColorSegunLosDecibeles) {
    auto lleno = Medidor::barra(1.0f);
    EXPECT_DOUBLE_EQ(lleno.parte, 1.0);
    EXPECT_GT(lleno.color.redF(), 0.9);
    EXPECT_LT(lleno.color.greenF(), 0.5);
    auto medio = Medidor::barra(0.1f);
    EXPECT_NEAR(medio.parte, 2.0 / 3, 1e-6);
    EXPECT_GT(medio.color.greenF(), medio.color.redF());
    EXPECT_EQ(Medidor::barra(0.0f).parte, 0);
    EXPECT_EQ(Medidor::barra(-1.0f).parte, 0);
    EXPECT_EQ(Medidor::barra(std::numeric_limits<float>::quiet_NaN()).parte, 0);
    EXPECT_EQ(Medidor::barra(1e-6f).parte, 0);  // below the 60 dB shown

    Medidor m;
    m.resize(300, 6);
    m.nivel = 0.1f;
    QImage foto = m.grab().toImage();
    QColor dentro = foto.pixel(150, 3), fuera = foto.pixel(280, 3);
    EXPECT_GT(dentro.green() - dentro.red(), 100);  // the bar
    EXPECT_LT(std::abs(fuera.green() - fuera.red()), 10);  // the grey track past it
}

TEST(Cifra, rayaHastaQueSeLeDaUnValor) {
    Cifra c("tiempo al aire");
    EXPECT_EQ(c.valor(), QString::fromUtf8("—"));
    EXPECT_EQ(c.nombre(), "tiempo al aire");
    c.ponerValor("1:02:05");
    EXPECT_EQ(c.valor(), "1:02:05");
}
