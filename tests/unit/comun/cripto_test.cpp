#include "comun/cripto.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Cripto, valoresConocidos) {
    // RFC 4231, test case 2.
    EXPECT_EQ(hmacHex("Jefe", "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(std::string("\x00\xff\x10", 3)), "00ff10");
}

TEST(Cripto, azarTieneLargoYNoSeRepite) {
    auto a = azarHex(6), b = azarHex(6);
    EXPECT_EQ(a.size(), 12u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(azarHex(0), "");
}
