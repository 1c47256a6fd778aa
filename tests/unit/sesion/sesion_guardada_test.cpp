// The open-transmission record and the decisions taken on it.
#include "sesion/pendiente.h"
#include "sesion/sesion_guardada.h"
#include "cuenta/textos.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

namespace tt {
namespace {

SesionGuardada ejemplo() {
    return SesionGuardada::de(Pase{"relay:7935", "s1", "llave", "pase", 3600}, "Mi canal", 1.7e9, "sala1");
}

std::vector<std::string> claves(const Json& j) {
    std::vector<std::string> r;
    for (auto& [k, v] : j.items()) r.push_back(k);
    return r;
}

TEST(SesionGuardada, ordenDeClavesMiembrosOpcionalesYArchivosDanados) {
    auto s = ejemplo();
    EXPECT_EQ(claves(aJson(s)), (std::vector<std::string>{"entrada", "sid", "llave", "pase", "segundos", "canal", "inicio", "sala"}));
    s.sala.reset();
    EXPECT_EQ(claves(aJson(s)).size(), 7u);
    s.detenida = true;
    EXPECT_EQ(claves(aJson(s)).back(), "detenida");
    auto vuelta = sesionDe(aJson(s));
    ASSERT_TRUE(vuelta);
    EXPECT_TRUE(vuelta->estaDetenida());
    EXPECT_FALSE(vuelta->sala);
    EXPECT_EQ(vuelta->comoPase().llave, "llave");

    for (const char* malo : {R"({"entrada":"a","sid":"s","llave":"l","pase":"p","canal":"c","inicio":1})",
                             R"({"entrada":"a","sid":"s","llave":"l","pase":"p","segundos":"9","canal":"c","inicio":1})",
                             R"({"entrada":"a","sid":"s","llave":"l","pase":"p","segundos":9,"canal":"c","inicio":1,"detenida":"si"})",
                             R"({"entrada":"a","sid":"s","llave":"l","pase":"p","segundos":1e12,"canal":"c","inicio":1})",
                             R"({"entrada":"a","sid":"","llave":"l","pase":"p","segundos":9,"canal":"c","inicio":1})",
                             R"(["s1"])"})
        EXPECT_FALSE(sesionDe(Json::parse(malo))) << malo;
}

TEST(SesionGuardada, respuestasDelRelay) {
    auto v = leerVeredicto("VIVA 3725");
    EXPECT_EQ(v.tipo, Veredicto::abierta);
    EXPECT_EQ(enHoras(v.segundos), "1 h 2 min");
    EXPECT_EQ(leerVeredicto("VIVA").segundos, 0);
    EXPECT_EQ(enHoras(leerVeredicto("VIVA").segundos), "0 min");
    EXPECT_EQ(leerVeredicto("VIVA ya 12 7").segundos, 12);
    EXPECT_EQ(leerVeredicto("VIVA -5 99999999999999999999 8").segundos, 8);  // no sign, no overflow
    EXPECT_EQ(leerVeredicto("CERRADA").tipo, Veredicto::cerrada);
    // A refusal or garbage closed nothing: the record is kept and asked about again.
    for (const char* otra : {"CLAVE", "ERROR", "", "cerrada", "CERRADA\r"})
        EXPECT_EQ(leerVeredicto(std::string(otra)).tipo, Veredicto::sinRespuesta) << otra;
    EXPECT_EQ(leerVeredicto(std::nullopt).tipo, Veredicto::sinRespuesta);
    EXPECT_TRUE(confirmaCierre("CERRADA"));
    EXPECT_FALSE(confirmaCierre("CLAVE"));
    EXPECT_FALSE(confirmaCierre(std::nullopt));
}

TEST(SesionGuardada, seguirTerminarOBorrar) {
    auto s = ejemplo();
    EXPECT_EQ(revisar(std::nullopt, "sala1", 1), Revision::nada);
    EXPECT_EQ(revisar(s, "sala1", 330), Revision::preguntar);
    EXPECT_EQ(revisar(s, "sala1", 331), Revision::borrar);
    EXPECT_EQ(revisar(s, "sala1", silencio(std::nullopt, 1.7e9)), Revision::borrar);
    EXPECT_EQ(revisar(s, "otra", 5), Revision::cerrar);  // another account's: closed without asking
    s.detenida = true;
    EXPECT_EQ(revisar(s, "sala1", 5), Revision::cerrar);
    // Stopped long ago: the relay closed it on its own, nothing left to tell it.
    EXPECT_EQ(revisar(s, "sala1", 400), Revision::borrar);
    s.detenida.reset();
    s.sala.reset();
    EXPECT_EQ(revisar(s, "sala1", 5), Revision::preguntar);

    EXPECT_TRUE(revisarAntesDeEmpezar(ejemplo(), 330));
    EXPECT_FALSE(revisarAntesDeEmpezar(ejemplo(), 331));
    EXPECT_FALSE(revisarAntesDeEmpezar(std::nullopt, 1));
    s.detenida = true;
    EXPECT_FALSE(revisarAntesDeEmpezar(s, 1));
}

TEST(SesionGuardada, archivoPrivadoPrimerInicioYBorradoPorSid) {
    prueba::CarpetaTemporal d;
    const auto ruta = d / "sesion.json";
    EXPECT_TRUE(std::isinf(pendiente::silencioDe(ruta)));
    pendiente::guardar(ejemplo(), ruta);
    struct stat st {};
    ASSERT_EQ(stat(ruta.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_LT(pendiente::silencioDe(ruta), 5);
    auto otra = ejemplo();
    otra.inicio = 1.8e9;
    pendiente::guardar(otra, ruta);  // same sid: the first start stays
    EXPECT_EQ(pendiente::leer(ruta)->inicio, 1.7e9);
    EXPECT_FALSE(pendiente::marcarDetenida("otro", ruta));
    EXPECT_TRUE(pendiente::marcarDetenida("s1", ruta));
    EXPECT_TRUE(pendiente::leer(ruta)->estaDetenida());
    ASSERT_EQ(stat(ruta.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    pendiente::borrar("otro", ruta);
    EXPECT_TRUE(pendiente::leer(ruta));
    pendiente::borrar("s1", ruta);
    EXPECT_FALSE(std::filesystem::exists(ruta));
}

}  // namespace
}  // namespace tt
