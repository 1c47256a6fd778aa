// Two control instances on one PostgreSQL base behind nginx (rooms hashed on their address, the
// rest round robin), two relays: what a room needs crosses instances, and a room whose instance
// dies comes back on the other one.
#include "soporte/control_hijo.h"
#include "soporte/relay_hijo.h"
#include "soporte/servidor_rtmp.h"
#include "soporte/soporte.h"

#include "comun/cripto.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <future>
#include <unistd.h>

using namespace tt;
using namespace tt::prueba;
namespace fs = std::filesystem;

namespace {

const std::string secreto = "secreto-de-todos";

// nginx as the front of the instances, on loopback; X-Instancia says which one took a socket.
struct Frente {
    CarpetaTemporal carpeta;
    int puerto = puertoLibre();
    pid_t pid = -1;
    Frente(int a, int b) {
        fs::create_directories(carpeta / "logs");
        const std::string servidores = "server 127.0.0.1:" + std::to_string(a) + " max_fails=1 fail_timeout=60s; " +
                                       "server 127.0.0.1:" + std::to_string(b) + " max_fails=1 fail_timeout=60s;";
        escribir(carpeta / "nginx.conf",
                 "pid " + (carpeta / "nginx.pid").string() + ";\nerror_log " + (carpeta / "logs/error.log").string() +
                     ";\nevents {}\nhttp { access_log off;\n"
                     "map $http_upgrade $conexion { default upgrade; '' close; }\n"
                     "upstream salas { hash $arg_sala consistent; " + servidores + " }\n"
                     "upstream control { " + servidores + " }\n"
                     "server { listen 127.0.0.1:" + std::to_string(puerto) + ";\n"
                     "  proxy_connect_timeout 2s; proxy_set_header X-Real-IP $remote_addr;\n"
                     "  location = /ws { proxy_pass http://salas; proxy_http_version 1.1;\n"
                     "    proxy_set_header Upgrade $http_upgrade; proxy_set_header Connection $conexion;\n"
                     "    proxy_read_timeout 1h; add_header X-Instancia $upstream_addr always; }\n"
                     "  location / { proxy_pass http://control; } } }\n");
        pid = arrancarNginx(carpeta.ruta());
        escuchaEn(puerto);
    }
    ~Frente() { parar(); }
    int parar() { return pararNginx(pid); }
};

std::string pedirEntrada(int puerto, const CuentaPrueba& c) {
    auto r = post(puerto, "/pase", {{"sala", c.sala}, {"ficha", c.ficha}, {"seco", true}});
    EXPECT_EQ(r.estado, 200) << r.crudo;
    return r.cuerpo.value("entrada", "");
}

}  // namespace

