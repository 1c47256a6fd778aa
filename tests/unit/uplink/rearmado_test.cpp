#include "uplink/rearmado.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Rearmado, ordenaAceptaUnaVezYTerminaConElTrozoVacio) {
    Rearmado r;
    EXPECT_EQ(r.recibir(1, "b").listo, "");
    EXPECT_FALSE(r.recibir(1, "b").nuevo);  // the same chunk from another link
    auto fin = r.recibir(3, "");
    EXPECT_TRUE(fin.nuevo);
    EXPECT_FALSE(fin.fin);  // 0 and 2 still missing
    EXPECT_EQ(r.recibir(0, "a").listo, "ab");
    EXPECT_FALSE(r.recibir(0, "a").nuevo);
    auto ultimo = r.recibir(2, "c");
    EXPECT_EQ(ultimo.listo, "c");
    EXPECT_TRUE(ultimo.fin);
    EXPECT_TRUE(r.terminado());
    EXPECT_FALSE(r.recibir(4, "d").nuevo);
    EXPECT_EQ(r.enEspera(), 0u);
}

TEST(Rearmado, rellenoYRespaldoNoSonDatos) {
    Rearmado r;
    EXPECT_FALSE(r.recibir(0xFFFFFF00, std::string(8192, '\0')).nuevo);
    EXPECT_FALSE(r.recibir(0xFFFFFFFF, "jpeg").nuevo);
    EXPECT_EQ(r.siguiente(), 0u);
}

TEST(Rearmado, loQueEsperaTieneTope) {
    Rearmado r(100);
    EXPECT_TRUE(r.recibir(5, std::string(8, 'x')).nuevo);
    EXPECT_TRUE(r.recibir(6, std::string(3, 'x')).desbordado);
    EXPECT_EQ(r.recibir(0, "a").listo, "a");
    // A chunk past an already known end is dropped with what waited beyond it.
    r.recibir(3, "");
    EXPECT_EQ(r.enEspera(), 0u);
    EXPECT_FALSE(r.recibir(7, "z").nuevo);
}

TEST(Rearmado, elTopeCuentaLoQueCuestaCadaTrozo) {
    // One-byte chunks past a gap cost far more than their byte: a 64 KiB cap holds few of them.
    Rearmado r(64 << 10);
    std::uint32_t seq = 1;
    while (seq < 100000 && !r.recibir(seq, "x").desbordado) ++seq;
    EXPECT_LT(seq, 1200u);
    EXPECT_LE(r.enEspera(), 64u << 10);
    // Big chunks are counted by their real allocation too.
    Rearmado g(1 << 20);
    std::string grande(200000, 'x');
    grande.reserve(400000);
    EXPECT_FALSE(g.recibir(1, std::move(grande)).desbordado);
    EXPECT_GE(g.enEspera(), 200000u);
    EXPECT_LT(g.enEspera(), 210000u);  // the spare capacity was given back
}
