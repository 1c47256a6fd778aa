#include "uplink/enlace.h"

#include <gtest/gtest.h>

using namespace tt;

namespace {
Trozo trozo(std::size_t n, double enviado, bool copia = false) { return Trozo{std::string(n, 'x'), enviado, copia}; }
}  // namespace

TEST(Enlace, primerAcuseFijaLasTresDemoras) {
    Enlace e("eth0", "Ethernet");
    e.bytesEnVuelo = 1000;
    e.acusar(0, trozo(1000, 10.0), 1000, 10.05);
    EXPECT_NEAR(e.demora, 0.05, 1e-9);
    EXPECT_NEAR(e.demoraBase, 0.05, 1e-9);
    EXPECT_NEAR(e.demoraMin, 0.05, 1e-9);
    EXPECT_EQ(e.bytesEnVuelo, 0);
    EXPECT_EQ(e.confirmados, 1000);
    // A slower second one: smoothed delay, the baseline and the floor rise only a little.
    e.acusar(1, trozo(10, 10.0), 10, 10.25);
    EXPECT_NEAR(e.demora, 0.2 * 0.25 + 0.8 * 0.05, 1e-9);
    EXPECT_NEAR(e.demoraBase, 1.02 * 0.05 + 0.002, 1e-9);
    EXPECT_NEAR(e.demoraMin, 0.0505, 1e-9);
    // A faster one brings the baseline down at once.
    e.acusar(2, trozo(10, 10.0), 10, 10.01);
    EXPECT_NEAR(e.demoraBase, 0.01, 1e-9);
}

TEST(Enlace, topeTieneUnPiso) {
    Enlace e("eth0", "Ethernet");
    EXPECT_EQ(e.tope(), 131072);
    e.calidad = 0.1;
    EXPECT_EQ(e.tope(), 16384);  // not 13107
    e.calidad = 0.5;
    EXPECT_EQ(e.tope(), 65536);
}

TEST(Enlace, ventanaCreceConPocaColaYSeRecortaConMucha) {
    Enlace e("eth0", "Ethernet");
    // Fills at least 60 % of the window and little queueing: grows by the payload.
    e.acusar(0, trozo(16384, 0.0), 100000, 0.02);
    EXPECT_DOUBLE_EQ(e.ventana, 131072 + 16384);
    // Little in flight: no growth.
    e.acusar(1, trozo(16384, 1.0), 1000, 1.02);
    EXPECT_DOUBLE_EQ(e.ventana, 131072 + 16384);
    // Queueing delay over 0.5 s: cut by a fifth, then not again within max(demora, 0.2).
    e.acusar(2, trozo(16384, 2.0), 100000, 2.7);
    EXPECT_DOUBLE_EQ(e.ventana, 0.8 * (131072 + 16384));
    EXPECT_DOUBLE_EQ(e.recorteEn, 2.7);
    const double tras = e.ventana;
    e.acusar(3, trozo(16384, 2.1), 100000, 2.8);
    EXPECT_DOUBLE_EQ(e.ventana, tras);
    // Never below 64 KiB.
    e.ventana = 70000;
    e.acusar(4, trozo(16384, 10.0), 100000, 11.0);
    EXPECT_DOUBLE_EQ(e.ventana, 65536);
}

TEST(Enlace, rellenoNoMueveLaVentanaYCopiaNoSubeCalidad) {
    Enlace e("eth0", "Ethernet");
    e.calidad = 0.5;
    e.acusar(0xFFFFFF00, trozo(8192, 0.0, true), 200000, 0.01);
    EXPECT_DOUBLE_EQ(e.ventana, 131072);
    EXPECT_DOUBLE_EQ(e.calidad, 0.5);
    e.acusar(7, trozo(100, 0.0, true), 0, 0.01);
    EXPECT_DOUBLE_EQ(e.calidad, 0.5);
    e.acusar(8, trozo(100, 0.0, false), 0, 0.01);
    EXPECT_DOUBLE_EQ(e.calidad, 0.52);
}

