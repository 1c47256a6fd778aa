#include "comun/permiso.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Permiso, abreSoloLoQueSelloElMismoSecretoSinCambios) {
    Permiso p{"sid-1", "sala-a", "rtmp://ingesta/app/clave-secreta-del-canal", 90, 1.8e9, true};
    const std::string t = sellarPermiso("secreto", p);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"), std::string::npos);
    // The stream key is not readable in the token, and two grants never look alike.
    EXPECT_EQ(deBase64url(t)->find("clave-secreta"), std::string::npos);
    EXPECT_NE(sellarPermiso("secreto", p), t);
    auto a = abrirPermiso("secreto", t);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->sid, "sid-1");
    EXPECT_EQ(a->sala, "sala-a");
    EXPECT_EQ(a->destino, p.destino);
    EXPECT_EQ(a->segundos, 90);
    EXPECT_DOUBLE_EQ(a->vence, 1.8e9);
    EXPECT_TRUE(a->seco);

    EXPECT_FALSE(abrirPermiso("otro", t));
    EXPECT_FALSE(abrirPermiso("", t));
    EXPECT_FALSE(abrirPermiso("secreto", t.substr(0, t.size() - 1)));
    EXPECT_FALSE(abrirPermiso("secreto", "t"));
    EXPECT_FALSE(abrirPermiso("secreto", "no es base64!"));
    // Every single flipped bit of the sealed bytes is refused.
    const std::string crudo = *deBase64url(t);
    for (std::size_t i = 0; i < crudo.size(); ++i)
        for (int b = 0; b < 8; b += 7) {
            std::string x = crudo;
            x[i] = char(x[i] ^ (1 << b));
            EXPECT_FALSE(abrirPermiso("secreto", base64url(x))) << i;
        }
}

TEST(Permiso, base64urlIdaYVuelta) {
    for (std::string s : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
                          std::string("\xff\x00\xfe\x01", 4)})
        EXPECT_EQ(deBase64url(base64url(s)), s);
    EXPECT_EQ(base64url("\xfb\xff"), "-_8");
    EXPECT_FALSE(deBase64url("A"));
}
