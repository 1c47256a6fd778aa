// Hostile clients against the real relay stand-in, on loopback, bounded in count and time: what
// an operator must be able to trust when it faces the internet.
#include "relay_proceso.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"
#include "protocolo/protocolo.h"
#include "uplink/reparto.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tt;
using namespace tt::prueba;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace p = tt::protocolo;

namespace {

// Sanitizers' shadow memory, red zones and quarantine make resident memory meaningless.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool conSanitizador = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool conSanitizador = true;
#else
constexpr bool conSanitizador = false;
#endif
#else
constexpr bool conSanitizador = false;
#endif

// A plain blocking loopback client with time-outs, optionally from another 127.0.0.x address.
struct Cliente {
    int fd = -1;
    std::string bufer;

    Cliente(std::uint16_t puerto, const char* origen = nullptr) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        if (origen) {
            inet_pton(AF_INET, origen, &a.sin_addr);
            ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        a.sin_port = htons(puerto);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) cerrar();
    }
    ~Cliente() { cerrar(); }
    Cliente(Cliente&& o) noexcept : fd(o.fd), bufer(std::move(o.bufer)) { o.fd = -1; }
    Cliente(const Cliente&) = delete;

    void cerrar() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    bool mandar(const std::string& s) {
        std::size_t i = 0;
        while (fd >= 0 && i < s.size()) {
            ssize_t n = ::send(fd, s.data() + i, s.size() - i, MSG_NOSIGNAL);
            if (n <= 0) return false;
            i += std::size_t(n);
        }
        return fd >= 0;
    }
    // Reads what is there within `segundos`; false once the peer closed or failed.
    bool recibir(double segundos) {
        pollfd pf{fd, POLLIN, 0};
        if (fd < 0 || ::poll(&pf, 1, int(segundos * 1000)) <= 0) return fd >= 0;
        char b[8192];
        ssize_t n = ::recv(fd, b, sizeof b, 0);
        if (n <= 0) return false;
        bufer.append(b, std::size_t(n));
        return true;
    }
    // One line, or nothing when it did not come (closed, or too slow).
    std::optional<std::string> linea(double segundos = 10) {
        auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
        while (bufer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < hasta)
            if (!recibir(0.2)) break;
        auto fin = bufer.find('\n');
        if (fin == std::string::npos) return std::nullopt;
        std::string l = bufer.substr(0, fin);
        bufer.erase(0, fin + 1);
        return l;
    }
    // The relay closed the connection within `segundos`.
    bool cerradaPorElRelay(double segundos = 10) {
        auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
        while (std::chrono::steady_clock::now() < hasta)
            if (!recibir(0.2)) return true;
        return false;
    }
};

// Greeting, a "TM1" answer with the shared key, the verdict.
std::string entrarTm1(Cliente& c, const std::string& clave, const std::string& sid,
                      const std::optional<std::string>& destino = std::nullopt) {
    auto reto = c.linea();
    if (!reto || reto->rfind("TM1 ", 0) != 0) return "(sin reto)";
    c.mandar(p::respuestaSinPase(clave, reto->substr(4), sid, destino));
    return c.linea().value_or("(sin respuesta)");
}

std::string entrarTm2(Cliente& c, const std::string& secreto, const std::string& sid, const std::string& epoca) {
    auto reto = c.linea();
    if (!reto || reto->rfind("TM1 ", 0) != 0) return "(sin reto)";
    Pase pase = paseSellado("", secreto, sid, 60);
    c.mandar(p::respuestaConPase(pase, reto->substr(4), epoca));
    return c.linea().value_or("(sin respuesta)");
}

long deStatus(pid_t pid, const std::string& campo) {  // kB
    std::string s = leer("/proc/" + std::to_string(pid) + "/status");
    auto i = s.find(campo + ":");
    return i == std::string::npos ? -1 : std::stol(s.substr(i + campo.size() + 1));
}
long rssKb(pid_t pid) { return deStatus(pid, "VmRSS"); }
std::vector<fs::path> entradas(pid_t pid, const std::string& que) {
    std::vector<fs::path> v;
    std::error_code ec;
    const fs::path carpeta = "/proc/" + std::to_string(pid) + "/" + que;
    for (fs::directory_iterator it(carpeta, ec), fin; !ec && it != fin; it.increment(ec)) v.push_back(it->path());
    return v;
}
long cuantos(pid_t pid, const char* que) { return long(entradas(pid, que).size()); }
long hilosLlamados(pid_t pid, const std::string& nombre) {
    long n = 0;
    for (auto& t : entradas(pid, "task")) n += leer(t / "comm") == nombre + "\n";
    return n;
}

