#include "uplink/medicion.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Medicion, cabeceraExacta) {
    EXPECT_EQ(Medicion::cabecera("speed.example.net"),
              "POST /__up HTTP/1.1\r\nHost: speed.example.net\r\nContent-Type: application/octet-stream\r\n"
              "Content-Length: 2000000\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(Medicion::etiquetaCola("Wi-Fi 2"), "tm.medir.Wi-Fi 2");
}

TEST(Medicion, cuerpoEnPiezasHastaDosMillonesJustos) {
    Medicion m;
    EXPECT_EQ(m.siguientePieza(), 0u);  // nothing before the connection is ready
    m.listo(10);
    std::size_t piezas = 0, ultima = 0;
    while (std::size_t n = m.siguientePieza()) {
        ASSERT_LE(n, Medicion::pieza);
        m.enviado(n);
        ultima = n;
        ++piezas;
    }
    EXPECT_EQ(m.bytes(), 2000000u);
    EXPECT_EQ(piezas, 62u);  // 61 × 32768 + 1152
    EXPECT_EQ(ultima, 2000000u - 61 * 32768u);
}

TEST(Medicion, topeDeTiempoDaLaVelocidadDeLoEnviado) {
    Medicion m;
    m.listo(100.0);
    for (int i = 0; i < 1000; ++i) m.enviado(1000);
    auto r = m.terminar(108.0, "tope de tiempo");
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(r->mbps, 1.0);
    EXPECT_EQ(r->bytes, 1000000u);
    EXPECT_EQ(Medicion::lineaDepuracion("Ethernet", *r),
              "medición Ethernet: 1000000 bytes en 8.00 s = 1.0 Mbps (tope de tiempo)");
    // Finishing happens once: the reply arriving afterwards changes nothing.
    EXPECT_FALSE(m.terminar(108.5, "respuesta"));
    EXPECT_EQ(m.siguientePieza(), 0u);
}

TEST(Medicion, loQueElOtroLadoNoConfirmoNoCuenta) {
    Medicion m;
    m.listo(0);
    for (int i = 0; i < 40; ++i) m.enviado(Medicion::pieza);  // 1 310 720 bytes handed to the system
    auto r = m.terminar(8.0, "tope de tiempo", 310720);
    EXPECT_EQ(r->bytes, 1000000u);
    EXPECT_DOUBLE_EQ(r->mbps, 1.0);
    Medicion n;
    n.listo(0);
    n.enviado(1000);
    EXPECT_EQ(n.terminar(1.0, "envío: Broken pipe", 5000)->mbps, 0);  // never below nothing
}

TEST(Medicion, sinCifraCuandoNoHayDatosSuficientes) {
    {  // failed within 0.15 s of becoming ready, with bytes sent
        Medicion m;
        m.listo(0.0);
        m.enviado(32768);
        auto r = m.terminar(0.15, "envío: Broken pipe");
        EXPECT_EQ(r->mbps, 0);
    }
    {  // long enough but nothing sent
        Medicion m;
        m.listo(5.0);
        EXPECT_EQ(m.terminar(7.0, "envío: Broken pipe")->mbps, 0);
    }
    {  // never ready: refused, or the timer fired during the handshake
        Medicion m;
        auto r = m.terminar(8.0, "estado: Connection refused");
        EXPECT_EQ(r->mbps, 0);
        EXPECT_EQ(r->transcurrido, 0);
    }
    {  // just past the threshold
        Medicion m;
        m.listo(5.0);
        m.enviado(250000);
        EXPECT_NEAR(m.terminar(5.5, "respuesta")->mbps, 4.0, 1e-9);
    }
}

TEST(Camino, ordenDelCaminoSinRepetidosNiVirtuales) {
    auto c = armarCamino({"lo", "eth1", "veth0", "wlan0", "eth0", "docker0"},
                         {{"eth0", "Ethernet"}, {"eth1", "Ethernet 2"}, {"wlan0", "Wi-Fi"}, {"veth0", ""}});
    EXPECT_EQ(c.nombres, (std::vector<std::string>{"Ethernet 2", "Wi-Fi", "Ethernet"}));
    EXPECT_EQ(c.interfaces.at("Ethernet 2"), "eth1");
    EXPECT_EQ(c.interfaces.at("Ethernet"), "eth0");
    EXPECT_EQ(c.interfaces.size(), 3u);
    // The same display name twice (two sources naming alike): the first in path order wins.
    auto d = armarCamino({"b", "a"}, {{"a", "USB"}, {"b", "USB"}});
    EXPECT_EQ(d.nombres, std::vector<std::string>{"USB"});
    EXPECT_EQ(d.interfaces.at("USB"), "b");
    EXPECT_TRUE(armarCamino({"eth0"}, {}).nombres.empty());  // unsatisfied path
}
