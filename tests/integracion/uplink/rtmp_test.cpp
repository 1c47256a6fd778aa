// The relay publishes the reassembled stream over RTMP: checked against nginx's RTMP module when
// this machine has it (and ffmpeg to make and read a real FLV), skipped otherwise.
#include "relay_proceso.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"
#include "uplink/reparto.h"

#include <boost/asio/ip/tcp.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace tt;
using namespace tt::prueba;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string correr(const std::string& orden) {
    std::string salida;
    FILE* f = popen(orden.c_str(), "r");
    if (!f) return salida;
    char b[4096];
    std::size_t n;
    while ((n = fread(b, 1, sizeof b, f)) > 0) salida.append(b, n);
    pclose(f);
    return salida;
}

}  // namespace

TEST(RelayRtmp, publicaCadaEtiquetaEnUnServidorRtmp) {
    const fs::path modulo = "/usr/lib/nginx/modules/ngx_rtmp_module.so";
    if (!fs::exists("/usr/sbin/nginx") || !fs::exists(modulo) || correr("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null && echo si") != "si\n")
        GTEST_SKIP() << "sin nginx con RTMP o sin ffmpeg";
    CarpetaTemporal c;
    const auto puerto = puertoLibre();
    prueba::escribir(c / "nginx.conf",
                     "daemon off; master_process off; worker_processes 1;\n"
                     "pid " + (c / "nginx.pid").string() + ";\nerror_log " + (c / "error.log").string() + ";\n"
                     "load_module " + modulo.string() + ";\nevents { worker_connections 64; }\n"
                     "rtmp { server { listen 127.0.0.1:" + std::to_string(puerto) + "; application vivo {\n"
                     " live on; record all; record_path " + c.ruta().string() + "; record_unique off; } } }\n");
    pid_t nginx = fork();
    if (nginx == 0) {
        execl("/usr/sbin/nginx", "nginx", "-c", (c / "nginx.conf").c_str(), "-p", c.ruta().c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // A real FLV: 4 s of H.264 and AAC.
    correr("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440 -t 4 "
           "-c:v libx264 -preset ultrafast -g 25 -c:a aac -f flv " + (c / "entrada.flv").string());
    const std::string flv = leer(c / "entrada.flv");
    ASSERT_GT(flv.size(), 1000u);
    ASSERT_TRUE(escuchaEn(puerto)) << leer(c / "error.log");

    Proceso p = proceso();
    p.entorno = Entorno({{"TM_DATOS", (raizPruebas() / "datos").string()}, {"TM_INTERFACES", "lo"}});
    fijarProceso(p);
    {
        RelayHijo relay({"k", ""});
        auto r = Reparto::crear(relay.entrada(), "k", "rtmp://127.0.0.1:" + std::to_string(puerto) + "/vivo/prueba",
                                std::nullopt, std::nullopt);
        ASSERT_TRUE(r);
        for (std::size_t i = 0; i < flv.size(); i += 5000) r->enviar(flv.substr(i, 5000));  // not tag-aligned
        r->terminar();
        auto hasta = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < hasta && relay.registro().find("fin del flujo") == std::string::npos)
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(1500ms);  // the publisher drains and unpublishes
        EXPECT_NE(relay.registro().find("publicando en rtmp://127.0.0.1:" + std::to_string(puerto) + "/vivo"),
                  std::string::npos)
            << relay.registro();
        EXPECT_EQ(relay.registro().find("prueba"), std::string::npos);  // the stream key stays out of the log
    }
    kill(nginx, SIGTERM);
    waitpid(nginx, nullptr, 0);
    const auto grabado = c / "prueba.flv";
    ASSERT_TRUE(fs::exists(grabado)) << leer(c / "error.log");
    auto cuenta = [](const fs::path& f, const char* flujo) {
        return correr(std::string("ffprobe -v error -count_packets -select_streams ") + flujo +
                      " -show_entries stream=nb_read_packets -of csv=p=0 " + f.string());
    };
    EXPECT_EQ(cuenta(grabado, "v"), cuenta(c / "entrada.flv", "v"));
    EXPECT_EQ(cuenta(grabado, "a"), cuenta(c / "entrada.flv", "a"));
    EXPECT_EQ(cuenta(grabado, "v"), "100\n");
}