// Runs a relay that must refuse to start, with exactly this environment: its exit status (124 if
// it started after all) and what it printed.
int noArranca(const std::string& entorno, const std::string& args, std::string& salida) {
    salida.clear();
    FILE* f = popen(("timeout 20 env -i " + entorno + " " + TM_BIN + "/tremolante-relay --escuchar 127.0.0.1:0 " +
                     args + " 2>&1")
                        .c_str(),
                    "r");
    if (!f) return -1;
    char b[4096];
    std::size_t n;
    while ((n = fread(b, 1, sizeof b, f)) > 0) salida.append(b, n);
    int e = pclose(f);
    return WIFEXITED(e) ? WEXITSTATUS(e) : -1;
}

class RelayHostil : public ::testing::Test {
protected:
    void SetUp() override {
        Proceso pr = proceso();
        pr.entorno = Entorno({{"TM_DATOS", (raizPruebas() / "datos").string()}, {"TM_INTERFACES", "lo"}});
        fijarProceso(pr);
    }
};

}  // namespace

TEST_F(RelayHostil, sinClavesNoHayServicio) {
    std::string salida;
    EXPECT_EQ(noArranca("", "", salida), 2) << salida;
    EXPECT_NE(salida.find("sin claves el relay no arranca"), std::string::npos) << salida;
    EXPECT_EQ(noArranca("TM_RELAY_CLAVE=", "", salida), 2) << salida;  // empty counts as none
    // Never from the command line, where every local user reads it.
    EXPECT_EQ(noArranca("TM_RELAY_SECRETO=s", "--clave k", salida), 2) << salida;
    CarpetaTemporal carpeta;
    const auto archivo = carpeta / "claves";
    escribir(archivo, "# relay\nclave=k-del-archivo\n");
    ::chmod(archivo.c_str(), 0644);
    EXPECT_EQ(noArranca("", "--claves " + archivo.string(), salida), 2) << salida;
    EXPECT_NE(salida.find("0644"), std::string::npos) << salida;
    EXPECT_EQ(salida.find("k-del-archivo"), std::string::npos);
    ::chmod(archivo.c_str(), 0600);
    {
        RelayHijo delArchivo({}, {"--claves", archivo.string()});
        Cliente c(delArchivo.puerto());
        EXPECT_EQ(entrarTm1(c, "k-del-archivo", "sid-archivo"), "OK");
    }

    // With one key only, the other kind of answer is refused, even signed with an empty key.
    for (int vez = 0; vez < 2; ++vez) {
        RelayHijo soloSecreto({"", "s"});
        Cliente a(soloSecreto.puerto());
        EXPECT_EQ(entrarTm1(a, "", "sid-vacio"), "CLAVE");
        RelayHijo soloClave({"k", ""});
        Cliente b(soloClave.puerto());
        EXPECT_EQ(entrarTm2(b, "", "sid-vacio", "epoca0"), "CLAVE");
        Cliente c(soloClave.puerto());
        EXPECT_EQ(entrarTm1(c, "k", "sid-bueno", std::string("rtmp://127.0.0.1:9/a/b")), "OK");
    }
}

