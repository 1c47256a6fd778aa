#include "engine/progreso.h"

#include <gtest/gtest.h>

using namespace tt;

TEST(Progreso, leeClavesYSuavizaElRitmo) {
    Progreso p;
    p.datos("frame=10\nfps=59.9\ntotal_size=1000\nout_time_us=N/A\nprogress=continue\n", 10.0);
    EXPECT_DOUBLE_EQ(p.cps, 59.9);
    EXPECT_EQ(p.totalBytes, 1000);
    EXPECT_FALSE(p.avance);
    p.datos("out_time_us=1000000\n", 10.0);
    p.datos("out_time_us=2000000\n", 10.3);  // too soon after the last point: no speed yet
    EXPECT_EQ(p.ritmo, 0);
    EXPECT_EQ(p.avance->first, 2000000);
    p.datos("out_time_us=4000000\n", 12.3);
    EXPECT_DOUBLE_EQ(p.ritmo, 1.0);
    p.datos("out_time_us=8000000\n", 14.3);
    EXPECT_DOUBLE_EQ(p.ritmo, 0.6 * 1.0 + 0.4 * 2.0);
}

TEST(Progreso, lineasPartidasYValoresRaros) {
    Progreso p;
    p.datos("total_si", 1);
    p.datos("ze=  77 \nfps=abc\nsin igual\n", 1);
    EXPECT_EQ(p.totalBytes, 77);
    EXPECT_EQ(p.cps, 0);
    p.datos("total_size=N/A\n", 1);
    EXPECT_EQ(p.totalBytes, 77);  // kept when it does not parse
    p.datos(std::string(100000, 'x'), 1);  // a line that never ends is not kept forever
    p.datos("\nfps=30\n", 1);
    EXPECT_EQ(p.cps, 30);
}
