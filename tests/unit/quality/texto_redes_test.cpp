#include "quality/texto_redes.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(TextoRedes, sinTransmitirDesdeElVigia) {
    EXPECT_EQ(textoRedes({}, {}, {}, {}).texto, "Sin internet");
    EXPECT_EQ(textoRedes({}, {}, {}, {}).color, TextoRedes::rojo);

    auto r = textoRedes({}, {"Wi-Fi"}, {}, {"Wi-Fi"});
    EXPECT_EQ(r.texto, "Internet: 1 red · Wi-Fi midiendo…");
    EXPECT_EQ(r.color, TextoRedes::gris);

    // Some without a figure: no sum and no warning yet.
    r = textoRedes({}, {"Ethernet", "Wi-Fi"}, {{"Ethernet", 1.0}}, {});
    EXPECT_EQ(r.texto, "Internet: 2 redes · Ethernet sube 1.0 Mbps  +  Wi-Fi");
    EXPECT_EQ(r.color, TextoRedes::gris);

    r = textoRedes({}, {"Ethernet", "Wi-Fi"}, {{"Ethernet", 1.0}, {"Wi-Fi", 1.2}}, {});
    EXPECT_EQ(r.texto, "Internet: 2 redes · Ethernet sube 1.0 Mbps  +  Wi-Fi sube 1.2 Mbps  =  2.2 Mbps  ·  no alcanza "
                       "para transmitir bien");
    EXPECT_EQ(r.color, TextoRedes::naranja);

    r = textoRedes({}, {"Wi-Fi"}, {{"Wi-Fi", 12.34}}, {});
    EXPECT_EQ(r.texto, "Internet: 1 red · Wi-Fi sube 12.3 Mbps");  // one network: no sum
    EXPECT_EQ(r.color, TextoRedes::gris);
}

TEST(TextoRedes, alAireLosEnlaces) {
    Resumen s;
    s.partes = {{"Wi-Fi", "unida"}, {"Celular", "conectando"}};
    s.unidas = 1;
    auto r = textoRedes(s, {"Wi-Fi", "Celular"}, {{"Wi-Fi", 8.4}}, {});
    EXPECT_EQ(r.texto, "Wi-Fi: unida (aguanta 8 Mbps)\nCelular: conectando\nSale por 1 red");
    EXPECT_EQ(r.color, TextoRedes::gris);
    s.unidas = 2;
    EXPECT_NE(textoRedes(s, {}, {}, {}).texto.find("Sale por 2 redes sumadas"), std::string::npos);
    s.unidas = 0;
    r = textoRedes(s, {}, {}, {});
    EXPECT_NE(r.texto.find("Sin conexión con el servidor"), std::string::npos);
    EXPECT_EQ(r.color, TextoRedes::rojo);
}