TEST_F(RelayHostil, unaSesionPerteneceALaClaveQueLaAbrio) {
    CarpetaTemporal carpeta;
    RelayHijo relay({"k", "s"}, {"--salida", (carpeta / "{sesion}.flv").string()});
    // A transmission opened with a permission, sending.
    Pase pase = paseSellado(relay.entrada(), "s", "sid-con-pase", 60);
    auto r = Reparto::crear("", "", std::nullopt, std::nullopt, pase);
    ASSERT_TRUE(r);
    std::string todo = std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13);
    r->enviar(todo);
    ASSERT_TRUE(esperar([&] { return r->resumen().unidas == 1; }, 10));
    // And one opened with the shared key.
    Cliente tm1(relay.puerto());
    ASSERT_EQ(entrarTm1(tm1, "k", "sid-sin-pase"), "OK");
    tm1.mandar(p::enmarcar(0, "uno"));
    for (int vez = 0; vez < 3; ++vez) {
        // The shared key cannot take the permission's sid, whatever destination it names…
        Cliente intruso(relay.puerto());
        EXPECT_EQ(entrarTm1(intruso, "k", "sid-con-pase", std::string("rtmp://203.0.113.1/x/y")), "CLAVE");
        // …nor a permission's key the shared key's sid; nor may it ask about it or close it.
        Cliente otro(relay.puerto());
        EXPECT_EQ(entrarTm2(otro, "s", "sid-sin-pase", "epoca" + std::to_string(vez)), "CLAVE");
        EXPECT_EQ(conversar(relay.puerto(), "TM4", "sid-sin-pase", "t", p::llaveDeSid("s", "sid-sin-pase")), "CERRADA");
        std::string pieza(1000 + vez, char('a' + vez));
        r->enviar(pieza);
        todo += pieza;
    }
    // Both go on untouched.
    EXPECT_EQ(r->resumen().unidas, 1);
    EXPECT_TRUE(tm1.mandar(p::enmarcar(1, "dos") + p::enmarcar(2, "")));
    r->terminar();
    ASSERT_TRUE(esperar([&] {
        return leer(carpeta / "sid-con-pase.flv") == todo && leer(carpeta / "sid-sin-pase.flv") == "unodos";
    }, 15))
        << relay.registro();
    EXPECT_NE(relay.registro().find("pertenece a otra clave"), std::string::npos);
}

TEST_F(RelayHostil, sigtermConEnlacesAdmitidosTerminaLimpio) {
    CarpetaTemporal carpeta;
    for (int vez = 0; vez < 3; ++vez) {
        RelayHijo relay({"k", "s"},
                        {"--salida", (carpeta / "{sesion}.flv").string(), "--destino", "rtmp://127.0.0.1:9/vivo/x"});
        std::vector<Cliente> enlaces;
        for (int i = 0; i < 24; ++i) {
            enlaces.emplace_back(relay.puerto());
            ASSERT_EQ(entrarTm1(enlaces.back(), "k", "sid-" + std::to_string(i % 6)), "OK");
            // Some send whole chunks (files and publishers start), some half a chunk, some nothing.
            if (i % 3 == 0) enlaces.back().mandar(p::enmarcar(std::uint32_t(i / 6), std::string(5000, 'x')));
            if (i % 3 == 1) enlaces.back().mandar(p::enmarcar(7, std::string(5000, 'x')).substr(0, 100));
        }
        for (int i = 0; i < 5; ++i) enlaces.emplace_back(relay.puerto());  // still in the handshake
        Pase pase = paseSellado(relay.entrada(), "s", "sid-pase", 60);
        auto r = Reparto::crear("", "", std::nullopt, std::nullopt, pase);
        r->enviar(std::string(20000, 'y'));
        ASSERT_TRUE(esperar([&] { return r->resumen().unidas == 1; }, 10));
        EXPECT_EQ(relay.detener(), 0) << relay.registro();
        EXPECT_NE(relay.registro().find("relay: detenido"), std::string::npos) << relay.registro();
    }
}

