// The live figures and the edge-triggered notices, walked through simulated time.
#include "quality/tablero.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Tablero, cifrasCadaDosSegundos) {
    Tablero t;
    t.empezar(1000);
    Tablero::Lectura l;
    l.bytes = 500000;
    l.saltados = 3;
    auto c = t.refrescar(1001.75, l);
    EXPECT_EQ(c.tiempo, "0:00:01");
    EXPECT_EQ(c.saltados, "3");
    EXPECT_FALSE(c.toca);
    EXPECT_FALSE(c.sale);
    c = t.refrescar(1002, l);
    ASSERT_TRUE(c.toca);
    EXPECT_EQ(c.sale, "2.00");
    EXPECT_FALSE(c.ritmo);  // the encoder has not reported its speed yet
    // The bytes of the interval only; a count that went back (a new encoder) reads 0.
    // What is shown keeps each figure's last value between the ticks that bring one.
    CifrasAlAire vista;
    vista.tomar(c);
    vista.tomar(t.refrescar(1002.25, l));
    EXPECT_EQ(vista.sale, "2.00");
    EXPECT_EQ(vista.ritmo, "—");
    EXPECT_EQ(vista.tiempo, "0:00:02");
    l.bytes = 750000;
    l.ritmo = 1.004;
    l.cps = 29.6;
    c = t.refrescar(1006, l);
    EXPECT_EQ(c.sale, "0.50");
    EXPECT_EQ(c.ritmo, "1.00×");
    EXPECT_EQ(c.cps, "30");
    l.bytes = 100;
    EXPECT_EQ(t.refrescar(1008, l).sale, "0.00");
    EXPECT_EQ(t.refrescar(4725, l).tiempo, "1:02:05");
}

TEST(Tablero, avisosSoloCuandoCambiaLaCondicion) {
    Tablero t;
    t.empezar(0);
    Tablero::Lectura l;
    l.ultimoVideoEn = 0;  // no frame yet: not a stalled camera
    EXPECT_TRUE(t.refrescar(10, l).avisos.empty());

    l.enPausa = true;
    l.respaldo = "Volvemos en un momento";
    l.ultimoVideoEn = 6.5;
    auto c = t.refrescar(10.25, l);
    ASSERT_EQ(c.avisos.size(), 2u);
    EXPECT_EQ(c.avisos[0], (Aviso{"Sin internet. En Kick se queda «Volvemos en un momento» hasta que vuelva.", true}));
    EXPECT_EQ(c.avisos[1].texto, "La cámara dejó de mandar imagen. Revisa el cable o que siga encendida.");
    EXPECT_TRUE(t.refrescar(10.5, l).avisos.empty());

    l.enPausa = false;
    l.ultimoVideoEn = 10.6;
    c = t.refrescar(10.75, l);
    ASSERT_EQ(c.avisos.size(), 2u);
    EXPECT_EQ(c.avisos[0], (Aviso{"Volvió el internet: sigues al aire.", false}));
    EXPECT_EQ(c.avisos[1], (Aviso{"Volvió la imagen de la cámara.", false}));

    l.enPausa = true;
    l.respaldo.reset();
    EXPECT_EQ(t.refrescar(11, l).avisos.at(0).texto, "Sin internet. En Kick se queda la última imagen hasta que vuelva.");
    // A new transmission starts with the network and the camera taken as fine.
    t.empezar(20);
    l.enPausa = false;
    l.ultimoVideoEn = 20;
    EXPECT_TRUE(t.refrescar(20.25, l).avisos.empty());
}

TEST(Tablero, compresorLentoSeAvisaUnaVezYAlRecuperarse) {
    Tablero t;
    t.empezar(0);
    Tablero::Lectura l;
    l.ritmo = 0.5;
    int rojos = 0;
    // Slow from the start: the first 21 s on air do not count, then the 4th slow sample warns once.
    for (double s = 2; s <= 40; s += 2) {
        auto c = t.refrescar(s, l);
        if (c.lento) {
            EXPECT_EQ(*c.lento, (Aviso{"Esta computadora no está alcanzando a comprimir en tiempo real.", true}));
            EXPECT_EQ(s, 28);
            ++rojos;
        }
    }
    EXPECT_EQ(rojos, 1);
    l.ritmo = 0.95;
    EXPECT_EQ(t.refrescar(42, l).lento, (Aviso{"El compresor ya va al ritmo.", false}));
    EXPECT_FALSE(t.refrescar(44, l).lento);
    // Three slow samples and a recovery: no notice either way.
    l.ritmo = 0.5;
    for (double s = 46; s <= 50; s += 2) EXPECT_FALSE(t.refrescar(s, l).lento);
    l.ritmo = 0.9;
    EXPECT_FALSE(t.refrescar(52, l).lento);
}

TEST(Tablero, lineaDeEstado) {
    EXPECT_EQ(lineaEstado("0:00:07", "1.52", "30", "1.01×", "0", std::nullopt),
              "0:00:07 al aire   ·   1.52 Mbps   ·   30 cuadros/s   ·   compresor 1.01×   ·   0 saltados");
    EXPECT_EQ(lineaEstado("0:00:07", "—", "—", "—", "2", "Solo audio por la señal"),
              "0:00:07 al aire   ·   — Mbps   ·   — cuadros/s   ·   compresor —   ·   2 saltados   ·   solo audio por la señal");
}
