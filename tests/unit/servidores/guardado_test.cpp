#include "relay/guardado.h"

#include <gtest/gtest.h>

using namespace tt::relay;

// A restart finds what it needs, and nothing past its time or malformed.
TEST(Guardado, vueltaDelTexto) {
    std::map<std::string, Registro> r{{"sid-a", {12.5, "", 2000}}, {"sid-b", {3, "RELEVADA", 3000}},
                                      {"sid-viejo", {1, "CERRADA", 500}}};
    auto v = Guardado::deTexto(Guardado::aTexto(r) + "roto\nsid-c x - 9999\n", 1000);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_DOUBLE_EQ(v["sid-a"].entregado, 12.5);
    EXPECT_EQ(v["sid-a"].razon, "");
    EXPECT_EQ(v["sid-b"].razon, "RELEVADA");
}
