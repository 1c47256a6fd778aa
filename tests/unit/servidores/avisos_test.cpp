#include "control/avisos.h"
#include "control/base_postgres.h"

#include <gtest/gtest.h>

using namespace tt::control;

// A sign-out of an account with many devices fits NOTIFY's payload in several notices, and every
// token arrives; the balance and the rest travel once.
TEST(Avisos, muchasFichasEnVariosTextosYNadaDosVeces) {
    Aviso a;
    a.sala = "0123456789abcdef";
    a.saldo = 3575;
    a.vinculados = 0;
    a.destino = {{"sid-1", true}};
    for (int i = 0; i < 150; ++i) a.revocadas.push_back(std::string(63, 'a') + char('0' + i % 10) + std::to_string(i));
    const auto textos = textosDeAviso(a);
    ASSERT_GT(textos.size(), 1u);
    std::vector<std::string> llegadas;
    int saldos = 0, destinos = 0;
    for (auto& t : textos) {
        EXPECT_LT(t.size(), 8000u);
        auto b = avisoDeTexto(t);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->sala, a.sala);
        saldos += b->saldo.has_value();
        destinos += b->destino.has_value();
        EXPECT_EQ(b->saldo.value_or(3575), 3575);
        EXPECT_EQ(b->destino.value_or(*a.destino), *a.destino);
        llegadas.insert(llegadas.end(), b->revocadas.begin(), b->revocadas.end());
    }
    EXPECT_EQ(saldos, 1);
    EXPECT_EQ(destinos, 1);
    EXPECT_EQ(llegadas, a.revocadas);

    const auto solo = textosDeAviso(Aviso{"s", std::nullopt, 2, {}, std::nullopt});
    ASSERT_EQ(solo.size(), 1u);
    EXPECT_EQ(avisoDeTexto(solo[0])->vinculados, 2);
    EXPECT_FALSE(avisoDeTexto("{\"saldo\":1}"));
    EXPECT_FALSE(avisoDeTexto("no es json"));
}

TEST(Avisos, losValoresSeNumeranFueraDelTextoCitado) {
    EXPECT_EQ(conNumeros("SELECT '?', ? FROM t WHERE a = ? AND b = \"c?\" AND d = 'it''s ?' AND e = ?"),
              "SELECT '?', $1 FROM t WHERE a = $2 AND b = \"c?\" AND d = 'it''s ?' AND e = $3");
}
