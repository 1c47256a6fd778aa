// tremolante-carga-control: the control service under the load of many rooms. Starts the built
// service in test mode (one instance on SQLite, or several on one PostgreSQL base), fills it with
// rooms (one desktop app each) and phones, then every desktop sends a pulse a second and a 40 KB
// picture every 2 s. Prints the desktop→phone delay (median, 99th percentile, worst), each
// instance's CPU and memory and their sum, and PostgreSQL's CPU when given its postmaster.
#include "comun/json.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <ctime>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace fs = std::filesystem;
using tt::Json;

namespace {

const char* ayuda =
    "Uso: tremolante-carga-control [opciones]\n"
    "  --salas N            salas, cada una con su app de escritorio (50)\n"
    "  --celulares-grande N celulares en la primera sala (200)\n"
    "  --celulares N        celulares en cada una de las demás (2)\n"
    "  --segundos S         duración de la carga (60)\n"
    "  --vista BYTES        tamaño de cada imagen en vivo (40000)\n"
    "  --instancias N       instancias del servicio (1); cada sala va a la que le toca por su nombre\n"
    "  --base URL           base PostgreSQL (postgresql://…) de todas las instancias; sin ella, SQLite\n"
    "                       en una carpeta temporal (una sola instancia)\n"
    "  --pg-pid PID         el postmaster de esa base: también mide el CPU de PostgreSQL\n";

double ahora() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

Json post(std::uint16_t puerto, const std::string& ruta, const Json& cuerpo) {
    asio::io_context io;
    beast::tcp_stream s(io);
    s.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), puerto));
    http::request<http::string_body> p{http::verb::post, ruta, 11};
    p.set(http::field::host, "127.0.0.1");
    p.body() = cuerpo.dump();
    p.prepare_payload();
    http::write(s, p);
    beast::flat_buffer b;
    http::response<http::string_body> r;
    http::read(s, b, r);
    return Json::parse(r.body(), nullptr, false);
}

using Ws = websocket::stream<beast::tcp_stream>;

std::unique_ptr<Ws> abrir(asio::io_context& io, std::uint16_t puerto, const std::string& sala, const std::string& bearer) {
    auto ws = std::make_unique<Ws>(io);
    beast::get_lowest_layer(*ws).connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), puerto));
    if (!bearer.empty())
        ws->set_option(websocket::stream_base::decorator(
            [bearer](websocket::request_type& q) { q.set(http::field::authorization, "Bearer " + bearer); }));
    ws->read_message_max(4u << 20);
    ws->handshake("127.0.0.1", "/ws?sala=" + sala);
    return ws;
}

std::string leerUno(Ws& ws) {
    beast::flat_buffer b;
    ws.read(b);
    return beast::buffers_to_string(b.data());
}

// A phone: reads everything, and for each relayed message its delay since the desktop sent it.
struct Celular : std::enable_shared_from_this<Celular> {
    std::unique_ptr<Ws> ws;
    beast::flat_buffer buf;
    std::vector<double>* demoras;
    std::vector<double>* demorasVista;
    double* hasta;
    int* cortados;  // sockets the service closed or dropped before the end
    void leer() {
        auto yo = shared_from_this();
        ws->async_read(buf, [yo](beast::error_code ec, std::size_t) {
            if (ec) {
                if (ahora() < *yo->hasta) ++*yo->cortados;
                return;
            }
            const double t = ahora();
            std::string_view v(static_cast<const char*>(yo->buf.data().data()), yo->buf.size());
            auto i = v.find("\"enviado\":");
            if (i != std::string_view::npos && t < *yo->hasta) {
                const double enviado = std::strtod(std::string(v.substr(i + 10, 32)).c_str(), nullptr);
                (v.substr(0, 12) == "{\"t\":\"vista\"" ? yo->demorasVista : yo->demoras)->push_back((t - enviado) * 1000);
            }
            yo->buf.consume(yo->buf.size());
            yo->leer();
        });
    }
};