TEST(Enlace, soloTresSegundosNoEsAtascoYCuatroConUnCentesimoSiSinCastigo) {
    Enlace e("eth0", "Ethernet");
    e.etapa = 2;
    e.ultimoAcuse = 100;
    e.enVuelo[1] = trozo(10, 100);  // sent into an empty flight at 100
    e.bytesEnVuelo = 10;
    EXPECT_FALSE(e.revisarAtasco(103, false).atascado);
    auto a = e.revisarAtasco(104.01, false);
    EXPECT_TRUE(a.atascado);
    EXPECT_EQ(a.castigo, 0);
    EXPECT_EQ(e.fallas, 0);
    EXPECT_EQ(e.castigoHasta, 0);
    // With a healthy other link two seconds are enough.
    EXPECT_TRUE(e.revisarAtasco(102.01, true).atascado);
}

TEST(Enlace, enlaceOciosoNoEstaAtascado) {
    // The scheduler may leave a link without chunks for a long time: nothing is awaited, so its
    // silence proves nothing and must not earn it a penalty.
    Enlace e("eth1", "Wi-Fi");
    e.etapa = 2;
    e.ultimoAcuse = 100;
    auto a = e.revisarAtasco(160, true);
    EXPECT_FALSE(a.atascado);
    EXPECT_EQ(e.fallas, 0);
}

TEST(Enlace, graciaYEdadDeLoMasViejo) {
    Enlace e("eth0", "Ethernet");
    e.etapa = 2;
    e.ultimoAcuse = 100;
    e.graciaHasta = 108;
    e.enVuelo[1] = trozo(10, 100);
    EXPECT_FALSE(e.revisarAtasco(109, true).atascado);  // silence counts from the grace's end
    Enlace f("eth1", "Wi-Fi");
    f.etapa = 2;
    f.ultimoAcuse = 105.0;  // acknowledgements keep coming, but an old chunk never does
    f.enVuelo[3] = trozo(10, 100);
    f.bytesEnVuelo = 10;
    EXPECT_TRUE(f.revisarAtasco(105.1 + 0.01, false).atascado);
}

TEST(Enlace, castigosDoblanHastaCuarentaYSeOlvidanANoventa) {
    Enlace e("eth0", "Ethernet");
    e.etapa = 2;
    double t = 100;
    e.enVuelo[1] = trozo(10, 0);
    for (double esperado : {4.0, 8.0, 16.0, 32.0, 40.0, 40.0}) {
        e.ultimoAcuse = t;
        e.enVuelo[1].enviado = t;
        auto a = e.revisarAtasco(t + 2.5, true);
        ASSERT_TRUE(a.atascado);
        EXPECT_EQ(a.castigo, esperado);
        EXPECT_DOUBLE_EQ(e.castigoHasta, t + 2.5 + esperado);
        t += 100;
    }
    EXPECT_EQ(e.fallas, 6);
    EXPECT_FALSE(e.recuperar(e.castigoHasta + 90));
    EXPECT_TRUE(e.recuperar(e.castigoHasta + 90.01));
    EXPECT_EQ(e.fallas, 0);
    EXPECT_FALSE(e.recuperar(e.castigoHasta + 200));  // once
}

TEST(Enlace, caerReiniciaSoloLoQueDebe) {
    Enlace e("eth0", "Ethernet");
    e.con = true;
    e.etapa = 2;
    e.ventana = 500000;
    e.demora = 0.1;
    e.calidad = 0.3;
    e.fallas = 2;
    e.demoraMin = 0.05;
    e.reiniciar(50);
    EXPECT_FALSE(e.con);
    EXPECT_EQ(e.etapa, 0);
    EXPECT_EQ(e.intentoEn, 50);
    EXPECT_EQ(e.ventana, 131072);
    EXPECT_EQ(e.demoraMin, 0);
    EXPECT_EQ(e.demora, 0.1);
    EXPECT_EQ(e.calidad, 0.3);
    EXPECT_EQ(e.fallas, 2);
}

TEST(Enlace, muestraDeCaudal) {
    Enlace e("eth0", "Ethernet");
    e.confirmados = 500000;
    e.muestra(2.0);
    EXPECT_EQ(e.kbps, 2000);
    e.muestra(2.5);
    EXPECT_EQ(e.kbps, 0);
}
