#include "relay_proceso.h"

#include "comun/cripto.h"
#include "comun/proceso.h"
#include "soporte/soporte.h"
#include "protocolo/protocolo.h"
#include "uplink/reparto.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

using namespace tt;
using namespace tt::prueba;
using namespace std::chrono_literals;
namespace asio = boost::asio;

namespace {

// Loopback carries the links in these tests; in real use it never does.
void usarLoopback(std::map<std::string, std::string> mas = {}) {
    Proceso p = proceso();
    mas["TM_DATOS"] = (raizPruebas() / "datos").string();
    mas["TM_INTERFACES"] = "lo";
    p.entorno = Entorno(mas);
    fijarProceso(p);
}

// Something that looks like an encoder's output: an FLV header and pieces of varied size.
std::vector<std::string> piezas(std::size_t cuantas, unsigned semilla) {
    std::mt19937 azar(semilla);
    std::vector<std::string> v;
    v.push_back(std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    for (std::size_t i = 0; i < cuantas; ++i) {
        std::string s(1 + azar() % 30000, '\0');
        for (auto& c : s) c = char(azar());
        v.push_back(std::move(s));
    }
    return v;
}

std::string juntar(const std::vector<std::string>& v) {
    std::string r;
    for (auto& s : v) r += s;
    return r;
}

// The log is shared by every test of the program: each looks only at what came after its start.
std::size_t inicioLog = 0;
void marcarLog() { inicioLog = leer(carpetaLog() / "app.log").size(); }
std::string appLog() {
    std::string l = leer(carpetaLog() / "app.log");
    return l.size() > inicioLog ? l.substr(inicioLog) : std::string();
}

class Relay : public ::testing::Test {
protected:
    void SetUp() override {
        usarLoopback();
        marcarLog();
    }
};

}  // namespace

TEST_F(Relay, sinPaseConDestinoCifradoYFinDeFlujoRearmaIgual) {
    CarpetaTemporal carpeta;
    auto salida = carpeta / "salida.flv";
    // The destination does not answer: the relay says so and keeps reassembling.
    RelayHijo relay({"clave-compartida", ""}, {"--salida", salida.string()});
    auto r = Reparto::crear(relay.entrada(), "clave-compartida", std::string("rtmp://127.0.0.1:9/vivo/clave-del-canal"),
                            std::string("JPEG-RESPALDO"), std::nullopt);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sesion().size(), 32u);
    auto datos = piezas(300, 1);
    for (auto& d : datos) r->enviar(d);
    ASSERT_TRUE(esperar([&] { return r->resumen().unidas == 1; }, 5));
    auto res = r->resumen();
    ASSERT_EQ(res.partes.size(), 1u);
    EXPECT_EQ(res.partes[0].first, "lo");
    r->terminar();
    const std::string todo = juntar(datos);
    ASSERT_TRUE(esperar([&] { return relay.registro().find("fin del flujo") != std::string::npos; }, 10))
        << relay.registro();
    EXPECT_EQ(leer(salida).size(), todo.size());
    EXPECT_TRUE(leer(salida) == todo);
    EXPECT_TRUE(esperar([&] { return appLog().find("pantalla de sin internet entregada al servidor") != std::string::npos; }, 3));
    EXPECT_NE(appLog().find("red unida: lo"), std::string::npos);
    const std::string registro = relay.registro();
    EXPECT_NE(registro.find("se publica en rtmp://127.0.0.1:9/vivo"), std::string::npos) << registro;
    EXPECT_EQ(registro.find("clave-del-canal"), std::string::npos);
    EXPECT_EQ(registro.find("clave-compartida"), std::string::npos);
    EXPECT_TRUE(relay.vivo());
    // After the end the uplink discards new pieces at once.
    r->enviar("tarde");
    EXPECT_FALSE(r->activo());
}

