// The relay admits only what the control service granted: the real service and the real relay,
// sharing a secret, and the app's uplink between them.
#include "soporte/control_hijo.h"
#include "soporte/relay_hijo.h"
#include "soporte/servidor_rtmp.h"
#include "soporte/soporte.h"

#include "comun/cripto.h"
#include "comun/proceso.h"
#include "uplink/reparto.h"

#include <boost/asio/ip/tcp.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

using namespace tt;
using namespace tt::prueba;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace asio = boost::asio;

namespace {

const std::string secreto = "secreto-de-los-dos";

class RelayConControl : public PorAlmacen {
protected:
    void SetUp() override {
        PorAlmacen::SetUp();
        Proceso p = proceso();
        p.entorno = Entorno({{"TM_DATOS", (raizPruebas() / "datos").string()}, {"TM_INTERFACES", "lo"}});
        fijarProceso(p);
    }
};

// The app's side: an uplink with the permission, and the reason it was cut for, if any.
struct Subida {
    explicit Subida(const Pase& p) : Subida(Reparto::crear("", "", std::nullopt, std::nullopt, p)) {}
    explicit Subida(std::shared_ptr<Reparto> reparto) : r(std::move(reparto)) {
        if (r)
            r->fijarAlCortar([this](const std::string& x) {
                std::lock_guard l(m);
                corte = x;
            });
    }
    std::string razon() {
        std::lock_guard l(m);
        return corte;
    }
    bool cortado(const std::string& x, double s = 10) {
        return esperar([&] { return razon() == x; }, s);
    }
    std::shared_ptr<Reparto> r;
    std::mutex m;
    std::string corte;
};

// One FLV video tag with its trailing size, as the encoder writes them.
std::string etiqueta(std::uint32_t ms, std::size_t largo) {
    std::string t;
    auto u24 = [&](std::uint32_t v) {
        t += char(v >> 16);
        t += char(v >> 8);
        t += char(v);
    };
    t += char(9);
    u24(std::uint32_t(largo));
    u24(ms & 0xFFFFFF);
    t += char(ms >> 24);
    u24(0);
    // A key frame of AVC video: what the relay's output waits for before it publishes.
    t += std::string("\x17\x01\x00\x00\x00", 5) + std::string(largo - 5, '\x17');
    const std::uint32_t total = std::uint32_t(11 + largo);
    for (int i = 3; i >= 0; --i) t += char(total >> (8 * i));
    return t;
}

// A stream at its own pace: the FLV header, then a tag every 100 ms for `decimas` tenths of a second.
void alAire(Subida& e, int decimas) {
    e.r->enviar(std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    for (int i = 0; i < decimas; ++i) {
        e.r->enviar(etiqueta(std::uint32_t(i * 100), 1000));
        std::this_thread::sleep_for(100ms);
    }
}

Pase pedirPase(const ControlHijo& c, const CuentaPrueba& a, const RelayHijo& relay, const std::string& destino) {
    auto r = post(c.puerto(), "/pase", {{"sala", a.sala}, {"ficha", a.ficha}, {"correo", a.correo},
                                        {"destino", destino}, {"canal", "c"}, {"seco", false}});
    EXPECT_EQ(r.estado, 200) << r.crudo;
    if (r.estado != 200) return {};
    // The service names the relay it was told of; the test's relay listens on a port of its own.
    return Pase{relay.entrada(), r.cuerpo["sid"], r.cuerpo["llave"], r.cuerpo["pase"], r.cuerpo["segundos"]};
}

EN_CADA_ALMACEN(RelayConControl);

}  // namespace

TEST_P(RelayConControl, publicaAlDestinoSelladoYCortaConSaldoAlAcabarse) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--saldo-inicial", "4"});
    RelayHijo relay({"", secreto}, {"--control", control.sitio(), "--salida", (d / "{sesion}.flv").string(),
                                    "--informe-cada", "1"});
    auto cuenta = crearCuenta(control.puerto(), "vivo@ejemplo.com");
    ASSERT_TRUE(cuenta);
    ClienteWs mac(control.puerto(), cuenta->sala, cuenta->ficha);
    ASSERT_TRUE(mac.abierto());

    // Where the sealed destination points: the relay must publish here, and only here.
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    ServidorRtmp ingesta;
    const std::string destino = ingesta.flujo("sk-clave-del-canal");
    const Pase p = pedirPase(control, *cuenta, relay, destino);

