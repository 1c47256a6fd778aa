#include "app/unica.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

using namespace tt;
using prueba::esperar;

// The first copy listens; a second one with the same data folder calls it forward and is told to
// end; another folder is another copy; once the first has gone, a start is the first again.
TEST(Unica, unaCopiaPorCarpetaDeDatos) {
    const std::string clave = "prueba-unica-" + std::to_string(::getpid());
    int llamadas = 0;
    {
        Unica primera(clave);
        primera.alLlamar = [&] { ++llamadas; };
        ASSERT_TRUE(primera.primera());
        Unica segunda(clave);
        EXPECT_FALSE(segunda.primera());
        EXPECT_TRUE(esperar([&] { return llamadas == 1; }, 5));
        Unica otra(clave + "-otra");
        EXPECT_TRUE(otra.primera());
    }
    Unica despues(clave);  // the first one went: this start is the first again
    EXPECT_TRUE(despues.primera());
    EXPECT_EQ(llamadas, 1);
}
