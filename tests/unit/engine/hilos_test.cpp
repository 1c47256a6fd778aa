#include "engine/hilos.h"

#include "comun/cola.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tt;

// A stop waits for its own transmission's threads only, and the owner's end joins whatever runs.
TEST(Hilos, cadaGrupoSeEsperaAparteYNadaQuedaSuelto) {
    Cola recogida("prueba.recogida");
    std::atomic<bool> soltar{false};
    std::atomic<int> hechos{0};
    {
        Hilos hilos(&recogida);
        ASSERT_TRUE(hilos.lanzar(1, [&] { ++hechos; }));
        ASSERT_TRUE(hilos.lanzar(2, [&] {
            while (!soltar) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++hechos;
        }));
        EXPECT_TRUE(hilos.esperar(10, 1));
        EXPECT_EQ(hilos.enCurso(1), 0);
        EXPECT_EQ(hilos.enCurso(2), 1);
        EXPECT_FALSE(hilos.esperar(0.05, 2));
        ASSERT_TRUE(hilos.lanzar(2, [&] {
            while (!soltar) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++hechos;
        }));
        soltar = true;
    }  // joins the two still running
    EXPECT_EQ(hechos, 3);
}
