// The account's texts and the phones' messages, decided without a socket.
#include "cuenta/mensajes.h"
#include "cuenta/textos.h"

#include <gtest/gtest.h>

namespace tt {
namespace {

std::vector<std::string> claves(const Json& j) {
    std::vector<std::string> r;
    for (auto& [k, v] : j.items()) r.push_back(k);
    return r;
}

TEST(Textos, horasMinutosYBordes) {
    EXPECT_EQ(enHoras(3599), "59 min");
    EXPECT_EQ(enHoras(3600), "1 h 0 min");
    EXPECT_EQ(enHoras(3720 + 59), "1 h 2 min");
    EXPECT_EQ(enHoras(59), "0 min");
    EXPECT_EQ(enHoras(-5), "0 min");
}

TEST(Textos, saldoColoresYAvisoDeCincoMinutos) {
    using C = TextoSaldo::Color;
    EXPECT_TRUE(textoSaldo(std::nullopt, false, false).texto.empty());
    auto cero = textoSaldo(0, false, false);
    EXPECT_EQ(cero.texto, "Sin horas de transmisión");
    EXPECT_EQ(cero.color, C::rojo);
    EXPECT_EQ(textoSaldo(-5, true, false).color, C::rojo);
    EXPECT_FALSE(textoSaldo(-5, true, false).avisarCinco);
    auto diez = textoSaldo(600, false, false);
    EXPECT_EQ(diez.texto, "Te quedan 10 min de transmisión");
    EXPECT_EQ(diez.color, C::secundario);
    EXPECT_EQ(textoSaldo(599, false, false).color, C::naranja);
    // The five-minute warning: only live under a permission, once.
    EXPECT_FALSE(textoSaldo(299, false, false).avisarCinco);
    EXPECT_TRUE(textoSaldo(299, true, false).avisarCinco);
    EXPECT_FALSE(textoSaldo(299, true, true).avisarCinco);
    EXPECT_FALSE(textoSaldo(300, true, false).avisarCinco);
    // Live under a permission the count runs from the start, in whole seconds.
    EXPECT_EQ(saldoRestante(true, 600, 10.9, 5000), 590);
    EXPECT_EQ(saldoRestante(false, 600, 10.9, 5000), 5000);
    EXPECT_EQ(saldoRestante(false, 600, 10.9, std::nullopt), std::nullopt);
}

TEST(Textos, bloqueDelCelular) {
    EXPECT_EQ(textoCelular(std::nullopt, true, 3, 1).boton, "Iniciar sesión…");
    EXPECT_EQ(textoCelular("a@b.c", false, 2, 0).texto, "a@b.c\nSin conexión con el servicio de control.");
    EXPECT_EQ(textoCelular("a@b.c", true, 0, 0).texto, "a@b.c\nNingún celular con sesión todavía.");
    EXPECT_EQ(textoCelular("a@b.c", true, 1, 1).texto, "a@b.c\n1 celular con sesión · 1 conectado");
    EXPECT_EQ(textoCelular("a@b.c", true, 3, 2).texto, "a@b.c\n3 celulares con sesión · 2 conectados");
    EXPECT_EQ(textoCelular("a@b.c", true, 2, 0).texto, "a@b.c\n2 celulares con sesión · ninguno conectado");
    EXPECT_EQ(textoCelular("a@b.c", true, 2, 0).boton, "Abrir app móvil");
}

// The phone sheet's count line, its QR link (always https; the address kept readable where a
// fragment allows it) and the test code read back from the log.
TEST(Textos, hojaDelCelularYCodigoDePrueba) {
    EXPECT_EQ(textoCuentaCelulares(0, 2), "Todavía no hay celulares con sesión.");
    EXPECT_EQ(textoCuentaCelulares(3, 0), "3 celulares con sesión · ninguno conectado ahora");
    EXPECT_EQ(textoCuentaCelulares(1, 1), "1 celular con sesión · 1 conectado ahora");
    EXPECT_EQ(enlaceCelular("127.0.0.1:8080", "ana.tv+1@ejemplo.com"), "https://127.0.0.1:8080/#c=ana.tv+1@ejemplo.com");
    EXPECT_EQ(enlaceCelular("control.tremolante.app", "josé ana#1@x.mx"),
              "https://control.tremolante.app/#c=jos%C3%A9%20ana%231@x.mx");
}

TEST(Mensajes, respuestasDelServicio) {
    auto bien = leerRespuesta(200, R"({"segundos":5})");
    ASSERT_TRUE(bien.objeto);
    EXPECT_FALSE(bien.error);
    EXPECT_EQ(leerRespuesta(500, R"({"error":"Se cayó."})").error, "Se cayó.");
    EXPECT_EQ(leerRespuesta(500, "<html>oops</html>").error, kSinConexion);
    EXPECT_EQ(leerRespuesta(500, R"({"error":5})").error, kSinConexion);
    EXPECT_EQ(leerRespuesta(200, "[1,2]").error, kSinConexion);  // not an object
    EXPECT_EQ(leerRespuesta(0, "").error, kSinConexion);
    EXPECT_FALSE(leerRespuesta(200, "[1,2]").objeto);
    EXPECT_TRUE(sitioLocal("127.0.0.1:80"));
    EXPECT_TRUE(sitioLocal("localhost:9"));
    EXPECT_FALSE(sitioLocal("control.example"));
    EXPECT_EQ(estadoDelRechazo("QWebSocketPrivate::processHandshake: Unhandled http status code: 403 (Forbidden)."), 403);
    EXPECT_EQ(estadoDelRechazo("Connection refused"), 0);
}

TEST(Mensajes, loQueMandaElServicioYLoQueSeSalta) {
    auto c = leerMensaje(R"({"t":"celulares","conectados":2})");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->conectados, 2);
    EXPECT_EQ(c->vinculados, 0);  // missing counts as none
    EXPECT_EQ(leerMensaje(R"({"t":"celulares","conectados":"2","vinculados":-4})")->conectados, 0);
    EXPECT_EQ(leerMensaje(R"({"t":"elegir","id":"pausa"})")->id, "pausa");
    EXPECT_EQ(leerMensaje(R"({"t":"detener"})")->tipo, Mensaje::Tipo::detener);
    EXPECT_EQ(leerMensaje(R"({"t":"saldo","segundos":-30})")->segundos, -30);
    auto d = leerMensaje(R"({"t":"destino","sid":"ab12","publicando":false})");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->tipo, Mensaje::Tipo::destino);
    EXPECT_EQ(d->id, "ab12");
    EXPECT_FALSE(d->publicando);
    EXPECT_TRUE(leerMensaje(R"({"t":"destino","sid":"ab12","publicando":true})")->publicando);
    for (const char* malo : {R"({"t":"saldo"})", R"({"t":"saldo","segundos":"9"})", R"({"t":"camara"})",
                             R"({"t":"destino","sid":"ab12"})", R"({"t":"destino","sid":"ab12","publicando":0})",
                             R"({"t":"destino","publicando":true})",
                             R"({"t":5})", R"({"id":"x"})", "no es json", "[]", R"({"t":"otro"})"})
        EXPECT_FALSE(leerMensaje(malo)) << malo;
    std::string enorme = R"({"t":"hola","x":")" + std::string(kTopeRespuesta, 'a') + "\"}";
    EXPECT_FALSE(leerMensaje(enorme));
}