TEST_F(RelayHostil, topesDelSaludoPorRedYBytesAjenosEnLaBitacora) {
    RelayHijo relay({"k", ""}, {"--max-saludos", "40", "--max-saludos-ip", "10", "--espera-saludo", "30",
                                "--saludo-mudo", "30"});
    for (int vez = 0; vez < 2; ++vez) {
        std::vector<Cliente> v;
        auto saluda = [&](const char* origen) {
            v.emplace_back(relay.puerto(), origen);
            auto l = v.back().linea(5);
            return l && l->rfind("TM1 ", 0) == 0;
        };
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(saluda(i % 2 ? "127.0.0.2" : "127.0.0.3"));
        EXPECT_FALSE(saluda("127.0.0.4"));  // one /24: 10 at most, whatever its addresses
        for (const char* o : {"127.0.1.2", "127.0.2.2", "127.0.3.2"})
            for (int i = 0; i < 10; ++i) EXPECT_TRUE(saluda(o));
        EXPECT_FALSE(saluda("127.0.4.2"));  // all together: 40 at most
        v.clear();
        EXPECT_TRUE(esperar([&] { return saluda("127.0.4.2"); }, 10));  // room again once they left
        v.clear();
        std::this_thread::sleep_for(1s);  // the relay sees them go before the next round
    }
    // Bytes from a stranger reach the log escaped and short.
    Cliente c(relay.puerto());
    c.linea();
    c.mandar("TM1 \x1b[2J\x1b]0;pwn\x07" + std::string(100, 'z') + " " + std::string(64, 'a') + "\n");
    EXPECT_EQ(c.linea().value_or(""), "CLAVE");
    Cliente larga(relay.puerto());  // a sid the relay would have to remember for an hour
    larga.linea();
    larga.mandar("TM1 " + std::string(3000, 'z') + " " + std::string(64, 'a') + "\n");
    EXPECT_EQ(larga.linea().value_or(""), "ERROR");
    ASSERT_TRUE(esperar([&] { return relay.registro().find("firma inválida de") != std::string::npos; }, 5));
    const std::string reg = relay.registro();
    EXPECT_EQ(reg.find('\x1b'), std::string::npos);
    EXPECT_EQ(reg.find('\x07'), std::string::npos);
    EXPECT_NE(reg.find("\\x1b[2J"), std::string::npos) << reg;
    EXPECT_EQ(reg.find("zzzzzzzzzz"), std::string::npos);
}

TEST_F(RelayHostil, tresMilConexionesOciosasDevuelvenLaMemoria) {
    RelayHijo relay({"k", ""}, {"--max-saludos", "5000", "--max-saludos-ip", "5000", "--espera-saludo", "120",
                                "--saludo-mudo", "120"});
    const pid_t pid = relay.pid();
    const long inicio = rssKb(pid);
    long pico = 0;
    for (int vez = 0; vez < 2; ++vez) {
        std::vector<Cliente> v;
        v.reserve(3000);
        int saludos = 0;
        for (int i = 0; i < 3000; ++i) {
            v.emplace_back(relay.puerto());
            if (v.back().fd < 0) break;
        }
        for (auto& c : v) saludos += c.linea(20).has_value();
        ASSERT_EQ(saludos, 3000);
        pico = std::max(pico, rssKb(pid));
        v.clear();
        const bool vuelve = esperar([&] { return rssKb(pid) - inicio < 20 * 1024; }, 20);
        if (!conSanitizador) { EXPECT_TRUE(vuelve) << "inicio " << inicio << " kB, ahora " << rssKb(pid) << " kB"; }
    }
    std::printf("relay: %ld kB al empezar, %ld kB con 3000 conexiones en el saludo, %ld kB después\n", inicio, pico,
                rssKb(pid));
    // A few KiB each, not a zero-filled 64 KiB buffer (sanitizers add their shadow and red zones).
    EXPECT_LT(pico - inicio, 3000 * (conSanitizador ? 24 : 12));
    EXPECT_TRUE(relay.vivo());
}