TEST(Instancias, cuentasSalasSaldoYRelaysEntreDosInstancias) {
    usarAlmacen(Almacen::postgres);
    CarpetaTemporal d;
    const int pa = puertoLibre(), pb = puertoLibre();
    RelayHijo r1({"", secreto}, {"--control", "127.0.0.1:" + std::to_string(pa)});
    RelayHijo r2({"", secreto}, {"--control", "127.0.0.1:" + std::to_string(pb)});
    const std::vector<std::string> comunes{"--prueba", "--relays", r1.entrada() + "," + r2.entrada()};
    auto opciones = [&](int p) {
        auto o = comunes;
        o.insert(o.end(), {"--escuchar", "127.0.0.1:" + std::to_string(p), "--proxies", "127.0.0.1"});
        return o;
    };
    // The same data folder names the same base: both instances share it.
    ControlHijo a(d / "datos", secreto, opciones(pa)), b(d / "datos", secreto, opciones(pb));
    ASSERT_NE(a.puerto(), 0) << a.registro();
    ASSERT_NE(b.puerto(), 0) << b.registro();
    Frente frente(pa, pb);

    // An account made on A signs in on B; the phone's token comes from A.
    auto cuenta = crearCuenta(pa, "varias@ejemplo.com");
    ASSERT_TRUE(cuenta);
    auto mac = post(pb, "/clave", {{"correo", cuenta->correo}, {"clave", "Prueba#123"}});
    ASSERT_EQ(mac.estado, 200) << mac.crudo;
    auto cel = post(pa, "/clave", {{"correo", cuenta->correo}, {"clave", "Prueba#123"}, {"tipo", "celular"}});
    ASSERT_EQ(cel.estado, 200) << cel.crudo;
    const std::string sala = mac.cuerpo["sala"], fichaMac = mac.cuerpo["ficha"], fichaCel = cel.cuerpo["ficha"];

    // Both sockets of the room through the front: the hash puts them on one instance.
    ClienteWs escritorio(frente.puerto, sala, fichaMac);
    ASSERT_TRUE(escritorio.abierto());
    ClienteWs celular(frente.puerto, sala);
    ASSERT_TRUE(celular.abierto());
    const std::string donde = escritorio.cabecera("X-Instancia");
    EXPECT_EQ(celular.cabecera("X-Instancia"), donde);
    ASSERT_TRUE(donde == a.sitio() || donde == b.sitio()) << donde;
    ControlHijo& suya = donde == a.sitio() ? a : b;
    ControlHijo& otra = donde == a.sitio() ? b : a;
    celular.mandar(Json{{"t", "entrar"}, {"ficha", fichaCel}});
    ASSERT_TRUE(escritorio.esperar("hola"));
    escritorio.mandar(Json{{"t", "vista"}, {"imagen", std::string(40000, 'v')}});
    auto vista = celular.esperar("vista");
    ASSERT_TRUE(vista);
    EXPECT_EQ((*vista)["imagen"].get<std::string>().size(), 40000u);
    celular.mandar(Json{{"t", "elegir"}, {"id", "pausa"}});
    EXPECT_TRUE(escritorio.esperar("elegir"));

    // The relay's usage report reaches the instance that does not hold the room: the room hears
    // the balance all the same.
    const std::string sid = [&] {
        auto r = post(otra.puerto(), "/pase", {{"sala", sala}, {"ficha", fichaMac}, {"seco", true}});
        return r.cuerpo.value("sid", "");
    }();
    ASSERT_FALSE(sid.empty());
    auto informar = [&](const ControlHijo& c, int total) {
        const std::string uso = "{\"sid\":\"" + sid + "\",\"segundos\":" + std::to_string(total) + "}";
        return pedirHttp(c.puerto(), "POST", "/uso", uso, {{"X-Firma", hmacHex(secreto, "uso|" + uso)}}).estado;
    };
    EXPECT_EQ(informar(otra, 25), 200);
    auto saldo = escritorio.esperar("saldo");
    ASSERT_TRUE(saldo);
    EXPECT_EQ((*saldo)["segundos"], 36000 - 25);
    // The same report retried to both instances at once counts once.
    for (int total = 30; total <= 60; total += 5) {
        auto x = std::async(std::launch::async, [&] { return informar(a, total); });
        EXPECT_EQ(informar(b, total), 200);
        EXPECT_EQ(x.get(), 200);
    }
    EXPECT_EQ(post(pa, "/saldo", {{"sala", sala}, {"ficha", fichaMac}}).cuerpo["segundos"], 36000 - 60);
    // A sign-out on the other instance closes the phone's socket here.
    EXPECT_EQ(post(otra.puerto(), "/salir", {{"sala", sala}, {"ficha", fichaCel}}).estado, 200);
    EXPECT_TRUE(celular.esperar("fuera"));

    // Once both relays have said how loaded they are, two permissions asked at once, one on each
    // instance, name different relays.
    ASSERT_TRUE(esperar([&] {
        const auto t = a.registro() + b.registro();
        return t.find("relay " + r1.entrada() + " informa") != std::string::npos &&
               t.find("relay " + r2.entrada() + " informa") != std::string::npos;
    })) << a.registro() << b.registro();
    auto c = *crearCuenta(pb, "otra@ejemplo.com");
    auto x = std::async(std::launch::async, [&] { return pedirEntrada(pa, *cuenta); });
    auto y = std::async(std::launch::async, [&] { return pedirEntrada(pb, c); });
    const std::string ex = x.get(), ey = y.get();
    EXPECT_NE(ex, ey);
    EXPECT_TRUE(ex == r1.entrada() || ex == r2.entrada()) << ex;
    EXPECT_TRUE(ey == r1.entrada() || ey == r2.entrada()) << ey;

    // The room's instance dies: its sockets drop, and through the front they land on the other.
    kill(suya.pid(), SIGKILL);
    EXPECT_TRUE(escritorio.cerradoPorElServicio(10));
    std::unique_ptr<ClienteWs> otraVez;
    ASSERT_TRUE(esperar([&] {
        otraVez = std::make_unique<ClienteWs>(frente.puerto, sala, fichaMac);
        return otraVez->abierto();
    }, 10));
    // nginx names every instance it tried: the dead one first, then the one that took it.
    const std::string probadas = otraVez->cabecera("X-Instancia");
    EXPECT_EQ(probadas.substr(probadas.rfind(' ') + 1), otra.sitio()) << probadas;
    EXPECT_TRUE(otraVez->esperar("celulares"));
    EXPECT_EQ(suya.detener(), -1);  // killed, as meant
    EXPECT_EQ(otra.detener(), 0) << otra.registro();
    EXPECT_EQ(frente.parar(), 0);
    usarAlmacen(Almacen::sqlite);
}

