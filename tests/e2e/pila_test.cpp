// scripts/run as a new user runs it, under xvfb-run with the synthetic camera: the local stack
// (nginx, relay, control service) comes up, the test account signs in, the stream reaches nginx,
// and everything ends by itself leaving no process and no temporary file behind.
#include "e2e/corrida.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tt::prueba;

namespace {

// One scripts/run in its own process group, its output in a file; stopped by its PID if the
// test leaves early.
struct Corre {
    pid_t pid = -1;
    fs::path salida;
    Corre(const std::vector<std::string>& env, const fs::path& salidaEn, bool conPantalla) : salida(salidaEn) {
        std::vector<std::string> argv;
        if (conPantalla) argv = {"/usr/bin/xvfb-run", "-a", "-s", "-screen 0 1600x1000x24"};
        argv.push_back(TM_FUENTE "/scripts/run");
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            int f = open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(f, 1);
            dup2(f, 2);
            std::vector<char*> a, e;
            for (auto& x : argv) a.push_back(const_cast<char*>(x.c_str()));
            a.push_back(nullptr);
            for (auto& x : env) e.push_back(const_cast<char*>(x.c_str()));
            e.push_back(nullptr);
            execve(a[0], a.data(), e.data());
            _exit(127);
        }
    }
    ~Corre() {
        if (pid > 0) {
            kill(-pid, SIGTERM);  // the script's trap stops the stack
            esperar(30);
            if (pid > 0) kill(-pid, SIGKILL), waitpid(pid, nullptr, 0);
        }
    }
    int esperar(double segundos) {  // exit status, or -1 if still running
        for (int i = 0; i < segundos * 10; ++i) {
            int s;
            if (waitpid(pid, &s, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }
    std::string texto() const { return leer(salida); }
    bool esperarTexto(const std::string& t, double segundos) const {
        for (int i = 0; i < segundos * 10; ++i) {
            if (texto().find(t) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
};

// Every "(PID n)" the script printed: the services and the application.
std::vector<pid_t> pidsDe(const std::string& salida) {
    std::vector<pid_t> r;
    std::regex re(R"(\(PID ([0-9]+)\))");
    for (std::sregex_iterator i(salida.begin(), salida.end(), re), fin; i != fin; ++i) r.push_back(std::stoi((*i)[1]));
    return r;
}

bool nadieEscucha(int puerto) {
    return salidaDe("bash -c ': <>/dev/tcp/127.0.0.1/" + std::to_string(puerto) + " && echo ocupado'").empty();
}

}  // namespace

TEST(Pila, scriptsRunComoUnUsuarioNuevoDosVecesYUnaSegundaCopia) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    if (!fs::exists("/usr/bin/xvfb-run")) GTEST_SKIP() << "sin xvfb-run";
    // Ports of this test's own, so it runs beside the others and beside a scripts/run.
    const int rtmp = puertoLibre(), relay = puertoLibre(), control = puertoLibre();
    const std::string puertos = std::to_string(rtmp) + " " + std::to_string(relay) + " " + std::to_string(control);
    const std::string canal = "rtmp://127.0.0.1:" + std::to_string(rtmp) + "/live";

    CarpetaTemporal casa, tmp, otraCasa;
    const fs::path camara = casa / "camara.png";
    std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 " + camara.string()).c_str());
    const fs::path pila = casa / ".local/state/Tremolante/pila";
    const fs::path datos = pila / "datos/Tremolante";
    // A light encoder: this machine's cores are few.
    fs::create_directories(datos);
    escribir(datos / "config.json", R"({"servidor": ")" + canal + R"(/mac", "kbps": 1200, "preset": 12})");
    auto entorno = [&](const CarpetaTemporal& hogar, std::vector<std::string> mas) {
        std::vector<std::string> e = {"PATH=/usr/bin:/bin", "HOME=" + hogar.ruta().string(),
                                      "TMPDIR=" + tmp.ruta().string(), "TM_BINARIOS=" TM_BIN,
                                      "TM_CAMARA_FALSA=" + camara.string(), "TM_PILA_PUERTOS=" + puertos};
        e.insert(e.end(), mas.begin(), mas.end());
        return e;
    };
    const std::string correo = "nueva@tremolante.test";

    // First start: a new account, made with the code the control service returns in test mode.
    {
        Corre r(entorno(casa, {"TM_SESION=" + correo, "TM_SALIR=3"}), casa / "run1.txt", true);
        ASSERT_EQ(r.esperar(90), 0) << r.texto();
    }
    const std::string log1 = leer(casa / ".local/state/Tremolante/app.log");
    EXPECT_NE(log1.find("sesión de prueba (cuenta nueva): dentro"), std::string::npos) << log1;
    ASSERT_TRUE(fs::exists(datos / "remoto.json")) << log1;

    // The channel, pointing at the local nginx, goes in the account's folder the first start made.
    fs::path cuenta = datos;
    int cuentas = 0;
    if (fs::is_directory(datos / "cuentas"))
        for (auto& e : fs::directory_iterator(datos / "cuentas")) cuenta = e.path(), ++cuentas;
    ASSERT_LE(cuentas, 1);
    escribir(cuenta / "canales.json", R"([{"id": "8f0c1a52-6a43-4c59-9d0e-2f4b7c1e9a10", "nombre": "Local",
        "servidor": ")" + canal + R"(", "clave": "prueba"}])");

    // Second start, signed out: the control service kept the account, so the password opens it.
    fs::remove(datos / "remoto.json");
    Corre r(entorno(casa, {"TM_SESION=" + correo, "TM_AUTO=20"}), casa / "run2.txt", true);
    ASSERT_TRUE(r.esperarTexto("pila: canal:", 60)) << r.texto();

    // A second copy while the first runs, by the same user and by another one.
    {
        Corre mismo(entorno(casa, {}), casa / "copia.txt", false);
        EXPECT_EQ(mismo.esperar(20), 1);
        EXPECT_NE(mismo.texto().find("ya están ocupados: otra copia de la pila está en marcha (PID"), std::string::npos)
            << mismo.texto();
        Corre otro(entorno(otraCasa, {}), casa / "otro.txt", false);
        EXPECT_EQ(otro.esperar(20), 1);
        EXPECT_NE(otro.texto().find("otro programa ya ocupa 127.0.0.1:" + std::to_string(rtmp) + " (nginx), 127.0.0.1:" +
                                    std::to_string(relay) + " (relay), 127.0.0.1:" + std::to_string(control) +
                                    " (control)"),
                  std::string::npos)
            << otro.texto();
        EXPECT_FALSE(fs::exists(otraCasa / ".local/state/Tremolante/pila/control"));
    }

    ASSERT_EQ(r.esperar(150), 0) << r.texto();
    const std::string salida = r.texto();
    const std::string log2 = leer(casa / ".local/state/Tremolante/app.log").substr(log1.size());
    EXPECT_NE(log2.find("sesión de prueba (contraseña): dentro"), std::string::npos) << log2;
    EXPECT_NE(log2.find("transmisión detenida"), std::string::npos) << log2;

    // The stream went through the relay, with the permission the control service granted.
    EXPECT_NE(leer(pila / "relay.log").find("se publica en " + canal + "/…"), std::string::npos)
        << leer(pila / "relay.log");
    EXPECT_NE(leer(pila / "control.log").find("permiso "), std::string::npos) << leer(pila / "control.log");

    // What nginx recorded: the script's own line, and the file itself.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(salida, m, std::regex(R"(llegó a nginx: ([0-9.]+) s, vídeo \S+ \d+×\d+, audio \S+ 48000 Hz)")))
        << salida;
    EXPECT_GE(std::stod(m[1]), 15.0) << salida;
    std::vector<fs::path> grabados;
    for (auto& e : fs::directory_iterator(pila / "grabado")) grabados.push_back(e.path());
    ASSERT_EQ(grabados.size(), 1u);
    EXPECT_EQ(grabados[0].filename().string().rfind("prueba-", 0), 0u) << grabados[0];
    const std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                                        grabados[0].string());
    EXPECT_NE(flujos.find("video"), std::string::npos) << flujos;
    EXPECT_NE(flujos.find("audio"), std::string::npos) << flujos;

    // Nothing of the stack is left: its processes, the ports, the temporary files.
    const auto pids = pidsDe(salida);
    EXPECT_EQ(pids.size(), 4u) << salida;
    for (pid_t p : pids) EXPECT_TRUE(kill(p, 0) != 0 && errno == ESRCH) << "sigue vivo el PID " << p;
    for (int p : {rtmp, relay, control}) EXPECT_TRUE(nadieEscucha(p)) << p;
    EXPECT_EQ(salida.find("dejó archivos temporales"), std::string::npos) << salida;
    EXPECT_EQ(salida.find("terminó con estado"), std::string::npos) << salida;  // a service that did not exit cleanly
    EXPECT_TRUE(fs::is_empty(tmp.ruta())) << "quedó algo en " << tmp.ruta();
    EXPECT_FALSE(fs::exists(pila / "pila.pid"));
    // The key file stays private; the stream key never reaches a log.
    EXPECT_EQ(fs::status(pila / "claves").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    for (auto nombre : {"relay.log", "control.log", "nginx.log"})
        EXPECT_EQ(leer(pila / nombre).find("live/prueba"), std::string::npos) << nombre;
}