TEST_F(RelayHostil, trozosDeUnByteTrasUnHuecoTienenTope) {
    RelayHijo relay({"k", ""}, {"--max-espera", "4", "--silencio", "2"});
    const pid_t pid = relay.pid();
    const long inicio = rssKb(pid);
    for (int vez = 0; vez < 2; ++vez) {
        Cliente c(relay.puerto());
        ASSERT_EQ(entrarTm1(c, "k", "sid-hueco-" + std::to_string(vez)), "OK");
        // Sequence 0 never comes: everything waits. 200 000 one-byte chunks are far past 4 MiB of
        // real cost; the relay drops the link instead of holding them.
        bool cerrada = false;
        for (std::uint32_t seq = 1; seq <= 200000 && !cerrada; seq += 2000) {
            std::string lote;
            for (std::uint32_t s = seq; s < seq + 2000; ++s) lote += p::enmarcar(s, "x");
            cerrada = !c.mandar(lote);
            while (!cerrada && c.bufer.size() < 1u << 20) {  // keep reading the acknowledgements
                pollfd pf{c.fd, POLLIN, 0};
                if (::poll(&pf, 1, 0) <= 0) break;
                cerrada = !c.recibir(0);
                c.bufer.clear();
            }
        }
        EXPECT_TRUE(cerrada || c.cerradaPorElRelay(10));
        EXPECT_TRUE(esperar([&] { return relay.registro().find("datos esperando un hueco") != std::string::npos; }, 5))
            << relay.registro();
    }
    const long ahora = rssKb(pid);
    std::printf("relay: %ld kB al empezar, %ld kB con dos transmisiones llenas de trozos de un byte\n", inicio, ahora);
    if (!conSanitizador) { EXPECT_LT(ahora - inicio, 2 * 4 * 1024 + 24 * 1024); }
    // Closed by their silence, they give their buffers back at once.
    EXPECT_TRUE(esperar([&] {
        const std::string reg = relay.registro();
        const auto primera = reg.find("cerrada (silencio)");
        return primera != std::string::npos && reg.find("cerrada (silencio)", primera + 1) != std::string::npos;
    }, 10));
    const bool suelta = esperar([&] { return rssKb(pid) - inicio < 3 * 1024; }, 15);
    if (!conSanitizador) { EXPECT_TRUE(suelta) << rssKb(pid) << " kB"; }
    EXPECT_TRUE(relay.vivo());
}

TEST_F(RelayHostil, ningunHiloNiArchivoPorTransmisionMuda) {
    CarpetaTemporal carpeta;
    RelayHijo relay({"k", ""}, {"--salida", (carpeta / "{sesion}.flv").string(), "--destino",
                                     "rtmp://127.0.0.1:9/vivo/x", "--max-transmisiones", "250"});
    const pid_t pid = relay.pid();
    const long hilos = cuantos(pid, "task"), archivos = cuantos(pid, "fd");
    std::vector<Cliente> mudos;
    int ocupado = 0;
    for (int i = 0; i < 300; ++i) {
        mudos.emplace_back(relay.puerto());
        const std::string v = entrarTm1(mudos.back(), "k", "sid-mudo-" + std::to_string(i));
        if (i < 250) { EXPECT_EQ(v, "OK") << i; }
        ocupado += v == "OCUPADO";
    }
    EXPECT_EQ(ocupado, 50);  // past the cap on open transmissions
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(cuantos(pid, "task"), hilos);
    EXPECT_LE(cuantos(pid, "fd"), archivos + 250 + 2);  // their sockets, no file
    EXPECT_TRUE(fs::is_empty(carpeta.ruta()));
    // The first chunk starts them; the end of the stream ends them.
    ASSERT_TRUE(mudos[0].mandar(p::enmarcar(0, "datos")));
    EXPECT_TRUE(esperar([&] { return hilosLlamados(pid, "tm.publicar") == 1; }, 10));
    EXPECT_TRUE(fs::exists(carpeta / "sid-mudo-0.flv"));
    EXPECT_EQ(fs::status(carpeta / "sid-mudo-0.flv").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);  // the user's stream, nobody else's
    ASSERT_TRUE(mudos[0].mandar(p::enmarcar(1, "")));
    EXPECT_TRUE(esperar([&] {
        return hilosLlamados(pid, "tm.publicar") == 0 && cuantos(pid, "fd") <= archivos + 250 + 1;
    }, 10));
    mudos.clear();
    EXPECT_TRUE(esperar([&] { return cuantos(pid, "fd") <= archivos; }, 10));
}

