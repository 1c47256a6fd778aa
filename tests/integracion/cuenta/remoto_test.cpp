// The control-service client against the real service in test mode on loopback, and against a
// server that answers what the real one never would.
#include "cuenta/mensajes.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"

#include "comun/proceso.h"
#include "soporte/control_hijo.h"
#include "soporte/soporte.h"

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <regex>
#include <thread>

#include <sys/stat.h>

namespace tt {
namespace {

namespace asio = boost::asio;
using prueba::ControlHijo;
using prueba::esperar;

void pasar() { esperar([] { return false; }, 0.3); }

// Waits for a completion of the client: what it handed back.
template <class T>
std::optional<T> esperarValor(std::optional<T>& v, double s = 25) {
    esperar([&] { return v.has_value(); }, s);
    return v;
}

// Answers every connection with the same status and body (`relleno` bytes of filler after it),
// on its own thread, joined on destruction.
class Enlatado {
public:
    Enlatado(int estado, std::string cuerpo, std::size_t relleno = 0)
        : aceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        hilo_ = std::thread([this, estado, cuerpo, relleno] {
            while (!parar_) {
                asio::ip::tcp::socket s(io_);
                boost::system::error_code ec;
                aceptor_.accept(s, ec);
                if (ec || parar_) break;
                asio::streambuf b;
                asio::read_until(s, b, "\r\n\r\n", ec);
                const std::string r = "HTTP/1.1 " + std::to_string(estado) + " X\r\nContent-Type: application/json\r\n" +
                                      "Content-Length: " + std::to_string(cuerpo.size() + relleno) +
                                      "\r\nConnection: close\r\n\r\n" + cuerpo;
                asio::write(s, asio::buffer(r), ec);
                const std::string trozo(64 * 1024, ' ');
                for (std::size_t hecho = 0; !ec && hecho < relleno; hecho += trozo.size())
                    asio::write(s, asio::buffer(trozo), ec);
                s.close(ec);
            }
        });
    }
    ~Enlatado() {
        parar_ = true;
        boost::system::error_code ec;
        asio::ip::tcp::socket s(io_);
        s.connect(aceptor_.local_endpoint(), ec);  // wakes the accept
        hilo_.join();
    }
    std::string sitio() const { return "127.0.0.1:" + std::to_string(aceptor_.local_endpoint().port()); }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor aceptor_;
    std::atomic<bool> parar_{false};
    std::thread hilo_;
};

struct Resultado {
    std::optional<std::optional<std::string>> error;
    Remoto::Hecho hecho() {
        return [this](std::optional<std::string> e) { error = e; };
    }
    std::optional<std::string> esperarError() { return esperarValor(error).value_or(std::string("sin respuesta")); }
};

TEST(Remoto, cuentaConCodigoClaveSaldoPermisoYSalida) {
    prueba::CarpetaTemporal d;
    ControlHijo control(d / "servicio", "secreto-de-prueba-1234567890", {"--prueba", "--saldo-inicial", "3599"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    const auto archivo = d / "remoto.json";
    Remoto r(archivo, control.sitio());
    EXPECT_FALSE(r.cuenta());

    Resultado alta;
    r.registrar("ana@prueba.test", "Prueba#123", alta.hecho());
    ASSERT_EQ(alta.esperarError(), std::nullopt);
    // Test mode: the code comes with the answer, for the window to show; never in the log.
    const std::string codigo = r.codigoDePrueba();
    ASSERT_EQ(codigo.size(), 6u);
    EXPECT_EQ(prueba::leer(carpetaLog() / "app.log").find(codigo), std::string::npos);
    Resultado verificado;
    r.verificar("ana@prueba.test", codigo, verificado.hecho());
    ASSERT_EQ(verificado.esperarError(), std::nullopt);
    ASSERT_TRUE(r.cuenta());
    EXPECT_EQ(r.cuenta()->correo, "ana@prueba.test");
    struct stat st {};
    ASSERT_EQ(stat(archivo.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(esperar([&] { return r.conectado(); }, 10));
    // The token never reaches the log.
    EXPECT_EQ(prueba::leer(carpetaLog() / "app.log").find(r.cuenta()->ficha), std::string::npos);

    std::optional<std::pair<std::optional<long long>, std::string>> saldo;
    r.pedirSaldo([&](std::optional<long long> s, std::string servidor) { saldo = {s, servidor}; });
    ASSERT_TRUE(esperarValor(saldo));
    EXPECT_EQ(saldo->first, 3599);
    auto t = textoSaldo(saldo->first, false, false);
    EXPECT_EQ(t.texto, "Te quedan 59 min de transmisión");
    EXPECT_EQ(t.color, TextoSaldo::Color::secundario);

    // Signing in again by a mailed code, then by password (a wrong one first).
    Resultado pedido;
    r.pedirCodigo("ana@prueba.test", "entrar", pedido.hecho());
    ASSERT_EQ(pedido.esperarError(), std::nullopt);
    Resultado porCodigo;
    r.entrar("ana@prueba.test", r.codigoDePrueba(), porCodigo.hecho());
    EXPECT_EQ(porCodigo.esperarError(), std::nullopt);
    Resultado malaClave;
    r.entrarConClave("ana@prueba.test", "Otra#9999", malaClave.hecho());
    EXPECT_EQ(malaClave.esperarError(), "Correo o contraseña incorrectos.");
    Resultado conClave;
    r.entrarConClave("ana@prueba.test", "Prueba#123", conClave.hecho());
    EXPECT_EQ(conClave.esperarError(), std::nullopt);

    std::optional<std::pair<std::optional<Pase>, std::optional<std::string>>> pase;
    r.pedirPase("rtmp://kick.test/app/clave", "Mi canal", true, [&](auto p, auto e) { pase = {p, e}; });
    ASSERT_TRUE(esperarValor(pase));
    ASSERT_TRUE(pase->first) << pase->second.value_or("");
    EXPECT_EQ(pase->first->segundos, 3599);
    EXPECT_FALSE(pase->first->sid.empty());
    EXPECT_FALSE(pase->first->pase.empty());

    r.cerrarSesion();
    EXPECT_FALSE(r.cuenta());
    EXPECT_FALSE(std::filesystem::exists(archivo));
    EXPECT_FALSE(r.conectado());
    // Signed out: no request at all, the answer comes at once.
    pase.reset();
    r.pedirPase("rtmp://kick.test/app/clave", "Mi canal", false, [&](auto p, auto e) { pase = {p, e}; });
    ASSERT_TRUE(pase);
    EXPECT_EQ(pase->second, "Inicia sesión para transmitir.");
    saldo.reset();
    r.pedirSaldo([&](std::optional<long long> s, std::string servidor) { saldo = {s, servidor}; });
    ASSERT_TRUE(saldo);
    EXPECT_EQ(saldo->first, std::nullopt);
}

TEST(Remoto, respuestasQueElServicioNoDaria) {
    prueba::CarpetaTemporal d;
    auto pedirA = [&](const std::string& sitio, const std::string& ruta) {
        Remoto r(d / "remoto.json", sitio);
        std::optional<std::optional<std::string>> error;
        r.pedir(ruta, Json{{"x", 1}}, [&](auto, auto e) { error = e; });
        return esperarValor(error, 30).value_or(std::string("sin respuesta"));
    };
    Enlatado conError(500, R"({"error":"El servicio tuvo un problema."})");
    EXPECT_EQ(pedirA(conError.sitio(), "/saldo"), "El servicio tuvo un problema.");
    Enlatado html(500, "<html><body>Bad gateway</body></html>");
    EXPECT_EQ(pedirA(html.sitio(), "/saldo"), kSinConexion);
    // 50 MB: cut long before it is all read.
    Enlatado enorme(200, "{\"a\":\"", 50u << 20);
    QElapsedTimer reloj;
    reloj.start();
    EXPECT_EQ(pedirA(enorme.sitio(), "/saldo"), kSinConexion);
    EXPECT_EQ(pedirA("127.0.0.1:abc def", "/saldo"), "Dirección inválida.");

    // A sign-in answer without "correo" keeps the typed address; one without "ficha" is refused.
    {
        Enlatado sinCorreo(200, R"({"sala":"s1","ficha":"f1"})");
        Remoto r(d / "remoto.json", sinCorreo.sitio());
        Resultado v;
        r.verificar("tecleado@prueba.test", "123456", v.hecho());
        EXPECT_EQ(v.esperarError(), std::nullopt);
        ASSERT_TRUE(r.cuenta());
        EXPECT_EQ(r.cuenta()->correo, "tecleado@prueba.test");
        Enlatado sinFicha(200, R"({"sala":"s1"})");
        Remoto otro(d / "otro.json", sinFicha.sitio());
        Resultado e;
        otro.entrar("x@prueba.test", "123456", e.hecho());
        EXPECT_EQ(e.esperarError(), "No se pudo entrar.");
        // A permission without "segundos" has none; one without its strings is an error.
        Enlatado paseSinSegundos(200, R"({"entrada":"h:1","sid":"s","llave":"l","pase":"p"})");
        Remoto conPase(d / "remoto.json", paseSinSegundos.sitio());
        std::optional<std::pair<std::optional<Pase>, std::optional<std::string>>> pase;
        conPase.pedirPase("rtmp://x/y", "c", false, [&](auto p, auto e) { pase = {p, e}; });
        ASSERT_TRUE(esperarValor(pase));
        ASSERT_TRUE(pase->first);
        EXPECT_EQ(pase->first->segundos, 0);
        Remoto sinPase(d / "remoto.json", sinFicha.sitio());
        pase.reset();
        sinPase.pedirPase("rtmp://x/y", "c", false, [&](auto p, auto e) { pase = {p, e}; });
        ASSERT_TRUE(esperarValor(pase));
        EXPECT_EQ(pase->second, "No se pudo pedir el permiso de transmisión.");
    }
}

// A phone token of the account (what the phone page gets by signing in).
std::string fichaDeCelular(std::uint16_t puerto, const std::string& correo) {
    auto c = prueba::post(puerto, "/codigo", {{"correo", correo}, {"modo", "entrar"}});
    auto e = prueba::post(puerto, "/entrar", {{"correo", correo}, {"codigo", c.cuerpo.value("codigo", "")}, {"tipo", "celular"}});
    return e.cuerpo.value("ficha", "");
}

TEST(Remoto, canalEnVivoOrdenesCaidaYRechazo) {
    prueba::CarpetaTemporal d;
    ControlHijo control(d / "servicio", "secreto-de-prueba-1234567890", {"--prueba"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    auto cuenta = prueba::crearCuenta(control.puerto(), "luz@prueba.test");
    ASSERT_TRUE(cuenta);
    const auto archivo = d / "remoto.json";
    guardarCuenta(archivo, Cuenta{cuenta->correo, cuenta->sala, cuenta->ficha});
    Remoto r(archivo, control.sitio());
    std::vector<std::string> ordenes;
    int pedidosDeEstado = 0, salidas = 0;
    r.alElegir = [&](const std::string& id) { ordenes.push_back("elegir " + id); };
    r.alCamara = [&](const std::string& id) { ordenes.push_back("camara " + id); };
    r.alOrden = [&](bool si) { ordenes.push_back(si ? "transmitir" : "detener"); };
    r.alPedirEstado = [&] { ++pedidosDeEstado; };
    r.alSalir = [&] { ++salidas; };
    ASSERT_TRUE(esperar([&] { return r.conectado(); }, 10));

    const std::string ficha = fichaDeCelular(control.puerto(), cuenta->correo);
    ASSERT_FALSE(ficha.empty());
    prueba::ClienteWs tel(control.puerto(), cuenta->sala);
    ASSERT_TRUE(tel.abierto());
    tel.mandar(Json{{"t", "entrar"}, {"ficha", ficha}});
    ASSERT_TRUE(tel.esperar("mac"));
    EXPECT_TRUE(esperar([&] { return r.celulares() == 1 && r.vinculados() == 1 && pedidosDeEstado == 1; }, 10));
    EXPECT_EQ(textoCelular(r.cuenta()->correo, r.conectado(), r.vinculados(), r.celulares()).texto,
              "luz@prueba.test\n1 celular con sesión · 1 conectado");
    for (Json m : {Json{{"t", "elegir"}, {"id", "pausa"}}, Json{{"t", "camara"}, {"id", "cam2"}},
                   Json{{"t", "transmitir"}}, Json{{"t", "detener"}}})
        tel.mandar(m);
    EXPECT_TRUE(esperar([&] { return ordenes.size() == 4; }, 10));
    EXPECT_EQ(ordenes, (std::vector<std::string>{"elegir pausa", "camara cam2", "transmitir", "detener"}));
    r.enviar(Json{{"t", "estado"}, {"marca", "uno"}});
    pasar();  // the socket writes from the event loop; the phone's read below blocks it
    auto estado = tel.esperar("estado");
    ASSERT_TRUE(estado);
    EXPECT_EQ(estado->value("marca", ""), "uno");
    const std::string enlace = r.enlaceNuevo();
    EXPECT_TRUE(std::regex_match(enlace, std::regex("http://" + control.sitio() + "/#v=" + cuenta->sala + "\\.[0-9a-f]{48}")))
        << enlace;

    // The service cuts a socket that sends garbage: the client is back after its fixed 4 s, and
    // what it sent meanwhile was dropped, not queued.
    r.enviar(Json{{"sin", "tipo"}});
    ASSERT_TRUE(esperar([&] { return !r.conectado(); }, 5));
    QElapsedTimer reloj;
    reloj.start();
    EXPECT_EQ(r.celulares(), 0);
    r.enviar(Json{{"t", "estado"}, {"marca", "perdido"}});
    ASSERT_TRUE(esperar([&] { return r.conectado(); }, 30));
    EXPECT_GE(reloj.elapsed(), 3500);  // not before its 4 s
    r.enviar(Json{{"t", "estado"}, {"marca", "dos"}});
    pasar();
    auto otro = tel.esperar("estado");
    ASSERT_TRUE(otro);
    EXPECT_EQ(otro->value("marca", ""), "dos");

    // The token is revoked elsewhere: the service closes the socket, the reopening is refused
    // with 403, and the client signs out for good.
    auto fuera = prueba::post(control.puerto(), "/salir", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}});
    ASSERT_EQ(fuera.estado, 200);
    EXPECT_TRUE(esperar([&] { return salidas == 1; }, 12));
    EXPECT_FALSE(r.cuenta());
    EXPECT_FALSE(std::filesystem::exists(archivo));
    esperar([] { return false; }, 5);
    EXPECT_FALSE(r.conectado());
    EXPECT_EQ(salidas, 1);
}

TEST(Remoto, fichaRechazadaAlAbrirCierraLaSesion) {
    prueba::CarpetaTemporal d;
    ControlHijo control(d / "servicio", "secreto-de-prueba-1234567890", {"--prueba"});
    ASSERT_NE(control.puerto(), 0);
    auto cuenta = prueba::crearCuenta(control.puerto(), "sol@prueba.test");
    ASSERT_TRUE(cuenta);
    const auto archivo = d / "remoto.json";
    guardarCuenta(archivo, Cuenta{cuenta->correo, cuenta->sala, std::string(64, 'f')});
    Remoto r(archivo, control.sitio());
    int salidas = 0;
    r.alSalir = [&] { ++salidas; };
    EXPECT_TRUE(esperar([&] { return salidas == 1; }, 10));
    EXPECT_FALSE(r.cuenta());
    EXPECT_FALSE(std::filesystem::exists(archivo));
}

}  // namespace
}  // namespace tt
