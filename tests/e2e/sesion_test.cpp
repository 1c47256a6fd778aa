// A transmission under an account, as a new user would run it: the control service in test mode
// grants a real permission, the relay checks it and publishes to nginx's RTMP module, a phone
// watches in the account's room. Then the record of the open transmission: closed by the relay
// after a stop, resumed or ended after a crash, kept while the relay is down, and quitting on air.
#include "e2e/montaje.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace tt::prueba;
using tt::Json;

namespace {

std::optional<Json> leerSesion(const Corrida& c) {
    auto j = Json::parse(leer(c.datos / "sesion.json"), nullptr, false);
    return j.is_object() ? std::optional(j) : std::nullopt;
}

template <class F>
bool hasta(F cond, double segundos) {
    for (int i = 0; i < segundos * 10; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return cond();
}

long segundosDe(const std::string& hms) {  // "H:MM:SS"
    int h = 0, m = 0, s = 0;
    return std::sscanf(hms.c_str(), "%d:%d:%d", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
}

}  // namespace

TEST(Sesion, conCuentaSaleAlAireYElRelayConfirmaElCierre) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    Montaje m;
    Corrida c;
    m.preparar(c);
    m.arrancar(c, {"TM_AUTO=si"});
    auto tel = m.celular();
    ASSERT_TRUE(tel->abierto());

    // On air under a permission: the record, private, names the permission's sid.
    ASSERT_TRUE(hasta([&] { return leerSesion(c).has_value(); }, 40)) << c.bitacora();
    const Json s = *leerSesion(c);
    const std::string sid = s["sid"];
    struct stat st {};
    ASSERT_EQ(stat((c.datos / "sesion.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(s["canal"], "Prueba");
    EXPECT_EQ(s["sala"], m.cuenta->sala);
    EXPECT_FALSE(s.contains("detenida"));
    ASSERT_TRUE(hasta([&] { return m.relay.registro().find("se publica en") != std::string::npos; }, 30))
        << m.relay.registro() << c.bitacora();

    // What a viewer of the channel gets, the phone's view, the balance going down.
    const fs::path visto = c.tmp / "lector.flv";
    // A viewer joining on air waits for the next key frame (one every 10 s).
    std::system(("timeout 40 ffmpeg -v error -rw_timeout 15000000 -analyzeduration 15000000 -i " +
                 m.nginx.flujo("sk-prueba") + " -t 4 -c copy -f flv " + visto.string() + " 2>/dev/null")
                    .c_str());
    const std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + visto.string());
    EXPECT_NE(flujos.find("video"), std::string::npos) << flujos;
    EXPECT_NE(flujos.find("audio"), std::string::npos) << flujos;
    auto estado = m.estado(*tel, true, 20);
    ASSERT_TRUE(estado) << c.bitacora();
    auto vista = tel->esperar("vista", 10);
    ASSERT_TRUE(vista);
    escribir(c.tmp / "vista.b64", (*vista)["jpg"].get<std::string>());
    EXPECT_EQ(std::system(("base64 -d " + (c.tmp / "vista.b64").string() + " > " + (c.tmp / "vista.jpg").string()).c_str()), 0);
    EXPECT_NE(salidaDe("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + (c.tmp / "vista.jpg").string())
                  .find("mjpeg"),
              std::string::npos);
    EXPECT_TRUE(hasta([&] { return m.saldo() < 7200; }, 20)) << m.saldo();

    // The phone stops it: the record is marked stopped, then the relay confirms the close.
    tel->mandar(Json{{"t", "detener"}});
    ASSERT_TRUE(hasta([&] { auto j = leerSesion(c); return j && j->value("detenida", false); }, 10)) << c.bitacora();
    EXPECT_TRUE(hasta([&] { return !fs::exists(c.datos / "sesion.json"); }, 30)) << c.bitacora();
    EXPECT_NE(c.bitacora().find("el servidor confirmó el cierre de la transmisión"), std::string::npos);
    EXPECT_NE(m.relay.registro().find("cerrada (pedido del cliente)"), std::string::npos) << m.relay.registro();
    const long long tras = m.saldo();
    // Three of the relay's report periods without a change.
    EXPECT_FALSE(hasta([&] { return m.saldo() != tras; }, 3)) << m.saldo();

    // On air again, then the desktop asks the application to end: "TM4" goes out before it does.
    tel->mandar(Json{{"t", "transmitir"}});
    ASSERT_TRUE(hasta([&] { auto j = leerSesion(c); return j && (*j)["sid"] != sid; }, 30)) << c.bitacora();
    ASSERT_TRUE(m.estado(*tel, true, 20));
    auto publicaciones = [&] {
        const std::string r = m.relay.registro();
        int n = 0;
        for (auto p = r.find("se publica en"); p != std::string::npos; p = r.find("se publica en", p + 1)) ++n;
        return n;
    };
    ASSERT_TRUE(hasta([&] { return publicaciones() >= 2; }, 30)) << m.relay.registro();
    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(c.esperar(15), 0) << c.bitacora();
    EXPECT_NE(c.bitacora().find("al salir: el servidor confirmó el cierre"), std::string::npos) << c.bitacora();
    EXPECT_FALSE(fs::exists(c.datos / "sesion.json"));
    m.cerrar();
    // No credential in any log.
    const std::string todo = c.bitacora() + m.relay.registro() + m.control.registro();
    EXPECT_EQ(todo.find(s["llave"].get<std::string>()), std::string::npos);
    EXPECT_EQ(todo.find(s["pase"].get<std::string>()), std::string::npos);
}

TEST(Sesion, trasMatarLaAppSeRetomaOSeTermina) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    Montaje m;
    Corrida c;
    m.preparar(c);
    m.arrancar(c, {"TM_AUTO=si"});
    ASSERT_TRUE(hasta([&] { return leerSesion(c).has_value(); }, 40)) << c.bitacora();
    const Json s = *leerSesion(c);
    ASSERT_TRUE(hasta([&] { return m.relay.registro().find("se publica en") != std::string::npos; }, 30))
        << m.relay.registro();
    // Eight seconds on air, as the account was charged, before the crash.
    ASSERT_TRUE(hasta([&] { return m.saldo() <= 7200 - 8; }, 60)) << m.relay.registro();
    kill(c.pid, SIGKILL);
    c.esperar(5);

    // Resumed on the same sid, its time on air counted from the first start.
    m.arrancar(c, {"TM_RETOMAR=seguir"});
    auto tel = m.celular();
    EXPECT_TRUE(c.esperarEnBitacora("se retoma la transmisión abierta", 30)) << c.bitacora();
    auto estado = m.estado(*tel, true, 20);
    ASSERT_TRUE(estado) << c.bitacora();
    EXPECT_GE(segundosDe((*estado)["tiempo"]), 8) << *estado;
    EXPECT_TRUE(hasta([&] { return m.relay.registro().find("sigue desde otra instancia") != std::string::npos; }, 20))
        << m.relay.registro();
    ASSERT_TRUE(leerSesion(c));
    EXPECT_EQ((*leerSesion(c))["sid"], s["sid"]);
    EXPECT_EQ((*leerSesion(c))["inicio"], s["inicio"]);
    // The resumed transmission is charged too.
    const long long retomada = m.saldo();
    EXPECT_TRUE(hasta([&] { return m.saldo() < retomada; }, 20));
    kill(c.pid, SIGKILL);
    c.esperar(5);

    // Ended without asking: "TM4", the record goes and the balance stops going down.
    m.arrancar(c, {"TM_RETOMAR=terminar"});
    EXPECT_TRUE(c.esperarEnBitacora("transmisión abierta: terminada", 30)) << c.bitacora();
    EXPECT_FALSE(fs::exists(c.datos / "sesion.json"));
    EXPECT_NE(m.relay.registro().find("cerrada (pedido del cliente)"), std::string::npos) << m.relay.registro();
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the close's last report
    const long long saldo = m.saldo();
    EXPECT_LT(saldo, 7200);
    EXPECT_FALSE(hasta([&] { return m.saldo() != saldo; }, 3)) << m.saldo();  // three report periods
    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(c.esperar(15), 0);
    m.cerrar();
}

// Without the relay the record stays and the check is tried again; a record silent for more than
// 330 s is forgotten without asking anybody.
TEST(Sesion, registroConElRelayCaidoOViejo) {
    CarpetaTemporal d;
    ControlHijo control(d / "servicio", secreto, {"--prueba"});
    auto cuenta = crearCuenta(control.puerto(), "caido@prueba.test");
    ASSERT_TRUE(cuenta);
    Corrida c;
    escribir(c.datos / "remoto.json", Json{{"correo", cuenta->correo}, {"sala", cuenta->sala}, {"ficha", cuenta->ficha}}.dump());
    const Json registro{{"entrada", "127.0.0.1:" + std::to_string(puertoLibre())},
                        {"sid", "s-caido"},
                        {"llave", "k"},
                        {"pase", "p"},
                        {"segundos", 3600},
                        {"canal", "Prueba"},
                        {"inicio", 1.7e9},
                        {"sala", cuenta->sala}};
    fs::permissions(c.datos / "remoto.json", fs::perms::owner_read | fs::perms::owner_write);
    escribir(c.datos / "sesion.json", registro.dump());
    c.arrancar({"TM_PASE=1", "TM_CONTROL=" + control.sitio(), "TM_SALIR=14"});
    EXPECT_EQ(c.esperar(30), 0);
    const std::string log = c.bitacora();
    std::size_t intentos = 0;
    for (auto p = log.find("servidor: TM3 → sin respuesta"); p != std::string::npos;
         p = log.find("servidor: TM3 → sin respuesta", p + 1))
        ++intentos;
    EXPECT_GE(intentos, 2u) << log;  // at 2.5 s, then every 5 s
    EXPECT_TRUE(fs::exists(c.datos / "sesion.json"));

    // The stream button with that record: one check, no retries, and the new start goes ahead; the
    // old transmission is still told to close.
    escribir(carpetaDeCuenta(c, *cuenta) / "canales.json", R"([{"id": "c1", "nombre": "Prueba", "servidor": "rtmp://127.0.0.1:1/live", "clave": "k"}])");
    const std::size_t antes = c.bitacora().size();
    c.arrancar({"TM_PASE=1", "TM_CONTROL=" + control.sitio(), "TM_AUTO=si", "TM_SALIR=16"});
    EXPECT_EQ(c.esperar(40), 0);
    ASSERT_TRUE(fs::exists(c.datos / "sesion.json"));
    EXPECT_NE(leerSesion(c)->value("sid", ""), "s-caido");
    EXPECT_NE(c.bitacora().find("servidor: TM4 → sin respuesta", antes), std::string::npos) << c.bitacora();

    escribir(c.datos / "sesion.json", registro.dump());
    fs::last_write_time(c.datos / "sesion.json", fs::file_time_type::clock::now() - std::chrono::seconds(400));
    const std::size_t antesViejo = c.bitacora().size();
    c.arrancar({"TM_PASE=1", "TM_CONTROL=" + control.sitio(), "TM_SALIR=5"});
    EXPECT_EQ(c.esperar(30), 0);
    EXPECT_FALSE(fs::exists(c.datos / "sesion.json"));
    EXPECT_EQ(c.bitacora().find("servidor: TM3", antesViejo), std::string::npos) << c.bitacora();
    EXPECT_EQ(control.detener(), 0);
}
