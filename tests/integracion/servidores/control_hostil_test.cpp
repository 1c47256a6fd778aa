// The control service against account holders and strangers: an unverified address someone else
// registers, phone tokens, disk-filling reports, crowds of sockets in one room, descriptors running
// out, and a flood of password requests.
#include "soporte/control_hijo.h"
#include "soporte/soporte.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <sys/resource.h>


using namespace tt;
using namespace tt::prueba;
namespace asio = boost::asio;

namespace {

const std::string secreto = "secreto-compartido-hostil";

std::size_t veces(const std::string& texto, const std::string& que) {
    std::size_t n = 0;
    for (auto p = texto.find(que); p != std::string::npos; p = texto.find(que, p + 1)) ++n;
    return n;
}

// A connection from a given loopback address (127.0.0.0/8 is all local on Linux).
asio::ip::tcp::socket desde(asio::io_context& io, const std::string& origen, std::uint16_t puerto) {
    asio::ip::tcp::socket s(io);
    s.open(asio::ip::tcp::v4());
    s.bind({asio::ip::make_address(origen), 0});
    s.connect({asio::ip::make_address("127.0.0.1"), puerto});
    return s;
}

// The whole answer to a request sent on `s` ("" when the service closed it without one).
std::string preguntar(asio::ip::tcp::socket& s, const std::string& pedido) {
    boost::system::error_code ec;
    asio::write(s, asio::buffer(pedido), ec);
    std::string r(65536, '\0');
    std::size_t n = asio::read(s, asio::buffer(r), ec);
    return r.substr(0, n);
}

class ControlHostil : public PorAlmacen {};
EN_CADA_ALMACEN(ControlHostil);

}  // namespace

// Someone registers the owner's address after the owner did: the owner's code still brings the
// owner's password, the other one never works. Signing in by code proves no password at all.

TEST_P(ControlHostil, unRegistroAjenoNoSeQuedaConLaCuenta) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba"});
    const auto pu = control.puerto();
    auto duena = post(pu, "/registro", {{"correo", "ana@ejemplo.com"}, {"clave", "Clave-de-Ana-1"}});
    auto ajena = post(pu, "/registro", {{"correo", "ana@ejemplo.com"}, {"clave", "Clave-Ajena-22"}});
    ASSERT_EQ(duena.estado, 200);
    ASSERT_EQ(ajena.estado, 200);
    auto v = post(pu, "/verificar", {{"correo", "ana@ejemplo.com"}, {"codigo", duena.cuerpo["codigo"]}});
    ASSERT_EQ(v.estado, 200) << v.crudo;
    EXPECT_EQ(post(pu, "/clave", {{"correo", "ana@ejemplo.com"}, {"clave", "Clave-Ajena-22"}}).estado, 401);
    EXPECT_EQ(post(pu, "/clave", {{"correo", "ana@ejemplo.com"}, {"clave", "Clave-de-Ana-1"}}).estado, 200);
    // The other registration's code is spent with it.
    EXPECT_EQ(post(pu, "/verificar", {{"correo", "ana@ejemplo.com"}, {"codigo", ajena.cuerpo["codigo"]}}).estado, 400);

    auto r = post(pu, "/registro", {{"correo", "beto@ejemplo.com"}, {"clave", "Clave-de-Beto-1"}});
    auto c = post(pu, "/codigo", {{"correo", "beto@ejemplo.com"}, {"modo", "entrar"}});
    ASSERT_EQ(post(pu, "/entrar", {{"correo", "beto@ejemplo.com"}, {"codigo", c.cuerpo["codigo"]}}).estado, 200);
    EXPECT_EQ(post(pu, "/clave", {{"correo", "beto@ejemplo.com"}, {"clave", "Clave-de-Beto-1"}}).estado, 401);

    // An address without an account gets the same answer as one with it, and no code.
    auto nadie = post(pu, "/codigo", {{"correo", "nadie@ejemplo.com"}, {"modo", "entrar"}});
    EXPECT_EQ(nadie.estado, 200);
    EXPECT_FALSE(nadie.cuerpo.contains("codigo"));
    EXPECT_EQ(control.detener(), 0);
}

