#include "comun/flv.h"

#include <gtest/gtest.h>

using namespace tt;

namespace {
// A tag of that type with that body and time stamp, its trailing size included.
std::string etiqueta(std::uint8_t tipo, const std::string& cuerpo, std::uint32_t ms) {
    std::string t;
    auto u24 = [&](std::uint32_t v) {
        t.push_back(char(v >> 16));
        t.push_back(char(v >> 8));
        t.push_back(char(v));
    };
    t.push_back(char(tipo));
    u24(std::uint32_t(cuerpo.size()));
    u24(ms & 0xFFFFFF);
    t.push_back(char(ms >> 24));
    u24(0);
    t += cuerpo;
    const std::uint32_t atras = std::uint32_t(11 + cuerpo.size());
    t.push_back(char(atras >> 24));
    u24(atras & 0xFFFFFF);
    return t;
}
}  // namespace

// What the encoder writes is read whole, a time stamp past 4.6 hours included; the codec
// configurations are told from frames.
TEST(Flv, leeLoQueEscribeElCompresor) {
    EXPECT_TRUE(flv::cabeceraValida(std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13)));
    EXPECT_FALSE(flv::cabeceraValida(std::string("FLV\x01\x05\0\0\0\x0a\0\0\0\0", 13)));

    const std::string avc = etiqueta(9, std::string("\x17\x00\x00\x00\x00\x01", 6), 0x01ABCDEF);
    auto e = flv::leer(avc);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->tipo, 9);
    EXPECT_EQ(e->datos, 6u);
    EXPECT_EQ(e->ms, 0x01ABCDEFu);
    EXPECT_EQ(e->total(), avc.size());
    EXPECT_TRUE(flv::cierraBien(avc, *e));
    EXPECT_TRUE(flv::esConfiguracion(avc, *e));

    const std::string cuadro = etiqueta(9, std::string("\x27\x01\x00\x00\x00\x09", 6), 40);
    EXPECT_FALSE(flv::esConfiguracion(cuadro, *flv::leer(cuadro)));
    const std::string aac = etiqueta(8, std::string("\xaf\x00\x12\x10", 4), 0);
    EXPECT_TRUE(flv::esConfiguracion(aac, *flv::leer(aac)));
    std::string roto = aac;
    roto.back() ^= 1;
    EXPECT_FALSE(flv::cierraBien(roto, *flv::leer(roto)));
}

// Anything else is refused on its 11-byte header, with the reason: another type, reserved or
// filter bits, another stream.
TEST(Flv, rechazaLoQueNoEsUnaEtiqueta) {
    for (std::uint8_t tipo : {15, 0x28, 0x49, 0, 255}) {
        std::string porque;
        EXPECT_FALSE(flv::leer(etiqueta(tipo, "x", 0), &porque)) << int(tipo);
        EXPECT_NE(porque.find("tipo desconocido"), std::string::npos);
    }
    std::string otroFlujo = etiqueta(8, "x", 0);
    otroFlujo[10] = 1;
    std::string porque;
    EXPECT_FALSE(flv::leer(otroFlujo, &porque));
    EXPECT_NE(porque.find("flujo"), std::string::npos);
    EXPECT_FALSE(flv::leer(std::string(10, '\0')));  // not a whole header yet
}