// The base goes away and comes back: requests meanwhile get a clear error, nothing dies, and
// afterwards the service answers again and its notices reach the rooms.
TEST(Instancias, laBaseSeVaYVuelve) {
    CarpetaTemporal d;
    const std::string dir = "/tmp/tremolante-pg-" + std::to_string(getpid());
    auto pg = [&](const std::string& que) {
        return std::system((std::string(TM_FUENTE) + "/tests/soporte/postgres.sh " + que + " " + dir).c_str());
    };
    struct Quitar {  // whatever stops the test, the cluster goes
        std::function<int(const std::string&)> pg;
        ~Quitar() { pg("parar"); }
    } quitar{pg};
    ASSERT_EQ(pg("arrancar"), 0);
    ControlHijo control(d / "datos", secreto, {"--prueba", "--base", "postgresql://postgres@/postgres?host=" + dir});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    auto cuenta = crearCuenta(control.puerto(), "caida@ejemplo.com");
    ASSERT_TRUE(cuenta);
    auto pase = post(control.puerto(), "/pase", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}, {"seco", true}});
    ASSERT_EQ(pase.estado, 200);
    ClienteWs mac(control.puerto(), cuenta->sala, cuenta->ficha);
    ASSERT_TRUE(mac.abierto());
    auto saldo = [&] { return post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}}); };

    ASSERT_EQ(pg("detener"), 0);
    auto caida = saldo();
    EXPECT_EQ(caida.estado, 500);
    EXPECT_EQ(caida.cuerpo["error"], "El servicio tuvo un problema. Inténtalo de nuevo en un momento.");
    // Sockets that sign in meanwhile are told to come back later, never signed out.
    ClienteWs otraApp(control.puerto(), cuenta->sala, cuenta->ficha);
    EXPECT_EQ(otraApp.estadoRechazo(), 503);
    ClienteWs celular(control.puerto(), cuenta->sala);
    ASSERT_TRUE(celular.abierto());
    celular.mandar(Json{{"t", "entrar"}, {"ficha", cuenta->ficha}});
    EXPECT_TRUE(celular.cerradoPorElServicio());
    EXPECT_TRUE(control.vivo());
    ASSERT_EQ(pg("reanudar"), 0);
    EXPECT_TRUE(esperar([&] { return saldo().estado == 200; }));
    ASSERT_TRUE(esperar([&] { return control.registro().find("avisos de la base volvió") != std::string::npos; }))
        << control.registro();
    const std::string uso = "{\"sid\":\"" + pase.cuerpo["sid"].get<std::string>() + "\",\"segundos\":7}";
    EXPECT_EQ(pedirHttp(control.puerto(), "POST", "/uso", uso, {{"X-Firma", hmacHex(secreto, "uso|" + uso)}}).estado, 200);
    auto s = mac.esperar("saldo");
    ASSERT_TRUE(s);
    EXPECT_EQ((*s)["segundos"], 36000 - 7);
    EXPECT_EQ(control.detener(), 0) << control.registro();
    EXPECT_EQ(pg("parar"), 0);
}
