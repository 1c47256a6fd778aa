#include "ui/tarjeta.h"

#include <gtest/gtest.h>

using namespace tt;

// The pointer is told what the badges do; the no-internet badge speaks only while it shows, to
// the pointer and to a screen reader alike.
TEST(Tarjeta, lasInsigniasDicenLoQueHacen) {
    Tarjeta t(std::string("pausa"), "Pausa");
    EXPECT_EQ(t.ayudaEn(t.lapiz().center()), QString::fromUtf8("Editar esta pantalla"));
    const QPointF abajo(Tarjeta::ancho - 16, Tarjeta::altoFoto - 16);
    EXPECT_TRUE(t.ayudaEn(abajo).isEmpty());
    t.ponerEstado(0, true);
    EXPECT_EQ(t.ayudaEn(abajo), QString::fromUtf8("Esta pantalla se queda en Kick si se cae el internet"));
    EXPECT_EQ(t.accessibleDescription(), t.ayudaEn(abajo));
    EXPECT_TRUE(t.ayudaEn(QPointF(20, 40)).isEmpty());
    t.ponerEstado(0, false);
    EXPECT_TRUE(t.accessibleDescription().isEmpty());

    Tarjeta nueva(std::nullopt, "Nueva pantalla");
    EXPECT_EQ(nueva.ayudaEn(QPointF(20, 40)), "Nueva pantalla");
}
