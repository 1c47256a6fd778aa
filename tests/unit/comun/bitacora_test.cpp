#include "comun/bitacora.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

using namespace tt;

TEST(Bitacora, dosHilosNoMezclanLineas) {
    auto ruta = carpetaLog() / "app.log";
    std::filesystem::remove(ruta);
    bitacora("primera");
    EXPECT_TRUE(std::regex_match(prueba::leer(ruta), std::regex(R"(\d\d:\d\d:\d\d primera\n)")));

    auto escribir = [](char letra) {
        std::string texto = std::string(40, letra);
        for (int i = 0; i < 10000; ++i) bitacora(texto);
    };
    std::thread a(escribir, 'a'), b(escribir, 'b');
    a.join();
    b.join();
    std::istringstream lineas(prueba::leer(ruta));
    std::string linea;
    int n = 0, nA = 0, nB = 0;
    const std::regex forma(R"(\d\d:\d\d:\d\d (a{40}|b{40}))");
    std::getline(lineas, linea);  // "primera"
    while (std::getline(lineas, linea)) {
        ++n;
        ASSERT_TRUE(std::regex_match(linea, forma)) << linea;
        (linea.back() == 'a' ? nA : nB)++;
    }
    EXPECT_EQ(n, 20000);
    EXPECT_EQ(nA, 10000);
    EXPECT_EQ(nB, 10000);
}
