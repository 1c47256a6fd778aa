#include "uplink/enlace.h"

#include <gtest/gtest.h>

using namespace tt;

namespace {
constexpr std::int64_t sinTope = 1 << 30;

Enlace admitido(double t) {
    Enlace e("eth0", "Ethernet");
    e.conectar(t);
    e.saludado();
    e.admitir(t);
    return e;
}

// A chunk of n bytes sent at `enviado` and acknowledged at `ahora`.
void ida(Enlace& e, std::uint32_t seq, std::size_t n, double enviado, double ahora, bool copia = false) {
    e.poner(seq, std::string(n, 'x'), enviado, copia);
    ASSERT_TRUE(e.acusar(seq, ahora));
}
}  // namespace

TEST(Enlace, primerAcuseFijaLasTresDemoras) {
    Enlace e = admitido(10);
    ida(e, 0, 1000, 10.0, 10.05);
    EXPECT_NEAR(e.demora(), 0.05, 1e-9);
    EXPECT_NEAR(e.demoraBase(), 0.05, 1e-9);
    EXPECT_NEAR(e.demoraMin(), 0.05, 1e-9);
    EXPECT_EQ(e.bytesEnVuelo(), 0);
    EXPECT_EQ(e.confirmados(), 1000);
    // A slower second one: smoothed delay, the baseline and the floor rise only a little.
    ida(e, 1, 10, 10.0, 10.25);
    EXPECT_NEAR(e.demora(), 0.2 * 0.25 + 0.8 * 0.05, 1e-9);
    EXPECT_NEAR(e.demoraBase(), 1.02 * 0.05 + 0.002, 1e-9);
    EXPECT_NEAR(e.demoraMin(), 0.0505, 1e-9);
    // A faster one brings the baseline down at once.
    ida(e, 2, 10, 10.0, 10.01);
    EXPECT_NEAR(e.demoraBase(), 0.01, 1e-9);
    // Unknown numbers settle nothing, but are a sign of life.
    EXPECT_FALSE(e.acusar(77, 11));
    EXPECT_EQ(e.ultimoAcuse(), 11);
}

TEST(Enlace, topeTieneUnPiso) {
    Enlace e = admitido(0);
    EXPECT_EQ(e.tope(), 131072);
    for (std::uint32_t s = 0; s < 11; ++s) {
        e.poner(s, "x", 0, false);
        e.copiado(s);
    }
    EXPECT_DOUBLE_EQ(e.calidad(), 0.1);
    EXPECT_EQ(e.tope(), 16384);  // not 13107
}

TEST(Enlace, ventanaCreceConPocaColaYSeRecortaConMucha) {
    Enlace e = admitido(0);
    // Little in flight: no growth.
    ida(e, 1, 16384, 1.0, 1.02);
    EXPECT_DOUBLE_EQ(e.ventana(), 131072);
    // At least 60 % of the window in flight and little queueing: grows by the payload.
    e.poner(1000, std::string(100000, 'p'), 2.0, false);
    ida(e, 0, 16384, 2.0, 2.02);
    EXPECT_DOUBLE_EQ(e.ventana(), 131072 + 16384);
    // Queueing delay over 0.5 s: cut by a fifth, then not again within max(demora, 0.2).
    ida(e, 2, 16384, 3.0, 3.7);
    EXPECT_DOUBLE_EQ(e.ventana(), 0.8 * (131072 + 16384));
    ida(e, 3, 16384, 3.1, 3.8);
    EXPECT_DOUBLE_EQ(e.ventana(), 0.8 * (131072 + 16384));
    // Never below 64 KiB.
    for (int i = 0; i < 10; ++i) ida(e, 4, 16384, 10.0 + 2 * i, 11.0 + 2 * i);
    EXPECT_DOUBLE_EQ(e.ventana(), 65536);
}

TEST(Enlace, latidoNoMueveLaVentanaSondeoSiYCopiaNoSubeCalidad) {
    Enlace e = admitido(0);
    e.poner(1000, std::string(200000, 'p'), 0, false);
    for (std::uint32_t s = 0; s < 3; ++s) {
        e.poner(s, "x", 0, false);
        e.copiado(s);
    }
    const double calidad = e.calidad();
    e.poner(0xFFFFFF00, std::string(8192, '\0'), 0, true, true);
    ASSERT_TRUE(e.acusar(0xFFFFFF00, 0.01));
    EXPECT_DOUBLE_EQ(e.ventana(), 131072);
    // A probe's filler opens the window like real data, without raising the quality.
    ida(e, 0xFFFFFF01, 8192, 0.0, 0.01, true);
    EXPECT_DOUBLE_EQ(e.ventana(), 131072 + 8192);
    EXPECT_DOUBLE_EQ(e.calidad(), calidad);
    ASSERT_TRUE(e.acusar(0, 0.01));  // a copied chunk
    EXPECT_DOUBLE_EQ(e.calidad(), calidad);
    ida(e, 8, 100, 0.0, 0.01);
    EXPECT_DOUBLE_EQ(e.calidad(), calidad + 0.02);
}

TEST(Enlace, soloTresSegundosNoEsAtascoYCuatroConUnCentesimoSiSinCastigo) {
    Enlace e = admitido(100);
    e.poner(1, "0123456789", 100, false);  // sent into an empty flight at 100
    EXPECT_FALSE(e.revisarAtasco(103, false, sinTope).atascado);
    auto a = e.revisarAtasco(104.01, false, sinTope);
    EXPECT_TRUE(a.atascado);
    EXPECT_EQ(a.castigo, 0);
    EXPECT_EQ(e.fallas(), 0);
    EXPECT_EQ(e.castigoHasta(), 0);
    // With a healthy other link two seconds are enough.
    EXPECT_TRUE(e.revisarAtasco(102.01, true, sinTope).atascado);
}

