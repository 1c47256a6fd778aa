// The ladder walked through simulated time: readings every 2 s, an engine that takes or refuses.
#include "quality/escalera.h"

#include <gtest/gtest.h>

using namespace tt;

namespace {

struct Banco {
    Escalera e;
    double t = 100;
    bool acepta = true;
    std::vector<std::pair<int, bool>> pedidos;  // every change asked of the engine
    Escalera::Respuesta r;

    Banco() { e.empezar(6000, t); }
    // One reading 2 s after the previous one.
    Escalera::Respuesta leer(double espera, int kbps = 6000, std::optional<Sondeo> s = std::nullopt) {
        t += 2;
        Escalera::Lectura l;
        l.presion = Presion{espera, kbps, 1};
        l.sondeo = s;
        r = e.cuidar(t, l, [this](int k, bool urgente) {
            pedidos.emplace_back(k, urgente);
            return acepta;
        });
        return r;
    }
    // Calm readings until a probe starts; its extra kbit/s.
    int hastaSondear(int tope = 30) {
        for (int i = 0; i < tope; ++i)
            if (leer(0).sondear && r.sondear->first > 0) return r.sondear->first;
        return -1;
    }
};

}  // namespace

TEST(Escalera, bajaAlTercerApretonHastaLoQueLasRedesConfirman) {
    Banco b;
    EXPECT_EQ(b.e.escalones(), (std::vector<int>{6000, 4125, 2812, 1875, 90}));
    EXPECT_FALSE(b.e.calidadTexto());
    // The first 6 s after the start decide nothing, however hard the pressure.
    b.leer(1.0, 100);
    b.leer(1.0, 100);
    EXPECT_TRUE(b.pedidos.empty());

    b.leer(0.4, 3000);
    b.leer(0.4, 3000);
    EXPECT_TRUE(b.pedidos.empty());
    b.leer(0.4, 3000);
    // 3000 confirmed: the limit is 2454, so 4125 and 2812 are skipped.
    ASSERT_EQ(b.pedidos, (std::vector<std::pair<int, bool>>{{1875, true}}));
    EXPECT_EQ(b.e.escalon(), 3);
    EXPECT_EQ(b.r.desde, 0);
    ASSERT_EQ(b.r.bitacora.size(), 1u);
    EXPECT_EQ(b.r.bitacora[0],
              "calidad: baja a 1875 kbps (las redes confirmaron 3000 kbps con el compresor frenado 40 % del tiempo)");
    EXPECT_EQ(b.r.aviso, (Aviso{"La señal no alcanza: bajamos la calidad para que no se trabe.", true}));
    EXPECT_EQ(b.e.calidadTexto(), "Calidad reducida a 1.9 Mbps por la señal");

    // Readings of 0.7 with no step up in the last minute: the second one steps down (2, 4).
    for (int i = 0; i < 3; ++i) b.leer(0, 3000);
    b.leer(0.7, 100);
    EXPECT_EQ(b.e.escalon(), 3);
    b.leer(0.7, 100);
    EXPECT_EQ(b.e.escalon(), 4);
    EXPECT_TRUE(b.e.soloAudio());
    EXPECT_EQ(b.r.bitacora.at(0).rfind("calidad: baja a solo audio (", 0), 0u);
    EXPECT_EQ(b.r.aviso->texto, "Muy poca señal: sale solo el audio hasta que mejore.");
    EXPECT_EQ(b.e.calidadTexto(), "Solo audio por la señal");

    // Nothing lower: more pressure changes nothing.
    for (int i = 0; i < 10; ++i) b.leer(1.0, 0);
    EXPECT_EQ(b.pedidos.size(), 2u);
    EXPECT_EQ(b.e.escalon(), 4);
}

TEST(Escalera, unSondeoQuePasaVuelveArribaYUnApretonEnSeguidaBajaUnEscalon) {
    Banco b;
    for (int i = 0; i < 6; ++i) b.leer(1.0, 0);
    ASSERT_TRUE(b.e.soloAudio());
    // Calm for 10 s after the 6 quiet ones: a probe of 125 % of what is missing.
    EXPECT_EQ(b.hastaSondear(), (6000 - 90) * 125 / 100);
    EXPECT_EQ(b.r.sondear->second, 4);
    EXPECT_TRUE(b.e.sondeando());
    b.leer(0, 90, Sondeo{100000, 0});  // 2 s into the probe: wait
    EXPECT_EQ(b.pedidos.size(), 1u);
    // 90 % of what it should have sent: straight to the top, from the audio-only rung.
    b.leer(0.1, 90, Sondeo{3693000, 3323700});
    ASSERT_EQ(b.pedidos.back(), (std::pair<int, bool>{6000, false}));
    EXPECT_EQ(b.e.escalon(), 0);
    EXPECT_EQ(b.r.desde, 4);
    EXPECT_EQ(b.r.sondear, (std::pair<int, double>{0, 0}));
    EXPECT_EQ(b.r.bitacora.at(0), "calidad: sube a 6000 kbps (la normal; el sondeo pasó 3245 de 3606 KB)");
    EXPECT_EQ(b.r.aviso, (Aviso{"La señal mejoró: calidad normal otra vez.", false}));

    // Within a minute of that step up, one reading of 0.7 steps down one rung only.
    for (int i = 0; i < 3; ++i) b.leer(0);
    b.leer(0.7, 0);
    EXPECT_EQ(b.e.escalon(), 1);
    EXPECT_EQ(b.e.esperaParaSubir(), 15);
}

