#include "engine/reloj_muestras.h"

#include <gtest/gtest.h>

#include <random>

using namespace tt;

// Buffers of 10 ms handed over late by 0 to 40 ms: their times follow one another within a few
// milliseconds (well inside the engine's 10 ms tolerance), and none is later than it can be.
TEST(RelojMuestras, llegadasDesparejasDanTiemposSeguidos) {
    RelojMuestras r;
    std::mt19937 azar(7);
    std::uniform_real_distribution<double> tarde(0, 0.04);
    const double primera = r.hora(100.01, 480, 48000);
    EXPECT_DOUBLE_EQ(primera, 100.0);
    for (int i = 1; i < 3000; ++i) {
        const double llegada = 100.01 + i * 0.01 + tarde(azar);
        const double t = r.hora(llegada, 480, 48000);
        ASSERT_NEAR(t, 100.0 + i * 0.01, 3e-3) << i;
        ASSERT_LE(t, llegada - 0.01 + 1e-9) << i;
    }
}

// Samples lost (the device stopped for half a second): the count starts again from the arrival.
// A device clock 0.05 % slower than the system's: the times keep up with the arrivals.
TEST(RelojMuestras, huecosYDeriva) {
    RelojMuestras r;
    r.hora(10.01, 480, 48000);
    r.hora(10.02, 480, 48000);
    EXPECT_NEAR(r.hora(10.53, 480, 48000), 10.52, 1e-9);
    EXPECT_NEAR(r.hora(10.54, 480, 48000), 10.53, 1e-9);

    RelojMuestras lento;
    double t = 0;
    for (int i = 0; i < 60000; ++i) t = lento.hora((i + 1) * 0.01 * 1.0005, 480, 48000);  // ten minutes
    EXPECT_NEAR(t, 60000 * 0.01 * 1.0005 - 0.01, 0.01);
}