// A desktop app: a pulse a second, a picture every other second; writes one at a time.
struct Mac : std::enable_shared_from_this<Mac> {
    int celulares = 0;
    std::unique_ptr<Ws> ws;
    std::deque<std::string> cola;
    bool escribiendo = false;
    void mandar(std::string t) {
        cola.push_back(std::move(t));
        escribir();
    }
    void escribir() {
        if (escribiendo || cola.empty()) return;
        escribiendo = true;
        auto yo = shared_from_this();
        ws->text(true);
        ws->async_write(asio::buffer(cola.front()), [yo](beast::error_code ec, std::size_t) {
            yo->escribiendo = false;
            yo->cola.pop_front();
            if (!ec) yo->escribir();
        });
    }
    void leer(std::shared_ptr<beast::flat_buffer> b) {
        auto yo = shared_from_this();
        ws->async_read(*b, [yo, b](beast::error_code ec, std::size_t) {
            if (ec) return;
            b->consume(b->size());
            yo->leer(b);
        });
    }
};

struct Cpu {
    double segundos = 0;
    long rssKb = 0, picoKb = 0;
};

// The fields of /proc/PID/stat after the command's name: [0] the state, [1] the parent, [11] and
// [12] utime and stime, [13] and [14] those of the children it has reaped. Empty if it is gone.
std::vector<std::string> camposStat(const std::string& pid) {
    std::ifstream st("/proc/" + pid + "/stat");
    std::string todo((std::istreambuf_iterator<char>(st)), {});
    std::vector<std::string> campos;
    auto cierre = todo.rfind(')');
    if (cierre == std::string::npos || cierre + 2 > todo.size()) return campos;
    std::string campo;
    for (char ch : todo.substr(cierre + 2)) {
        if (ch == ' ') {
            campos.push_back(campo);
            campo.clear();
        } else {
            campo += ch;
        }
    }
    return campos;
}

double tics(const std::string& t) { return double(std::stoll(t)) / double(sysconf(_SC_CLK_TCK)); }

Cpu medir(pid_t pid) {
    Cpu c;
    const auto campos = camposStat(std::to_string(pid));
    if (campos.size() > 13) c.segundos = tics(campos[11]) + tics(campos[12]);
    std::ifstream s("/proc/" + std::to_string(pid) + "/status");
    std::string l;
    while (std::getline(s, l)) {
        if (l.rfind("VmRSS:", 0) == 0) c.rssKb = std::stol(l.substr(6));
        if (l.rfind("VmHWM:", 0) == 0) c.picoKb = std::stol(l.substr(6));
    }
    return c;
}

// PostgreSQL's CPU so far: the postmaster and every process whose parent it is (the backends, one
// per connection, and its own workers). A backend that exits between the start and the end of the
// load is no longer in /proc at the end, and a plain sum of the live ones would lose its time; the
// postmaster reaps it, so its time is in the postmaster's cutime/cstime, counted here too. Only a
// backend that ends while /proc is being walked can be missed or counted twice; the instances
// keep their connections for the whole run, so few backends come and go at all.
double cpuPostgres(pid_t postmaster, int& procesos) {
    double t = 0;
    procesos = 0;
    const std::string madre = std::to_string(postmaster);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string pid = e.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto campos = camposStat(pid);
        if (campos.size() <= 14) continue;
        try {
            if (pid == madre) {
                t += tics(campos[11]) + tics(campos[12]) + tics(campos[13]) + tics(campos[14]);
            } else if (campos[1] == madre) {
                t += tics(campos[11]) + tics(campos[12]);
                ++procesos;
            }
        } catch (const std::exception&) {
        }
    }
    return t;
}