TEST_F(Relay, conPaseYCharlasTm3Tm4) {
    CarpetaTemporal carpeta;
    auto salida = carpeta / "s-{sesion}.flv";
    RelayHijo relay({"", "secreto-del-control"}, {"--salida", salida.string()});
    Pase p = paseSellado(relay.entrada(), "secreto-del-control", "sid-prueba-1");
    // The permission's entrada wins over the configured one.
    auto r = Reparto::crear("nada:1", "", std::nullopt, std::nullopt, p);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sesion(), "sid-prueba-1");
    auto datos = piezas(100, 2);
    for (auto& d : datos) r->enviar(d);
    r->terminar();
    auto archivo = carpeta / "s-sid-prueba-1.flv";
    ASSERT_TRUE(esperar([&] { return relay.registro().find("fin del flujo") != std::string::npos; }, 10))
        << relay.registro();
    EXPECT_TRUE(leer(archivo) == juntar(datos));

    std::string viva = conversar(relay.puerto(), "TM3", p.sid, p.pase, p.llave);
    EXPECT_EQ(viva.rfind("VIVA ", 0), 0u) << viva;
    EXPECT_EQ(conversar(relay.puerto(), "TM3", p.sid, p.pase, "otra-llave"), "CLAVE");
    EXPECT_FALSE(conversar(relay.puerto(), "TM4", p.sid, p.pase, p.llave).empty());
    EXPECT_EQ(conversar(relay.puerto(), "TM3", p.sid, p.pase, p.llave), "CERRADA");
    EXPECT_EQ(conversar(relay.puerto(), "TM3", "otra", p.pase, protocolo::llaveDeSid("secreto-del-control", "otra")),
              "CERRADA");
    const std::string registro = relay.registro() + appLog();
    EXPECT_EQ(registro.find(p.pase), std::string::npos);
    EXPECT_EQ(registro.find(p.llave), std::string::npos);
}

TEST_F(Relay, cadaRazonLlegaUnaVezAAlCortar) {
    for (std::string razon : {"SALDO", "VENCIDO", "OCUPADO", "RELEVADA", "CERRADA"}) {
        marcarLog();
        RelayHijo relay({"k", ""}, {"--razon", razon});
        auto r = Reparto::crear(relay.entrada(), "k", std::nullopt, std::nullopt, std::nullopt);
        ASSERT_TRUE(r);
        std::mutex m;
        std::vector<std::string> cortes;
        r->fijarAlCortar([&](const std::string& x) {
            std::lock_guard l(m);
            cortes.push_back(x);
        });
        ASSERT_TRUE(esperar([&] {
            std::lock_guard l(m);
            return !cortes.empty();
        }, 5)) << razon;
        // An inactive uplink neither reconnects nor takes pieces.
        std::this_thread::sleep_for(2200ms);
        r->enviar("x");
        std::lock_guard l(m);
        ASSERT_EQ(cortes.size(), 1u) << razon;
        EXPECT_EQ(cortes[0], razon);
        EXPECT_FALSE(r->activo());
        EXPECT_NE(appLog().find("lo: el servidor respondió " + razon), std::string::npos);
    }
}