    // One character of the token changed: the relay ends it, and logs it without the token.
    {
        Pase tocado = p;
        tocado.pase[tocado.pase.size() / 2] = tocado.pase[tocado.pase.size() / 2] == 'A' ? 'B' : 'A';
        Subida e(tocado);
        EXPECT_TRUE(e.cortado("CERRADA")) << relay.registro();
        EXPECT_NE(relay.registro().find("pase inválido"), std::string::npos);
    }

    Subida e(p);
    ASSERT_TRUE(e.r);
    std::string flv("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
    e.r->enviar(flv);
    ASSERT_TRUE(esperar([&] { return e.r->resumen().unidas == 1; }, 5)) << relay.registro();
    // Seconds count only while the destination takes the stream.
    bool vino = false;
    for (std::uint32_t i = 0; i < 200 && !vino; ++i) {
        e.r->enviar(etiqueta(i * 50, 1000));
        std::this_thread::sleep_for(50ms);
        vino = fs::exists(ingesta.grabado("sk-clave-del-canal")) && fs::file_size(ingesta.grabado("sk-clave-del-canal")) > 0;
    }
    EXPECT_TRUE(vino) << "el relay no publicó en el destino sellado: " << relay.registro();

    // Four seconds granted: then "SALDO", and the service's balance is spent.
    for (std::uint32_t i = 200; i < 400 && e.razon().empty(); ++i) {
        e.r->enviar(etiqueta(i * 50, 1000));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(e.cortado("SALDO", 12)) << relay.registro();
    auto saldo = mac.esperar("saldo", 10);
    std::optional<Json> ultimo = saldo;
    while (ultimo && (*ultimo)["segundos"] != 0) ultimo = mac.esperar("saldo", 5);
    ASSERT_TRUE(ultimo) << control.registro();
    EXPECT_EQ(post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}}).cuerpo["segundos"], 0);
    auto otro = post(control.puerto(), "/pase", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}, {"destino", destino}});
    EXPECT_EQ(otro.estado, 402);
    EXPECT_TRUE(otro.cuerpo["error"].is_string());
    EXPECT_GT(leer(d / (p.sid + ".flv")).size(), flv.size());
    const std::string registro = relay.registro() + control.registro();
    EXPECT_EQ(registro.find("sk-clave-del-canal"), std::string::npos);
    EXPECT_EQ(registro.find(p.pase), std::string::npos);
    EXPECT_EQ(registro.find(p.llave), std::string::npos);
}

TEST_P(RelayConControl, vencidoOcupadoYRelevada) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--vida-pase", "3"});
    RelayHijo relay({"", secreto}, {"--control", control.sitio()});
    auto cuenta = crearCuenta(control.puerto(), "sala@ejemplo.com");
    ASSERT_TRUE(cuenta);
    const std::string destino = "rtmp://127.0.0.1:9/vivo/k";
    {
        const Pase viejo = pedirPase(control, *cuenta, relay, destino);
        std::this_thread::sleep_for(3500ms);
        Subida e(viejo);
        EXPECT_TRUE(e.cortado("VENCIDO")) << relay.registro();
    }
    const Pase antes = pedirPase(control, *cuenta, relay, destino);
    std::this_thread::sleep_for(20ms);
    const Pase despues = pedirPase(control, *cuenta, relay, destino);
    Subida nuevo(despues);
    ASSERT_TRUE(esperar([&] { return nuevo.r->resumen().unidas == 1; }, 5)) << relay.registro();
    // An older grant finds its room on air with a newer one.
    Subida viejo(antes);
    EXPECT_TRUE(viejo.cortado("OCUPADO")) << relay.registro();
    // A newer grant relieves the one on air.
    const Pase ultimo = pedirPase(control, *cuenta, relay, destino);
    Subida relevo(ultimo);
    ASSERT_TRUE(esperar([&] { return relevo.r->resumen().unidas == 1; }, 5)) << relay.registro();
    EXPECT_TRUE(nuevo.cortado("RELEVADA")) << relay.registro();
    EXPECT_EQ(relevo.razon(), "");
}