TEST(Escalera, sondeosFallidosAlarganLaEsperaYLaCalmaArribaLaDevuelve) {
    Banco b;
    for (int i = 0; i < 5; ++i) b.leer(0.4, 3000);
    ASSERT_EQ(b.e.escalon(), 3);
    EXPECT_EQ(b.e.esperaParaSubir(), 10);
    for (double espera : {15.0, 20.0, 20.0}) {
        ASSERT_GT(b.hastaSondear(), 0);
        b.leer(0, 1875, Sondeo{0, 0});
        // Pressure during a probe ends it at once; too little arrived for any rung: a failure.
        b.leer(0.4, 1875, Sondeo{1000000, 10000});
        EXPECT_FALSE(b.e.sondeando());
        EXPECT_EQ(b.e.escalon(), 3);
        EXPECT_EQ(b.e.esperaParaSubir(), espera);
        EXPECT_EQ(b.r.bitacora.at(0), "calidad: la señal todavía no aguanta más (el sondeo pasó 9 de 976 KB); "
                                      "siguiente intento en " + std::to_string(int(espera)) + " s");
    }
    // Enough arrived for 2812 but not the top: an intermediate rung.
    ASSERT_GT(b.hastaSondear(), 0);
    b.leer(0, 1875, Sondeo{0, 0});
    b.leer(0, 1875, Sondeo{2000000, 1000000});  // 1875 + 80 % of 2000 kbit/s = 3475
    EXPECT_EQ(b.e.escalon(), 2);
    EXPECT_EQ(b.e.esperaParaSubir(), 10);
    EXPECT_EQ(b.r.aviso->texto, "La señal mejoró: subimos la calidad.");

    // Put at the top while still waiting long (a failed probe, then a direct change): a minute of
    // calm there brings the wait back to 10 s.
    ASSERT_GT(b.hastaSondear(), 0);
    b.leer(0, 2812, Sondeo{0, 0});
    b.leer(0, 2812, Sondeo{1000, 0});
    ASSERT_EQ(b.e.esperaParaSubir(), 15);
    ASSERT_TRUE(b.e.ponerEscalon(0, [](int, bool) { return true; }));
    for (int i = 0; i < 30; ++i) b.leer(0);
    EXPECT_EQ(b.e.esperaParaSubir(), 15);
    b.leer(0);
    EXPECT_EQ(b.e.esperaParaSubir(), 10);
}

TEST(Escalera, unCambioRechazadoDejaTodoComoEstaba) {
    Banco b;
    b.acepta = false;
    for (int i = 0; i < 6; ++i) b.leer(0.4, 3000);
    ASSERT_FALSE(b.pedidos.empty());
    EXPECT_EQ(b.e.escalon(), 0);
    EXPECT_FALSE(b.r.desde);
    EXPECT_TRUE(b.r.bitacora.empty());
    EXPECT_FALSE(b.r.aviso);
    EXPECT_EQ(b.e.esperaParaSubir(), 10);
    // The pressure count was kept: the next reading asks again, and this time the engine takes it.
    b.acepta = true;
    b.leer(0.4, 3000);
    EXPECT_EQ(b.e.escalon(), 3);

    // A refused step up after a good probe counts as a failed probe.
    ASSERT_GT(b.hastaSondear(), 0);
    b.acepta = false;
    b.leer(0, 1875, Sondeo{0, 0});
    b.leer(0, 1875, Sondeo{2000000, 2000000});
    EXPECT_EQ(b.e.escalon(), 3);
    EXPECT_EQ(b.e.esperaParaSubir(), 15);
    EXPECT_FALSE(b.e.sondeando());

    // A change the engine took but could not launch: the ladder goes back to the rate it runs at.
    EXPECT_EQ(b.e.volverA(6000), 3);
    EXPECT_EQ(b.e.escalon(), 0);
    EXPECT_FALSE(b.e.volverA(6000));
}

TEST(Escalera, sinRedesNiRepartoSeQuedaQuieta) {
    Banco b;
    for (int i = 0; i < 3; ++i) b.leer(0);
    // Pressure readings interrupted by a pause for lack of network start counting again.
    b.leer(0.4, 3000);
    b.leer(0.4, 3000);
    b.t += 2;
    Escalera::Lectura pausa;
    pausa.presion = Presion{0.4, 3000, 1};
    pausa.enPausa = true;
    b.e.cuidar(b.t, pausa, [](int, bool) { return true; });
    b.leer(0.4, 3000);
    b.leer(0.4, 3000);
    EXPECT_EQ(b.e.escalon(), 0);
    // Without an uplink, or with a test fixing the quality, nothing is asked.
    Escalera::Lectura sin;
    sin.quieta = true;
    sin.presion = Presion{1.0, 0, 1};
    for (int i = 0; i < 5; ++i) b.e.cuidar(b.t += 2, i % 2 ? sin : Escalera::Lectura{}, [](int, bool) { return true; });
    EXPECT_EQ(b.e.escalon(), 0);
    EXPECT_TRUE(b.pedidos.empty());
}

TEST(Escalera, textoDeCalidad) {
    Escalera e;
    e.empezar(6000, 0);
    ASSERT_TRUE(e.ponerEscalon(2, [](int, bool) { return true; }));
    EXPECT_EQ(e.calidadTexto(), "Calidad reducida a 2.8 Mbps por la señal");
    e.empezar(1000, 0);
    EXPECT_EQ(e.escalones(), (std::vector<int>{1000, 687, 468, 312, 90}));
}