// A phone's token opens the room and nothing else; reports are bounded in size and number.
TEST_P(ControlHostil, fichaDeCelularYReportes) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--destinos-locales"});
    const auto pu = control.puerto();
    auto mac = crearCuenta(pu, "eva@ejemplo.com");
    ASSERT_TRUE(mac);
    auto c = post(pu, "/codigo", {{"correo", mac->correo}, {"modo", "entrar"}});
    auto tel = post(pu, "/entrar", {{"correo", mac->correo}, {"codigo", c.cuerpo["codigo"]}, {"tipo", "celular"}});
    ASSERT_EQ(tel.estado, 200);
    const Json conTel{{"sala", mac->sala}, {"ficha", tel.cuerpo["ficha"]}, {"destino", "rtmp://127.0.0.1/live/k"},
                      {"texto", "informe"}};
    for (const char* ruta : {"/saldo", "/pase", "/reporte"}) EXPECT_EQ(post(pu, ruta, conTel).estado, 403) << ruta;
    ClienteWs ws(pu, mac->sala);
    EXPECT_TRUE(ws.mandar(Json{{"t", "entrar"}, {"ficha", tel.cuerpo["ficha"]}}));
    EXPECT_TRUE(ws.esperar("mac", 5));

    Json reporte{{"sala", mac->sala}, {"ficha", mac->ficha}, {"tipo", "cierre"}, {"nombre", "a"}, {"version", "1"},
                 {"texto", std::string(129 * 1024, 'x')}};
    EXPECT_EQ(post(pu, "/reporte", reporte).estado, 413);
    reporte["texto"] = "breve";
    int aceptados = 0, estado = 200;
    for (; aceptados < 50 && (estado = post(pu, "/reporte", reporte).estado) == 200; ++aceptados) {
    }
    EXPECT_EQ(estado, 429);
    EXPECT_GE(aceptados, 4);  // what the app sends after a start
    EXPECT_LT(aceptados, 50);
    EXPECT_EQ(control.detener(), 0);
}

// Desktops of one account replace the oldest beyond a few; phones beyond a room's share are
// turned away; a phone's oversized order reaches nobody.
TEST_P(ControlHostil, unaSalaNoSeLlenaDeSockets) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba"});
    const auto pu = control.puerto();
    auto cuenta = crearCuenta(pu, "sala@ejemplo.com");
    ASSERT_TRUE(cuenta);
    std::vector<std::unique_ptr<ClienteWs>> macs;
    for (int i = 0; i < 6; ++i) {
        macs.push_back(std::make_unique<ClienteWs>(pu, cuenta->sala, cuenta->ficha));
        ASSERT_TRUE(macs.back()->abierto());
        ASSERT_TRUE(macs.back()->esperar("celulares", 5));  // in the room
    }
    EXPECT_TRUE(macs[0]->cerradoPorElServicio(5));
    EXPECT_TRUE(macs[1]->cerradoPorElServicio(5));
    EXPECT_TRUE(macs[5]->mandar(Json{{"t", "ping"}}));

    std::vector<std::unique_ptr<ClienteWs>> telefonos;
    for (int i = 0; i < 21; ++i) {
        // Each phone by a pairing link from the desktop.
        const std::string enlace = "enlace-de-prueba-" + std::to_string(100 + i);
        macs[5]->mandar(Json{{"t", "vincular"}, {"ficha", enlace}});
        RespuestaHttp e;
        ASSERT_TRUE(esperar([&] { return (e = post(pu, "/vinculo", {{"sala", cuenta->sala}, {"ficha", enlace}})).estado == 200; }, 5));
        telefonos.push_back(std::make_unique<ClienteWs>(pu, cuenta->sala));
        telefonos.back()->mandar(Json{{"t", "entrar"}, {"ficha", e.cuerpo["ficha"]}});
        if (i < 20) {
            ASSERT_TRUE(telefonos.back()->esperar("mac", 5)) << i;
        }
    }
    EXPECT_TRUE(telefonos.back()->cerradoPorElServicio(5));
    telefonos[0]->mandar(Json{{"t", "elegir"}, {"id", std::string(8000, 'p')}});
    telefonos[0]->mandar(Json{{"t", "elegir"}, {"id", "pausa"}});
    auto orden = macs[5]->esperar("elegir", 5);
    ASSERT_TRUE(orden);
    EXPECT_EQ((*orden)["id"], "pausa");  // the long one was dropped
    // A burst of orders: the desktop gets no more than a thumb could send.
    for (int i = 0; i < 50; ++i) telefonos[1]->mandar(Json{{"t", "elegir"}, {"id", "r" + std::to_string(i)}});
    int llegadas = 0;
    while (macs[4]->esperar("elegir", 1)) ++llegadas;  // a timed-out read ends that client: not macs[5]
    EXPECT_GE(llegadas, 2);  // the two earlier "elegir" of the first phone too
    EXPECT_LT(llegadas, 50);
    // Taking the phones out also voids a link not used yet.
    macs[5]->mandar(Json{{"t", "vincular"}, {"ficha", "enlace-sin-usar-0001"}});
    macs[5]->mandar(Json{{"t", "desvincular"}});
    EXPECT_TRUE(telefonos[0]->cerradoPorElServicio(5));
    EXPECT_EQ(post(pu, "/vinculo", {{"sala", cuenta->sala}, {"ficha", "enlace-sin-usar-0001"}}).estado, 403);
    EXPECT_EQ(control.detener(), 0);
}