TEST(Enlace, ociosoNoEstaAtascadoPeroPideLatido) {
    // The scheduler may leave a link without chunks for a long time: nothing is awaited, so its
    // silence proves nothing and must not earn it a penalty; it is due a keep-alive instead.
    Enlace e = admitido(100);
    EXPECT_FALSE(e.ocioso(100.9, 1));
    EXPECT_TRUE(e.ocioso(101, 1));
    auto a = e.revisarAtasco(160, true, sinTope);
    EXPECT_FALSE(a.atascado);
    EXPECT_EQ(e.fallas(), 0);
    // The keep-alive starts the silence clock; once answered, the idle time starts over.
    e.poner(0xFFFFFF00, std::string(8192, '\0'), 160, true, true);
    EXPECT_FALSE(e.ocioso(170, 1));
    EXPECT_TRUE(e.revisarAtasco(162.01, true, sinTope).atascado);
    Enlace f = admitido(100);
    f.poner(0xFFFFFF01, std::string(8192, '\0'), 101, true, true);
    ASSERT_TRUE(f.acusar(0xFFFFFF01, 101.1));
    EXPECT_EQ(f.confirmados(), 0);  // carried nothing of the stream
    EXPECT_FALSE(f.ocioso(102, 1));
    EXPECT_TRUE(f.ocioso(102.2, 1));
    // Not while the fallback image travels under its grace.
    f.darGracia(110);
    EXPECT_FALSE(f.ocioso(105, 1));
}

TEST(Enlace, graciaYEdadDeLoMasViejo) {
    Enlace e = admitido(100);
    e.darGracia(108);
    e.poner(1, "x", 100, false);
    EXPECT_FALSE(e.revisarAtasco(109, true, sinTope).atascado);  // silence counts from the grace's end
    Enlace f = admitido(100);
    f.poner(3, "x", 100, false);
    f.acusar(99, 105.0);  // acknowledgements keep coming, but an old chunk never does
    EXPECT_FALSE(f.revisarAtasco(105.0, false, sinTope).atascado);
    EXPECT_TRUE(f.revisarAtasco(105.1 + 0.01, false, sinTope).atascado);
}

TEST(Enlace, loQueLaConexionNoEscribeTieneTope) {
    Enlace e = admitido(100);
    e.entregado(3000);
    e.escrito(1000);
    EXPECT_EQ(e.sinMandar(), 2000);
    EXPECT_FALSE(e.revisarAtasco(100.1, false, 2000).atascado);
    // Unwritten chunks still in flight are the window's business, not this cap's.
    e.poner(1, std::string(5000, 'x'), 100.1, false);
    e.entregado(5008);
    EXPECT_FALSE(e.revisarAtasco(100.15, false, 2008).atascado);
    e.entregado(1);
    EXPECT_TRUE(e.revisarAtasco(100.2, false, 2008).atascado);
    e.soltar(100.2);
    EXPECT_EQ(e.sinMandar(), 0);  // the bytes went with the connection
}

TEST(Enlace, castigosDoblanHastaCuarentaYSeOlvidanANoventa) {
    Enlace e = admitido(0);
    double t = 100;
    for (double esperado : {4.0, 8.0, 16.0, 32.0, 40.0, 40.0}) {
        e.acusar(1, t);
        e.poner(1, "x", t, false);
        auto a = e.revisarAtasco(t + 2.5, true, sinTope);
        ASSERT_TRUE(a.atascado);
        EXPECT_EQ(a.castigo, esperado);
        EXPECT_DOUBLE_EQ(e.castigoHasta(), t + 2.5 + esperado);
        t += 100;
    }
    EXPECT_EQ(e.fallas(), 6);
    EXPECT_FALSE(e.recuperar(e.castigoHasta() + 90));
    EXPECT_TRUE(e.recuperar(e.castigoHasta() + 90.01));
    EXPECT_EQ(e.fallas(), 0);
    EXPECT_FALSE(e.recuperar(e.castigoHasta() + 200));  // once
}

TEST(Enlace, caerReiniciaSoloLoQueDebe) {
    Enlace e = admitido(0);
    e.poner(1000, std::string(100000, 'p'), 0, false);
    ida(e, 0, 16384, 0.0, 0.05);
    e.poner(1, "x", 0, false);
    e.copiado(1);
    ASSERT_TRUE(e.revisarAtasco(10, true, sinTope).atascado);
    ASSERT_GT(e.ventana(), 131072);
    e.soltar(50);
    EXPECT_FALSE(e.conectado());
    EXPECT_EQ(e.etapa(), Etapa::conectando);
    EXPECT_EQ(e.intentoEn(), 50);
    EXPECT_EQ(e.ventana(), 131072);
    EXPECT_EQ(e.demoraMin(), 0);
    EXPECT_DOUBLE_EQ(e.demora(), 0.05);
    EXPECT_DOUBLE_EQ(e.calidad(), 0.8);
    EXPECT_EQ(e.fallas(), 1);
}

TEST(Enlace, muestraDeCaudal) {
    Enlace e = admitido(0);
    ida(e, 0, 500000, 0, 0.1);
    e.muestra(2.0);
    EXPECT_EQ(e.kbps(), 2000);
    e.muestra(2.5);
    EXPECT_EQ(e.kbps(), 0);
}