// The instance a room's sockets go to. The front hashes the room named in the socket's address
// (nginx's consistent hash over the instances' addresses); this stands in for it with CRC-32 of
// the name modulo the instances: what matters here is that each room, desktop and phones, is
// whole on one instance and that the rooms spread over them.
std::size_t instanciaDe(const std::string& sala, std::size_t n) {
    std::uint32_t c = 0xffffffffu;
    for (unsigned char b : sala) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
    }
    return std::size_t(~c) % n;
}

struct Instancia {
    pid_t pid = -1;
    int salida = -1;  // its standard output, until it says its port
    std::uint16_t puerto = 0;
    fs::path bitacora;
    int salas = 0, celulares = 0;
    Cpu antes, despues;
};

// Starts one instance in test mode with its own data folder and log; it dies with this process.
void arrancar(Instancia& ins, const fs::path& bin, const fs::path& carpeta, int n, const std::optional<std::string>& base) {
    const std::string datos = (carpeta / ("datos" + std::to_string(n))).string();
    const std::string secreto = (carpeta / "secreto").string();
    ins.bitacora = carpeta / ("control" + std::to_string(n) + ".log");
    std::vector<std::string> args = {bin.string(), "--prueba",         "--escuchar", "127.0.0.1:0", "--datos",
                                     datos,        "--secreto-archivo", secreto};
    if (base) {
        args.push_back("--base");
        args.push_back(*base);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int tubo[2];
    if (pipe2(tubo, O_CLOEXEC) != 0) throw std::runtime_error("sin tubo");
    const pid_t padre = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("no se pudo arrancar una instancia");
    if (pid == 0) {
        // An instance must not outlive the tool, whatever stops it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != padre) _exit(1);
        dup2(tubo[1], 1);
        int fd = open(ins.bitacora.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(tubo[1]);
    ins.pid = pid;
    ins.salida = tubo[0];
}

// Its port, from the "escuchando en HOST:PORT" line; 0 if it never said it.
std::uint16_t esperarPuerto(Instancia& ins) {
    std::string linea;
    char c;
    while (read(ins.salida, &c, 1) == 1 && c != '\n') linea.push_back(c);
    close(ins.salida);
    ins.salida = -1;
    if (linea.rfind("escuchando en ", 0) != 0) return 0;
    return std::uint16_t(std::stoi(linea.substr(linea.rfind(':') + 1)));
}

// SIGTERM to every instance, then waits for each; true if all exited cleanly.
bool parar(std::vector<Instancia>& instancias, bool informar) {
    for (auto& ins : instancias)
        if (ins.pid > 0) kill(ins.pid, SIGTERM);
    bool limpio = true;
    for (std::size_t i = 0; i < instancias.size(); ++i) {
        auto& ins = instancias[i];
        if (ins.pid <= 0) continue;
        int estado = 0;
        waitpid(ins.pid, &estado, 0);
        ins.pid = -1;
        const bool bien = WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
        if (!bien && informar) {
            std::printf("la instancia %zu terminó MAL (%s %d); su bitácora:\n", i + 1,
                        WIFEXITED(estado) ? "estado" : "señal", WIFEXITED(estado) ? WEXITSTATUS(estado) : WTERMSIG(estado));
            std::ifstream f(ins.bitacora);
            std::string l;
            while (std::getline(f, l)) std::printf("  %s\n", l.c_str());
        }
        limpio = limpio && bien;
    }
    return limpio;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    int salas = 50, grande = 200, celulares = 2, nInstancias = 1;
    double segundos = 60;
    std::size_t vista = 40000;
    std::optional<std::string> base;
    pid_t pgPid = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || i + 1 >= argc) {
            std::fputs(ayuda, a == "--help" ? stdout : stderr);
            return a == "--help" ? 0 : 2;
        }
        std::string v = argv[++i];
        if (a == "--salas") salas = std::stoi(v);
        else if (a == "--celulares-grande") grande = std::stoi(v);
        else if (a == "--celulares") celulares = std::stoi(v);
        else if (a == "--segundos") segundos = std::stod(v);
        else if (a == "--vista") vista = std::size_t(std::stoul(v));
        else if (a == "--instancias") nInstancias = std::stoi(v);
        else if (a == "--base") base = v;
        else if (a == "--pg-pid") pgPid = pid_t(std::stol(v));
        else {
            std::fputs(ayuda, stderr);
            return 2;
        }
    }
    if (nInstancias < 1) {
        std::fprintf(stderr, "--instancias debe ser 1 o más\n");
        return 2;
    }
    if (nInstancias > 1 && !base) {
        std::fprintf(stderr, "con --instancias %d hace falta --base postgresql://…: las instancias comparten las cuentas "
                             "en una base PostgreSQL, y sobre SQLite cada una tendría las suyas\n", nInstancias);
        return 2;
    }
    if (pgPid && camposStat(std::to_string(pgPid)).empty()) {
        std::fprintf(stderr, "no hay un proceso %d (--pg-pid, el postmaster de PostgreSQL)\n", int(pgPid));
        return 2;
    }

    // The instances, in test mode, in a folder of their own.
    const char* tmp = std::getenv("TMPDIR");
    std::string plantilla = std::string(tmp && *tmp ? tmp : "/tmp") + "/tm-carga-XXXXXX";
    if (!mkdtemp(plantilla.data())) {
        std::perror(plantilla.c_str());
        return 1;
    }
    const fs::path carpeta = plantilla;
    std::error_code ec;
    {
        int fd = open((carpeta / "secreto").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string s = "secreto=carga\n";
        if (fd < 0 || write(fd, s.data(), s.size()) != ssize_t(s.size())) {
            fs::remove_all(carpeta, ec);
            return 1;
        }
        close(fd);
    }
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path() / "tremolante-control";
    std::vector<Instancia> instancias(std::size_t(nInstancias), Instancia{});
    std::printf("base: %s; %d instancia%s\n", base ? ("PostgreSQL, " + *base).c_str() : "SQLite, en una carpeta temporal",
                nInstancias, nInstancias == 1 ? "" : "s");
    std::fflush(stdout);

    int resultado = 0;
    try {
        // All start at once (on a new base one makes the tables while the others wait), then each
        // says its port.
        for (int i = 0; i < nInstancias; ++i) arrancar(instancias[std::size_t(i)], bin, carpeta, i + 1, base);
        for (std::size_t i = 0; i < instancias.size(); ++i) {
            auto& ins = instancias[i];
            ins.puerto = esperarPuerto(ins);
            if (ins.puerto == 0) {
                std::ifstream f(ins.bitacora);
                std::string t((std::istreambuf_iterator<char>(f)), {});
                throw std::runtime_error("la instancia " + std::to_string(i + 1) + " no arrancó; su bitácora:\n" + t);
            }
        }

        asio::io_context io;
        std::vector<std::shared_ptr<Mac>> macs;
        std::vector<std::shared_ptr<Celular>> todos;
        std::vector<double> demoras, demorasVista;
        int cortados = 0;
        long esperados = 0, esperadasVista = 0;  // what the phones should get: each send times the room's phones
        double hasta = 1e300;
        std::mt19937 azar(7);
        // What the front sends round robin (all but the rooms' sockets) goes to each instance in turn.
        std::size_t turno = 0;
        auto cualquiera = [&] { return instancias[turno++ % instancias.size()].puerto; };
        const double t0 = ahora();
        for (int s = 0; s < salas; ++s) {
            const std::string correo = "sala" + std::to_string(s) + "@carga.test";
            Json r = post(cualquiera(), "/registro", {{"correo", correo}, {"clave", "Carga#1234"}});
            Json v = post(cualquiera(), "/verificar", {{"correo", correo}, {"codigo", r["codigo"]}});
            if (!v.contains("sala") || !v.contains("ficha"))
                throw std::runtime_error("la cuenta " + correo + " no quedó lista: " + r.dump() + " " + v.dump());
            const std::string sala = v["sala"], ficha = v["ficha"];
            auto& ins = instancias[instanciaDe(sala, instancias.size())];
            auto m = std::make_shared<Mac>();
            m->ws = abrir(io, ins.puerto, sala, ficha);
            leerUno(*m->ws);  // "celulares"
            // Read from now on: the service pings every socket and drops one that does not answer
            // for 70 s, and answers are sent only while a read is pending (setting up 2000 rooms
            // takes longer than that).
            m->leer(std::make_shared<beast::flat_buffer>());
            const int cuantos = s == 0 ? grande : celulares;
            for (int k = 0; k < cuantos; ++k) {
                std::string vinculo;
                for (int b = 0; b < 48; ++b) vinculo += "0123456789abcdef"[azar() % 16];
                m->ws->write(asio::buffer(Json{{"t", "vincular"}, {"ficha", vinculo}}.dump()));
                // The desktop's instance writes the link to the base on its own time.
                Json cel;
                for (int intento = 0; intento < 500; ++intento) {
                    cel = post(cualquiera(), "/vinculo", {{"sala", sala}, {"ficha", vinculo}});
                    if (cel.contains("ficha")) break;
                    usleep(2000);
                }
                if (!cel.contains("ficha"))
                    throw std::runtime_error("un celular de la sala de " + correo + " no se vinculó: " + cel.dump());
                auto p = std::make_shared<Celular>();
                p->ws = abrir(io, ins.puerto, sala, "");
                p->ws->write(asio::buffer(Json{{"t", "entrar"}, {"ficha", cel["ficha"]}}.dump()));
                try {
                    leerUno(*p->ws);  // "mac"
                } catch (const std::exception& e) {
                    throw std::runtime_error("el servicio no dejó entrar al celular " + std::to_string(k + 1) +
                                             " de la sala de " + correo + ": " + e.what());
                }
                p->demoras = &demoras;
                p->demorasVista = &demorasVista;
                p->hasta = &hasta;
                p->cortados = &cortados;
                p->leer();
                todos.push_back(p);
            }
            ++ins.salas;
            ins.celulares += cuantos;
            m->celulares = cuantos;
            macs.push_back(m);
            io.poll();  // the pings of the sockets already open
        }
        std::printf("preparado: %d salas, %zu celulares (%.1f s)\n", salas, todos.size(), ahora() - t0);
        std::fflush(stdout);

        const std::string jpg(vista, 'Q');
        for (auto& ins : instancias) ins.antes = medir(ins.pid);
        int pgAntes = 0, pgDespues = 0;
        const double pgCpuAntes = pgPid ? cpuPostgres(pgPid, pgAntes) : 0;
        const double inicio = ahora();
        hasta = inicio + segundos;
        int tic = 0;
        asio::steady_timer reloj(io);
        std::function<void()> latir = [&] {
            ++tic;
            // Spread over the second, as separate apps would be.
            for (std::size_t i = 0; i < macs.size(); ++i) {
                auto t = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(i * 1000 / macs.size()));
                t->async_wait([&, i, t](beast::error_code) {
                    char n[64];
                    std::snprintf(n, sizeof n, "%.6f", ahora());
                    if (ahora() < hasta) esperados += macs[i]->celulares;
                    macs[i]->mandar(std::string("{\"t\":\"pulso\",\"enviado\":") + n +
                                    ",\"programa\":\"inicio\",\"vivo\":true,\"seco\":false,\"aviso\":\"\",\"sinRed\":false,"
                                    "\"listo\":true,\"redes\":\"Wi-Fi · Ethernet\",\"error\":false,\"saldo\":3600,"
                                    "\"calidad\":\"Alta\",\"tiempo\":\"00:10:00\",\"cifras\":\"6.0 Mbps  ·  30 cuadros/s\"}");
                    if (tic % 2 == 0) {
                        if (ahora() < hasta) esperadasVista += macs[i]->celulares;
                        std::snprintf(n, sizeof n, "%.6f", ahora());
                        macs[i]->mandar(std::string("{\"t\":\"vista\",\"enviado\":") + n + ",\"jpg\":\"" + jpg + "\"}");
                    }
                });
            }
            if (ahora() + 1 < hasta) {
                reloj.expires_after(std::chrono::seconds(1));
                reloj.async_wait([&](beast::error_code) { latir(); });
            }
        };
        latir();
        io.run_for(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(segundos + 2)));
        for (auto& ins : instancias) ins.despues = medir(ins.pid);
        const double pgCpuDespues = pgPid ? cpuPostgres(pgPid, pgDespues) : 0;
        const double duracion = ahora() - inicio;

        const double cpuCarga = double(std::clock()) / CLOCKS_PER_SEC;
        auto contar = [&](const char* que, std::vector<double> v) {
            std::sort(v.begin(), v.end());
            auto pct = [&](double q) { return v.empty() ? 0.0 : v[std::size_t(q * double(v.size() - 1))]; };
            std::printf("demora escritorio→celular (%s, %zu mensajes): mediana %.2f ms, p99 %.2f ms, peor %.2f ms\n", que,
                        v.size(), pct(0.5), pct(0.99), v.empty() ? 0.0 : v.back());
        };
        std::vector<double> todas = demoras;
        todas.insert(todas.end(), demorasVista.begin(), demorasVista.end());
        contar("todo", todas);
        contar("pulsos", demoras);
        contar("imágenes", demorasVista);
        // A message still on its way at the end is not counted: a few short of the sends is normal.
        std::printf("llegaron %zu de %ld pulsos y %zu de %ld imágenes; celulares cortados: %d\n", demoras.size(),
                    esperados, demorasVista.size(), esperadasVista, cortados);
        std::printf("el generador de carga usó %.1f s de CPU\n", cpuCarga);
        double cpu = 0;
        long rss = 0, pico = 0;
        for (std::size_t i = 0; i < instancias.size(); ++i) {
            const auto& ins = instancias[i];
            const double c = ins.despues.segundos - ins.antes.segundos;
            cpu += c;
            rss += ins.despues.rssKb;
            pico += ins.despues.picoKb;
            if (nInstancias > 1)
                std::printf("instancia %zu (puerto %u, %d salas, %d celulares): CPU %.1f %% de un núcleo, memoria %ld MiB "
                            "(pico %ld MiB)\n",
                            i + 1, unsigned(ins.puerto), ins.salas, ins.celulares, 100 * c / duracion,
                            ins.despues.rssKb / 1024, ins.despues.picoKb / 1024);
        }
        if (nInstancias > 1)
            std::printf("servicio, las %d instancias juntas: CPU %.1f %% de un núcleo, memoria %ld MiB (suma de los picos "
                        "%ld MiB)\n",
                        nInstancias, 100 * cpu / duracion, rss / 1024, pico / 1024);
        else
            std::printf("servicio: CPU %.1f %% de un núcleo, memoria %ld MiB (pico %ld MiB)\n", 100 * cpu / duracion,
                        rss / 1024, pico / 1024);
        if (pgPid)
            std::printf("PostgreSQL: CPU %.1f %% de un núcleo (el postmaster y sus procesos: %d al empezar, %d al "
                        "terminar)\n",
                        100 * (pgCpuDespues - pgCpuAntes) / duracion, pgAntes, pgDespues);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "la carga falló: %s\n", e.what());
        resultado = 1;
    }

    const bool limpio = parar(instancias, resultado == 0);
    fs::remove_all(carpeta, ec);
    if (resultado != 0) return resultado;
    if (nInstancias > 1) std::printf("las %d instancias terminaron %s\n", nInstancias, limpio ? "limpio" : "MAL");
    else std::printf("el servicio terminó %s\n", limpio ? "limpio" : "MAL");
    return limpio ? 0 : 1;
}