TEST_P(RelayConControl, elUsoLlegaAunqueElControlEsteCaidoYNuncaCuentaDosVeces) {
    CarpetaTemporal d;
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    ServidorRtmp ingesta;
    const int puertoControl = puertoLibre();
    const std::vector<std::string> opciones{"--prueba", "--saldo-inicial", "600", "--escuchar",
                                            "127.0.0.1:" + std::to_string(puertoControl)};
    RelayHijo relay({"", secreto}, {"--control", "127.0.0.1:" + std::to_string(puertoControl), "--informe-cada", "1"});
    std::optional<CuentaPrueba> cuenta;
    Pase p;
    {
        ControlHijo control(d / "datos", secreto, opciones);
        cuenta = crearCuenta(control.puerto(), "caido@ejemplo.com");
        ASSERT_TRUE(cuenta);
        p = pedirPase(control, *cuenta, relay, ingesta.flujo("k"));
        EXPECT_EQ(control.detener(), 0);
    }
    // On air for at least three seconds while the service is down, then the stream ends.
    const auto t0 = std::chrono::steady_clock::now();
    double abierta = 0;
    {
        Subida e(p);
        ASSERT_TRUE(esperar([&] { return e.r->resumen().unidas == 1; }, 5)) << relay.registro();
        alAire(e, 30);  // three seconds of tags
        e.r->terminar();
        ASSERT_TRUE(esperar([&] { return relay.registro().find("fin del flujo") != std::string::npos; }, 15))
            << relay.registro();
        abierta = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    ControlHijo control(d / "datos", secreto, opciones);
    auto saldo = [&] {
        return post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}}).cuerpo["segundos"];
    };
    ASSERT_TRUE(esperar([&] { return saldo() != 600; }, 10)) << relay.registro();
    const long long despues = saldo();
    EXPECT_GE(despues, 600 - std::ceil(abierta) - 1);  // never more than the time it was open
    EXPECT_LE(despues, 600 - 1);  // what the destination took was charged
    // The same total again (a retry whose answer was lost) changes nothing; a forged one is refused.
    const std::string cuerpo = "{\"sid\":\"" + p.sid + "\",\"segundos\":" + std::to_string(600 - despues) + "}";
    auto r = pedirHttp(control.puerto(), "POST", "/uso", cuerpo, {{"X-Firma", hmacHex(secreto, "uso|" + cuerpo)}});
    EXPECT_EQ(r.estado, 200);
    EXPECT_EQ(saldo(), despues);
    const std::string mas = "{\"sid\":\"" + p.sid + "\",\"segundos\":500}";
    EXPECT_EQ(pedirHttp(control.puerto(), "POST", "/uso", mas, {{"X-Firma", hmacHex("otro", "uso|" + mas)}}).estado, 403);
    EXPECT_EQ(saldo(), despues);
}

// A destination that never takes the stream (nothing listens there) ends the transmission with
// "CERRADA" once it has refused for 15 s, under a permission and under the shared key alike, and
// none of that time is charged.
TEST_P(RelayConControl, unDestinoQueNuncaAceptaTerminaSinCobrar) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--saldo-inicial", "600"});
    RelayHijo relay({"clave-compartida", secreto}, {"--control", control.sitio(), "--informe-cada", "1"});
    auto cuenta = crearCuenta(control.puerto(), "nadie@ejemplo.com");
    ASSERT_TRUE(cuenta);
    ClienteWs mac(control.puerto(), cuenta->sala, cuenta->ficha);
    const std::string muerto = "rtmp://127.0.0.1:" + std::to_string(puertoLibre()) + "/live/k";
    const Pase pase = pedirPase(control, *cuenta, relay, muerto);
    Subida conPase(pase);
    Subida conClave(Reparto::crear(relay.entrada(), "clave-compartida", muerto, std::nullopt, std::nullopt));
    ASSERT_TRUE(conPase.r && conClave.r);
    const auto t0 = std::chrono::steady_clock::now();
    for (auto* e : {&conPase, &conClave}) e->r->enviar(std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    for (std::uint32_t i = 0; i < 400 && (conPase.razon().empty() || conClave.razon().empty()); ++i) {
        for (auto* e : {&conPase, &conClave}) e->r->enviar(etiqueta(i * 100, 1000));
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(conPase.razon(), "CERRADA") << relay.registro();
    EXPECT_EQ(conClave.razon(), "CERRADA") << relay.registro();
    // Meanwhile the app was told, in its room, that nothing reached the destination.
    auto dicho = mac.esperar("destino", 1);
    ASSERT_TRUE(dicho) << control.registro();
    EXPECT_EQ((*dicho)["sid"], pase.sid);
    EXPECT_EQ((*dicho)["publicando"], false);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 14s);  // it was given its 15 s
    EXPECT_NE(relay.registro().find("cerrada (el destino no aceptó la publicación en 15 s)"), std::string::npos)
        << relay.registro();
    auto saldo = [&] {
        return post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}}).cuerpo["segundos"];
    };
    EXPECT_FALSE(esperar([&] { return saldo() != 600; }, 3)) << saldo();  // three report periods
}