// One address holds its share of connections, not all of them; with the descriptors gone the
// service waits between accepts and logs a line per burst, and honest requests go on once they
// are back.
TEST_P(ControlHostil, conexionesYDescriptoresAcotados) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--conexiones", "200", "--conexiones-por-ip", "100"});
    const auto pu = control.puerto();
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> ociosas;
    for (int i = 0; i < 120; ++i) ociosas.push_back(desde(io, "127.0.0.3", pu));
    // The 20 beyond the address's share are closed at once; another address is still served.
    auto otra = desde(io, "127.0.0.4", pu);
    EXPECT_NE(preguntar(otra, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").find("HTTP/1.1 200"),
              std::string::npos);
    auto mas = desde(io, "127.0.0.3", pu);
    EXPECT_EQ(preguntar(mas, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), "");
    // HEAD has the headers only; a body coded other than plainly chunked is not taken.
    auto cabeza = desde(io, "127.0.0.4", pu);
    const std::string h = preguntar(cabeza, "HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(h.substr(h.find("\r\n\r\n") + 4), "") << h;
    auto gzip = desde(io, "127.0.0.4", pu);
    EXPECT_NE(preguntar(gzip, "POST /saldo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n")
                  .find("HTTP/1.1 501"),
              std::string::npos);
    ociosas.clear();

    // Descriptors run out under the service's feet.
    rlimit antes{};
    ASSERT_EQ(prlimit(control.pid(), RLIMIT_NOFILE, nullptr, &antes), 0);
    rlimit poco{48, antes.rlim_max};  // only the soft limit: raising it back needs no privilege
    ASSERT_EQ(prlimit(control.pid(), RLIMIT_NOFILE, &poco, nullptr), 0);
    for (int i = 0; i < 80; ++i) ociosas.push_back(desde(io, "127.0.0.5", pu));
    EXPECT_TRUE(esperar([&] { return control.registro().find("no se pudo aceptar una conexión") != std::string::npos; }));
    EXPECT_FALSE(esperar([&] { return veces(control.registro(), "no se pudo aceptar una conexión") > 1; }, 1))
        << control.registro().size();
    ociosas.clear();
    ASSERT_EQ(prlimit(control.pid(), RLIMIT_NOFILE, &antes, nullptr), 0);
    EXPECT_TRUE(esperar([&] { return crearCuenta(pu, "despues@ejemplo.com").has_value(); }, 20));
    EXPECT_EQ(control.detener(), 0);
}

// A flood of password requests: a bounded queue answers the rest "try again", and a balance is
// read meanwhile.
TEST_P(ControlHostil, lasClavesEsperanEnSuPropiaCola) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba"});
    const auto pu = control.puerto();
    auto cuenta = crearCuenta(pu, "saldo@ejemplo.com");
    ASSERT_TRUE(cuenta);
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> claves;
    for (int i = 0; i < 60; ++i) {
        // Each for another address: the wrong-password pause of one address is not what is tested.
        const std::string cuerpo = Json{{"correo", "x" + std::to_string(i) + "@ejemplo.com"}, {"clave", "Otra-Clave-1"}}.dump();
        const std::string pedido = "POST /clave HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
                                   std::to_string(cuerpo.size()) + "\r\nConnection: close\r\n\r\n" + cuerpo;
        claves.push_back(desde(io, "127.0.0.6", pu));
        asio::write(claves.back(), asio::buffer(pedido));
    }
    EXPECT_EQ(post(pu, "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}}).estado, 200);
    int ocupado = 0;
    for (auto& s : claves) {
        std::string r(4096, '\0');
        boost::system::error_code ec;
        r.resize(asio::read(s, asio::buffer(r), ec));
        if (r.find("HTTP/1.1 503") != std::string::npos && r.find("Intenta de nuevo en un momento.") != std::string::npos)
            ++ocupado;
        else  // a wrong password, or that address's pause once it failed often
            EXPECT_TRUE(r.find("HTTP/1.1 401") != std::string::npos || r.find("HTTP/1.1 429") != std::string::npos) << r;
    }
    EXPECT_GT(ocupado, 0);
    EXPECT_EQ(control.detener(), 0);
}

// A guesser's address runs out of tries across every account it aims at; the owner, from another
// address, still signs in with the right password and asks for codes.
TEST_P(ControlHostil, adivinarFrenaAlQueAdivinaNoALaDuena) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba"});
    const auto pu = control.puerto();
    auto cuenta = crearCuenta(pu, "dora@ejemplo.com");
    ASSERT_TRUE(cuenta);
    asio::io_context io;
    auto desdeOtra = [&](const std::string& origen, const std::string& ruta, const Json& cuerpo) {
        auto s = desde(io, origen, pu);
        const std::string b = cuerpo.dump();
        return preguntar(s, "POST " + ruta + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(b.size()) +
                                "\r\nConnection: close\r\n\r\n" + b);
    };
    int frenado = -1;
    for (int i = 0; i < 40 && frenado < 0; ++i) {
        const std::string r = desdeOtra("127.0.0.9", "/entrar",
                                        {{"correo", "otra" + std::to_string(i) + "@ejemplo.com"}, {"codigo", "000000"}});
        if (r.find("HTTP/1.1 429") != std::string::npos) frenado = i;
    }
    EXPECT_GT(frenado, 0);  // a budget across accounts, not per account
    for (int i = 0; i < 12; ++i) desdeOtra("127.0.0.9", "/clave", {{"correo", cuenta->correo}, {"clave", "Adivina#" + std::to_string(i)}});
    for (int i = 0; i < 12; ++i) desdeOtra("127.0.0.9", "/codigo", {{"correo", cuenta->correo}, {"modo", "entrar"}});
    EXPECT_NE(desdeOtra("127.0.0.10", "/clave", {{"correo", cuenta->correo}, {"clave", "Prueba#123"}}).find("HTTP/1.1 200"),
              std::string::npos);
    EXPECT_NE(desdeOtra("127.0.0.10", "/codigo", {{"correo", cuenta->correo}, {"modo", "entrar"}}).find("HTTP/1.1 200"),
              std::string::npos);
    EXPECT_EQ(control.detener(), 0);
}
