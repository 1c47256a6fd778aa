#include "comun/entorno.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Entorno, interruptoresPorNombreYTipo) {
    char a[] = "TM_SALIR=2.5", b[] = "TM_AUTO=", c[] = "TM_CORTE=3:4", d[] = "RARO";
    char* env[] = {a, b, c, d, nullptr};
    Entorno e = Entorno::deProceso(env);
    EXPECT_TRUE(e.tiene(Tm::autoPulsar));  // present with an empty value
    EXPECT_EQ(e.numero(Tm::autoPulsar), std::nullopt);
    EXPECT_EQ(e.numero(Tm::salir), 2.5);
    EXPECT_EQ(e.texto(Tm::corte), "3:4");
    EXPECT_EQ(e.numero(Tm::corte), std::nullopt);
    EXPECT_FALSE(e.tiene(Tm::datos));
}

TEST(Entorno, leerNumero) {
    EXPECT_EQ(leerNumero(" 12 "), 12.0);
    EXPECT_EQ(leerNumero("-1e3"), -1000.0);
    EXPECT_EQ(leerNumero("12s"), std::nullopt);
    EXPECT_EQ(leerNumero(""), std::nullopt);
    EXPECT_EQ(leerNumero("nan"), std::nullopt);
    EXPECT_EQ(leerNumero("inf"), std::nullopt);
}