TEST(Mensajes, instantaneaConSusMiembrosEnOrden) {
    EstadoCelular e;
    e.aviso = "Sin cámara";
    e.avisoEsProblema = true;
    e.botonHabilitado = true;
    auto quieto = instantanea(e, false);
    EXPECT_EQ(claves(quieto), (std::vector<std::string>{"t", "programa", "vivo", "seco", "aviso", "sinRed", "sinDestino", "listo",
                                                         "redes", "error"}));
    EXPECT_EQ(quieto["t"], "pulso");
    EXPECT_TRUE(quieto["error"].get<bool>());
    EXPECT_TRUE(quieto["listo"].get<bool>());
    // While a permission is being asked for, nothing is ready and nothing is an error yet.
    e.pidiendoPase = true;
    EXPECT_FALSE(instantanea(e, false)["listo"].get<bool>());
    EXPECT_FALSE(instantanea(e, false)["error"].get<bool>());

    e.vivo = true;
    e.sinRed = true;
    e.saldo = 3599;
    e.calidad = "Alta";
    e.tiempo = "0:12";
    e.sale = "2,5";
    e.cps = "30";
    e.saltados = "0";
    e.camaras = {{"cam1", "Cámara"}};
    e.pantallas = {{"pausa", "Pausa", true, ""}};
    auto todo = instantanea(e, true);
    EXPECT_EQ(claves(todo), (std::vector<std::string>{"t", "programa", "vivo", "seco", "aviso", "sinRed", "sinDestino", "listo", "redes",
                                                       "error", "saldo", "calidad", "tiempo", "cifras", "canal",
                                                       "camaras", "camara", "pantallas"}));
    EXPECT_EQ(todo["t"], "estado");
    EXPECT_FALSE(todo["error"].get<bool>());  // live: the phone shows "sinDestino" instead
    EXPECT_FALSE(todo["sinDestino"].get<bool>());
    e.sinDestino = true;
    EXPECT_TRUE(instantanea(e, false)["sinDestino"].get<bool>());
    e.vivo = false;
    EXPECT_FALSE(instantanea(e, false)["sinDestino"].get<bool>());  // only while live
    e.vivo = true;
    EXPECT_EQ(todo["cifras"], "2,5 Mbps  ·  30 cuadros/s  ·  0 saltados");
    EXPECT_EQ(claves(todo["camaras"][0]), (std::vector<std::string>{"id", "nombre"}));
    EXPECT_EQ(claves(todo["pantallas"][0]), (std::vector<std::string>{"id", "nombre", "respaldo", "foto"}));
    e.calidad.reset();
    EXPECT_FALSE(instantanea(e, false).contains("calidad"));
}

}  // namespace
}  // namespace tt