TEST_F(RelayHostil, unPermisoHonestoEntraAunqueDiecisieteDireccionesCallenEnElSaludo) {
    RelayHijo relay({"", "s"});
    // 32 silent connections from each of 127.0.0.2…127.0.0.18, opened again every 5 s: before
    // the relay cut them after its full wait for an answer, they kept every slot.
    std::vector<Cliente> extranos;
    auto oleada = [&] {
        extranos.clear();
        for (int d = 2; d <= 18; ++d)
            for (int i = 0; i < 32; ++i) extranos.emplace_back(relay.puerto(), ("127.0.0." + std::to_string(d)).c_str());
    };
    oleada();
    const auto inicio = std::chrono::steady_clock::now();
    auto ultima = inicio;
    int intentos = 0;
    const bool entro = esperar([&] {
        if (std::chrono::steady_clock::now() - ultima >= 5s) {
            oleada();
            ultima = std::chrono::steady_clock::now();
        }
        Cliente honesto(relay.puerto());  // 127.0.0.1: the strangers' own /24
        ++intentos;
        return entrarTm2(honesto, "s", "sid-honesto", "epoca0") == "OK";
    }, 25);
    std::printf("relay: permiso honesto admitido tras %.1f s y %d intentos, con %zu conexiones calladas de 17 "
                "direcciones\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count(), intentos,
                extranos.size());
    EXPECT_TRUE(entro) << relay.registro();
    // One line for a burst of refusals, not one per connection.
    extranos.clear();
    ASSERT_TRUE(esperar([&] { return relay.registro().find("cortadas por no contestar") != std::string::npos; }, 15));
    const std::string reg = relay.registro();
    long lineas = 0;
    for (std::size_t i = reg.find("conexiones rechazadas"); i != std::string::npos;
         i = reg.find("conexiones rechazadas", i + 1))
        ++lineas;
    EXPECT_LE(lineas, 4) << reg;
    EXPECT_EQ(relay.detener(), 0) << relay.registro();
}

// What one permission can make the relay hold once admitted: a few links, none silent for long,
// no partial chunk past the memory caps, and no long instance names.
TEST_F(RelayHostil, unPermisoNoRetieneEnlacesMudosNiTrozosAMedias) {
    RelayHijo relay({"", "s"}, {"--inactividad", "2", "--max-espera", "4"});
    const pid_t pid = relay.pid();
    const long archivos = cuantos(pid, "fd"), inicio = rssKb(pid);
    std::vector<Cliente> enlaces;
    enlaces.reserve(1500);
    for (int i = 0; i < 1500; ++i) {
        enlaces.emplace_back(relay.puerto());
        ASSERT_EQ(entrarTm2(enlaces.back(), "s", "sid-muchos", "epoca0"), "OK") << i;
    }
    // The app opens one link per network: the oldest give way to the newest.
    EXPECT_TRUE(esperar([&] { return cuantos(pid, "fd") <= archivos + 8; }, 10)) << cuantos(pid, "fd");
    std::printf("relay: %ld descriptores y %ld kB con 1500 enlaces de un permiso (%ld y %ld kB al empezar)\n",
                cuantos(pid, "fd"), rssKb(pid), archivos, inicio);
    // The eight left say nothing: they are closed.
    for (std::size_t i = enlaces.size() - 8; i < enlaces.size(); ++i) EXPECT_TRUE(enlaces[i].cerradaPorElRelay(15)) << i;
    enlaces.clear();

    // A chunk announced as 16 MiB and sent on and on: its first bytes count against the 4 MiB.
    Cliente medias(relay.puerto());
    ASSERT_EQ(entrarTm2(medias, "s", "sid-medias", "epoca0"), "OK");
    std::string cabecera;
    p::escribirU32(cabecera, 0);
    p::escribirU32(cabecera, 16u << 20);
    bool sigue = medias.mandar(cabecera);
    for (int i = 0; i < 192 && sigue; ++i) sigue = medias.mandar(std::string(64 << 10, 'm'));  // 12 MiB
    EXPECT_TRUE(!sigue || medias.cerradaPorElRelay(10));
    EXPECT_TRUE(esperar([&] { return relay.registro().find("trozo a medias") != std::string::npos; }, 15))
        << relay.registro();

    // An instance name is short (the app's are 12 hex digits): a long one is refused.
    Cliente larga(relay.puerto());
    EXPECT_EQ(entrarTm2(larga, "s", "sid-epoca", std::string(3600, 'e')), "ERROR");
    Cliente corta(relay.puerto());
    EXPECT_EQ(entrarTm2(corta, "s", "sid-epoca", std::string(32, 'e')), "OK");
    EXPECT_EQ(relay.detener(), 0) << relay.registro();
}
