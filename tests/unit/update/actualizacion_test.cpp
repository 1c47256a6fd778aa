#include "update/actualizacion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace tt;

TEST(Actualizacion, mayorComparaPiezaAPiezaComoNumeros) {
    EXPECT_TRUE(mayor("1.10", "1.9"));
    EXPECT_FALSE(mayor("1.9", "1.10"));
    // Equal builds are not newer, whichever way they are written.
    for (auto [a, b] : {std::pair{"1.2", "1.2.0"}, {"1.2.0", "1.2"}, {"1.2.x", "1.2.0"}, {"1..2", "1.2"}, {"", "0"}}) {
        EXPECT_FALSE(mayor(a, b)) << a << " " << b;
        EXPECT_FALSE(mayor(b, a)) << a << " " << b;
    }
    EXPECT_TRUE(mayor("1.2.1", "1.2"));
    EXPECT_TRUE(mayor("99999999999999999999999", "2"));  // saturates instead of wrapping to something small
}

namespace {
// What /bin/sh prints for the script's text followed by a printf of the named variables.
std::string enShell(const std::string& guion) {
    FILE* p = popen(("sh -c " + citar(guion)).c_str(), "r");
    if (!p) return {};
    std::string r;
    char b[512];
    std::size_t n;
    while ((n = fread(b, 1, sizeof b, p)) > 0) r.append(b, n);
    pclose(p);
    return r;
}
}  // namespace

TEST(Actualizacion, elGuionCitaRutasConComillaYBlanco) {
    const std::string raro = "/tmp/it's a \"test\" $HOME `x`/Tremolante Transmitir";
    EXPECT_EQ(enShell("printf '%s' " + citar(raro)), raro);
    const std::string guion = guionCambio(4242, raro, raro + ".nueva", "/tmp/tm-actualiza-4242 '");
    std::istringstream lineas(guion);
    std::string l1, l2;
    std::getline(lineas, l1);
    std::getline(lineas, l2);
    EXPECT_EQ(l1, "while kill -0 4242 2>/dev/null; do sleep 0.2; done");
    EXPECT_EQ(enShell(l2 + "\nprintf '%s|%s|%s' \"$D\" \"$N\" \"$V\""),
              raro + "|" + raro + ".nueva|" + raro + ".anterior");
    EXPECT_NE(guion.find("rm -rf '/tmp/tm-actualiza-4242 '\\'''"), std::string::npos);
}

// A copy that cannot replace itself says so in the offer itself, with where to get the new
// version, instead of promising an install that will be refused.
TEST(Actualizacion, laOfertaDiceDeAntemanoSiNoSePuedeInstalarSola) {
    const std::string sola = textoOferta(std::string("Arreglos."), true);
    const std::string manual = textoOferta(std::string("Arreglos."), false);
    EXPECT_EQ(sola.rfind("Arreglos.\n\n", 0), 0u);
    EXPECT_EQ(manual.rfind("Arreglos.\n\n", 0), 0u);
    EXPECT_NE(sola.find("unos segundos"), std::string::npos);
    EXPECT_EQ(manual.find("unos segundos"), std::string::npos);
    EXPECT_NE(manual.find(kPaginaDescarga), std::string::npos);
}
