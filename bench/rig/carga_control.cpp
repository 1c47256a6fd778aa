// tremolante-carga-control: the control service under the load of many rooms. Starts the built
// service in test mode, fills it with rooms (one desktop app each) and phones, then every desktop
// sends a pulse a second and a 40 KB picture every 2 s. Prints the desktop→phone delay
// (median, 99th percentile, worst), and the service's CPU and memory.
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
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
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
    "  --vista BYTES        tamaño de cada imagen en vivo (40000)\n";

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
    void leer() {
        auto yo = shared_from_this();
        ws->async_read(buf, [yo](beast::error_code ec, std::size_t) {
            if (ec) return;
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

Cpu medir(pid_t pid) {
    Cpu c;
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string todo((std::istreambuf_iterator<char>(st)), {});
    auto cierre = todo.rfind(')');
    std::vector<std::string> campos;
    std::string campo;
    for (char ch : todo.substr(cierre + 2)) {
        if (ch == ' ') {
            campos.push_back(campo);
            campo.clear();
        } else {
            campo += ch;
        }
    }
    if (campos.size() > 13)
        c.segundos = double(std::stol(campos[11]) + std::stol(campos[12])) / double(sysconf(_SC_CLK_TCK));
    std::ifstream s("/proc/" + std::to_string(pid) + "/status");
    std::string l;
    while (std::getline(s, l)) {
        if (l.rfind("VmRSS:", 0) == 0) c.rssKb = std::stol(l.substr(6));
        if (l.rfind("VmHWM:", 0) == 0) c.picoKb = std::stol(l.substr(6));
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    int salas = 50, grande = 200, celulares = 2;
    double segundos = 60;
    std::size_t vista = 40000;
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
        else {
            std::fputs(ayuda, stderr);
            return 2;
        }
    }

    // The service, in test mode, in a folder of its own.
    char plantilla[] = "/tmp/tm-carga-XXXXXX";
    const fs::path carpeta = mkdtemp(plantilla);
    {
        int fd = open((carpeta / "secreto").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string s = "secreto=carga\n";
        if (fd < 0 || write(fd, s.data(), s.size()) != ssize_t(s.size())) return 1;
        close(fd);
    }
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path() / "tremolante-control";
    int tubo[2];
    if (pipe(tubo) != 0) return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(tubo[1], 1);
        int fd = open((carpeta / "control.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        execl(bin.c_str(), bin.c_str(), "--prueba", "--escuchar", "127.0.0.1:0", "--datos", (carpeta / "datos").c_str(),
              "--secreto-archivo", (carpeta / "secreto").c_str(), (char*)nullptr);
        _exit(127);
    }
    close(tubo[1]);
    std::string linea;
    char c;
    while (read(tubo[0], &c, 1) == 1 && c != '\n') linea.push_back(c);
    close(tubo[0]);
    if (linea.rfind("escuchando en ", 0) != 0) {
        std::fprintf(stderr, "el servicio no arrancó\n");
        return 1;
    }
    const auto puerto = std::uint16_t(std::stoi(linea.substr(linea.rfind(':') + 1)));

    asio::io_context io;
    std::vector<std::shared_ptr<Mac>> macs;
    std::vector<std::shared_ptr<Celular>> todos;
    std::vector<double> demoras, demorasVista;
    double hasta = 1e300;
    std::mt19937 azar(7);
    const double t0 = ahora();
    for (int s = 0; s < salas; ++s) {
        const std::string correo = "sala" + std::to_string(s) + "@carga.test";
        Json r = post(puerto, "/registro", {{"correo", correo}, {"clave", "Carga#1234"}});
        Json v = post(puerto, "/verificar", {{"correo", correo}, {"codigo", r["codigo"]}});
        const std::string sala = v["sala"], ficha = v["ficha"];
        auto m = std::make_shared<Mac>();
        m->ws = abrir(io, puerto, sala, ficha);
        leerUno(*m->ws);  // "celulares"
        const int n = s == 0 ? grande : celulares;
        for (int k = 0; k < n; ++k) {
            std::string vinculo;
            for (int b = 0; b < 48; ++b) vinculo += "0123456789abcdef"[azar() % 16];
            m->ws->write(asio::buffer(Json{{"t", "vincular"}, {"ficha", vinculo}}.dump()));
            Json cel;
            for (int intento = 0; intento < 50; ++intento) {
                cel = post(puerto, "/vinculo", {{"sala", sala}, {"ficha", vinculo}});
                if (cel.contains("ficha")) break;
                usleep(2000);
            }
            auto p = std::make_shared<Celular>();
            p->ws = abrir(io, puerto, sala, "");
            p->ws->write(asio::buffer(Json{{"t", "entrar"}, {"ficha", cel["ficha"]}}.dump()));
            leerUno(*p->ws);  // "mac"
            p->demoras = &demoras;
            p->demorasVista = &demorasVista;
            p->hasta = &hasta;
            todos.push_back(p);
        }
        macs.push_back(m);
    }
    std::printf("preparado: %d salas, %zu celulares (%.1f s)\n", salas, todos.size(), ahora() - t0);
    for (auto& p : todos) p->leer();
    for (auto& m : macs) m->leer(std::make_shared<beast::flat_buffer>());

    const std::string jpg(vista, 'Q');
    const Cpu antes = medir(pid);
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
                macs[i]->mandar(std::string("{\"t\":\"pulso\",\"enviado\":") + n +
                                ",\"programa\":\"inicio\",\"vivo\":true,\"seco\":false,\"aviso\":\"\",\"sinRed\":false,"
                                "\"listo\":true,\"redes\":\"Wi-Fi · Ethernet\",\"error\":false,\"saldo\":3600,"
                                "\"calidad\":\"Alta\",\"tiempo\":\"00:10:00\",\"cifras\":\"6.0 Mbps  ·  30 cuadros/s\"}");
                if (tic % 2 == 0) {
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
    const Cpu despues = medir(pid);
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
    std::printf("el generador de carga usó %.1f s de CPU\n", cpuCarga);
    std::printf("servicio: CPU %.1f %% de un núcleo, memoria %ld MiB (pico %ld MiB)\n",
                100 * (despues.segundos - antes.segundos) / duracion, despues.rssKb / 1024, despues.picoKb / 1024);

    kill(pid, SIGTERM);
    int estado = 0;
    waitpid(pid, &estado, 0);
    std::error_code ec;
    fs::remove_all(carpeta, ec);
    const bool limpio = WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
    std::printf("el servicio terminó %s\n", limpio ? "limpio" : "MAL");
    return limpio ? 0 : 1;
}