// A destination that accepts and closes at once, or accepts and never answers: the publisher
// waits between its tries instead of spinning, and SIGTERM still ends the relay cleanly at once.
TEST_P(RelayConControl, unDestinoQueCierraOCallaNiGiraNiRetieneAlRelay) {
    asio::io_context io;
    asio::ip::tcp::acceptor cierra(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::acceptor calla(io, {asio::ip::make_address("127.0.0.1"), 0});  // never accepts: the kernel does
    cierra.non_blocking(true);
    RelayHijo relay({"clave-compartida", ""});
    auto hacia = [&](const asio::ip::tcp::acceptor& a) {
        return Subida(Reparto::crear(relay.entrada(), "clave-compartida",
                                     "rtmp://127.0.0.1:" + std::to_string(a.local_endpoint().port()) + "/live/k",
                                     std::nullopt, std::nullopt));
    };
    Subida aCierra = hacia(cierra), aCalla = hacia(calla);
    ASSERT_TRUE(aCierra.r && aCalla.r);
    for (auto* e : {&aCierra, &aCalla}) e->r->enviar(std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    int intentos = 0;
    for (std::uint32_t i = 0; i < 80; ++i) {  // eight seconds of a stream
        for (auto* e : {&aCierra, &aCalla}) e->r->enviar(etiqueta(i * 100, 1000));
        for (;;) {
            boost::system::error_code ec;
            asio::ip::tcp::socket s(io);
            cierra.accept(s, ec);
            if (ec) break;
            ++intentos;  // closed as it goes
        }
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_GE(intentos, 1) << relay.registro();
    EXPECT_LE(intentos, 3) << relay.registro();  // one try every 5 s, not thousands
    EXPECT_EQ(relay.detener(10), 0) << relay.registro();
}

// What the relay owes the control service outlives SIGTERM and a restart: the seconds on air
// before the signal are charged at once, a restarted relay counts on from them, and a permission
// it closed stays closed.
TEST_P(RelayConControl, unReinicioDelRelayNoRegalaSegundosNiReabrePermisos) {
    CarpetaTemporal d;
    ControlHijo control(d / "datos", secreto, {"--prueba", "--saldo-inicial", "600"});
    auto cuenta = crearCuenta(control.puerto(), "reinicio@ejemplo.com");
    ASSERT_TRUE(cuenta);
    auto pedirSeco = [&] {  // a dry run: every second admitted counts
        auto r = post(control.puerto(), "/pase", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha},
                                                  {"correo", cuenta->correo}, {"canal", "c"}, {"seco", true}});
        EXPECT_EQ(r.estado, 200) << r.crudo;
        return r.cuerpo;
    };
    const Json pase = pedirSeco();
    auto en = [&](const RelayHijo& relay, const Json& j) {
        return Pase{relay.entrada(), j["sid"], j["llave"], j["pase"], j["segundos"]};
    };
    auto saldo = [&] {
        return post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}})
            .cuerpo["segundos"].get<long long>();
    };
    const fs::path estado = d / "relay";
    const std::vector<std::string> args{"--control", control.sitio(), "--estado", estado.string()};
    long long antes = 0;
    {
        RelayHijo relay({"", secreto}, args);  // reports every 15 s: the signal comes first
        Subida e(en(relay, pase));
        ASSERT_TRUE(esperar([&] { return e.r->resumen().unidas == 1; }, 5)) << relay.registro();
        alAire(e, 30);
        EXPECT_EQ(relay.detener(), 0) << relay.registro();
        ASSERT_TRUE(esperar([&] { return saldo() < 600; }, 5)) << relay.registro();
        antes = saldo();
        EXPECT_LE(antes, 600 - 3);
    }
    EXPECT_EQ(fs::status(estado / "permisos").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    {
        std::vector<std::string> cada = args;
        cada.insert(cada.end(), {"--informe-cada", "1"});
        RelayHijo relay({"", secreto}, cada);
        Subida e(en(relay, pase));
        ASSERT_TRUE(esperar([&] { return e.r->resumen().unidas == 1; }, 5)) << relay.registro();
        alAire(e, 20);
        // Fewer seconds than before the restart, charged all the same: the count goes on.
        EXPECT_TRUE(esperar([&] { return saldo() < antes; }, 10)) << relay.registro();
        // A newer grant for the room relieves this one.
        Subida relevo(en(relay, pedirSeco()));
        EXPECT_TRUE(e.cortado("RELEVADA")) << relay.registro();
        EXPECT_EQ(relay.detener(), 0) << relay.registro();
    }
    RelayHijo relay({"", secreto}, args);
    Subida e(en(relay, pase));
    EXPECT_TRUE(e.cortado("RELEVADA")) << relay.registro();
    EXPECT_EQ(relay.detener(), 0) << relay.registro();
}