TEST_F(Relay, ocupadoTrasUnaAdmisionSoloSueltaElEnlace) {
    usarLoopback({{"TM_CORTE", "1.5:0.3"}});  // an outage after the first admission: a second handshake
    RelayHijo relay({"k", ""}, {"--razon", "OCUPADO", "--tras", "1"});
    auto r = Reparto::crear(relay.entrada(), "k", std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(r);
    std::atomic<int> cortes{0};
    r->fijarAlCortar([&](const std::string&) { ++cortes; });
    ASSERT_TRUE(esperar([&] { return appLog().find("lo: el servidor respondió OCUPADO") != std::string::npos; }, 6));
    EXPECT_NE(appLog().find("red caída: lo"), std::string::npos);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(cortes, 0);
    EXPECT_TRUE(r->activo());
}

TEST_F(Relay, claveEquivocadaSoloSueltaElEnlace) {
    RelayHijo relay({"buena", ""});
    auto r = Reparto::crear(relay.entrada(), "mala", std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(esperar([&] { return appLog().find("lo: el servidor respondió CLAVE") != std::string::npos; }, 5));
    EXPECT_TRUE(r->activo());
    EXPECT_EQ(r->resumen().unidas, 0);
}

TEST_F(Relay, aguantaBasura) {
    RelayHijo relay({"k", ""}, {"--espera-saludo", "0.5", "--max-saludos", "2000", "--max-saludos-ip", "2000"});
    asio::io_context io;
    auto conectar = [&] {
        asio::ip::tcp::socket s(io);
        s.connect({asio::ip::make_address("127.0.0.1"), relay.puerto()});
        return s;
    };
    auto cerradaPorElServidor = [&](asio::ip::tcp::socket& s) {
        std::string resto(1 << 16, '\0');
        boost::system::error_code ec;
        for (int i = 0; i < 100 && !ec; ++i) s.read_some(asio::buffer(resto), ec);
        return ec == asio::error::eof || ec == asio::error::connection_reset;
    };
    {
        // A line longer than 4 KiB.
        auto s = conectar();
        boost::system::error_code ec;
        asio::write(s, asio::buffer(std::string(5000, 'a')), ec);
        EXPECT_TRUE(cerradaPorElServidor(s));
    }
    {
        // A client that says nothing.
        auto s = conectar();
        EXPECT_TRUE(cerradaPorElServidor(s));
    }
    {
        // A chunk announcing more than 16 MiB after a proper admission.
        auto s = conectar();
        asio::streambuf b;
        asio::read_until(s, b, '\n');
        std::istream in(&b);
        std::string saludo;
        std::getline(in, saludo);
        asio::write(s, asio::buffer(protocolo::respuestaSinPase("k", saludo.substr(4), "basura", std::nullopt)));
        asio::read_until(s, b, '\n');
        std::string ok;
        std::getline(in, ok);
        ASSERT_EQ(ok, "OK");
        std::string trozo;
        protocolo::escribirU32(trozo, 0);
        protocolo::escribirU32(trozo, (16u << 20) + 1);
        asio::write(s, asio::buffer(trozo));
        EXPECT_TRUE(cerradaPorElServidor(s));
    }
    {
        // A thousand connections at once all get their challenge.
        std::vector<asio::ip::tcp::socket> muchas;
        for (int i = 0; i < 1000; ++i) muchas.push_back(conectar());
        int saludos = 0;
        for (auto& s : muchas) {
            asio::streambuf b;
            boost::system::error_code ec;
            asio::read_until(s, b, '\n', ec);
            saludos += !ec;
        }
        EXPECT_EQ(saludos, 1000);
    }
    EXPECT_TRUE(relay.vivo());
    // And it still serves a real uplink.
    auto r = Reparto::crear(relay.entrada(), "k", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_TRUE(esperar([&] { return r->resumen().unidas == 1; }, 5));
}

TEST_F(Relay, silencioCierraLaTransmision) {
    RelayHijo relay({"", "s"}, {"--silencio", "1"});
    Pase p = paseSellado(relay.entrada(), "s", "sid-silencio", 60);
    {
        auto r = Reparto::crear("", "", std::nullopt, std::nullopt, p);
        r->enviar("hola");
        ASSERT_TRUE(esperar([&] { return r->resumen().unidas == 1; }, 5));
        EXPECT_EQ(conversar(relay.puerto(), "TM3", p.sid, p.pase, p.llave).rfind("VIVA", 0), 0u);
    }  // the uplink goes away without ending the stream
    EXPECT_TRUE(esperar([&] { return conversar(relay.puerto(), "TM3", p.sid, p.pase, p.llave) == "CERRADA"; }, 5));
    // A later handshake for a closed transmission is told so, and that cuts the uplink.
    auto r2 = Reparto::crear("", "", std::nullopt, std::nullopt, p);
    std::atomic<int> cortes{0};
    r2->fijarAlCortar([&](const std::string& x) { cortes += x == "CERRADA"; });
    EXPECT_TRUE(esperar([&] { return cortes == 1; }, 5));
}

TEST(RelayAyuda, explicaLaLlave) {
    std::string salida;
    FILE* f = popen((std::string(TM_BIN) + "/tremolante-relay --help").c_str(), "r");
    ASSERT_TRUE(f);
    char b[4096];
    std::size_t n;
    while ((n = fread(b, 1, sizeof b, f)) > 0) salida.append(b, n);
    EXPECT_EQ(pclose(f), 0);
    EXPECT_NE(salida.find("\"llave|\" + sid"), std::string::npos);
}
