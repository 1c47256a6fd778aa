#include "e2e/corrida.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tt::prueba {

Corrida::Corrida() {
    fs::create_directories(casa / ".local/share/Tremolante");
    // Nothing listens on port 1: a test that streams names its own server.
    config(R"({"servidor": "rtmp://127.0.0.1:1/live/mac", "kbps": 1200, "preset": 12})");
    std::string imagen = (tmp / "camara.png").string();
    std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 " + imagen).c_str());
}

Corrida::~Corrida() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

void Corrida::config(const std::string& json) { escribir(casa / ".local/share/Tremolante/config.json", json); }

void Corrida::arrancar(std::vector<std::string> extra, const std::string& programa) {
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + casa.ruta().string(),
                                    "TM_DATOS=" + datos.ruta().string(), "TMPDIR=" + tmp.ruta().string(),
                                    "QT_QPA_PLATFORM=offscreen", "TM_CAMARA_FALSA=" + (tmp / "camara.png").string()};
    env.insert(env.end(), extra.begin(), extra.end());
    pid = fork();
    if (pid == 0) {
        std::vector<char*> e;
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        int nulo = open("/dev/null", O_WRONLY);
        dup2(nulo, 2);
        execle(programa.c_str(), "tremolante", nullptr, e.data());
        _exit(127);
    }
}

int Corrida::esperar(double segundos) {
    int estado = -1;
    tt::prueba::esperar([&] {
        int s;
        if (pid <= 0 || waitpid(pid, &s, WNOHANG) != pid) return false;
        pid = -1;
        estado = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
        return true;
    }, segundos);
    return estado;
}

std::string Corrida::bitacora() const { return leer(casa / ".local/state/Tremolante/app.log"); }

bool Corrida::esperarEnBitacora(const std::string& texto, double segundos) const {
    for (int i = 0; i < segundos * 10; ++i) {
        if (bitacora().find(texto) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

Hijo::Hijo(std::vector<std::string> argv, std::vector<std::string> env, const fs::path& salida) {
    pid = fork();
    if (pid == 0) {
        int f = open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(f, 1);
        dup2(f, 2);
        std::vector<char*> a, e;
        for (auto& x : argv) a.push_back(x.data());
        a.push_back(nullptr);
        for (auto& x : env) e.push_back(x.data());
        e.push_back(nullptr);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
}

Hijo::~Hijo() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool Hijo::vivo() {
    int s;
    if (pid > 0 && waitpid(pid, &s, WNOHANG) == pid) {
        pid = -1;
        estado = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }
    return pid > 0;
}

int Hijo::esperar(double segundos) {
    return tt::prueba::esperar([&] { return !vivo(); }, segundos) ? estado : -1;
}

namespace {
std::string leerOrden(const std::string& orden) {
    std::string r;
    FILE* p = popen(orden.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.append(buf, n);
    pclose(p);
    return r;
}
}  // namespace

std::string salidaDe(const std::string& orden) { return leerOrden(orden + " 2>/dev/null"); }
std::string erroresDe(const std::string& orden) { return leerOrden(orden + " 2>&1 >/dev/null"); }

double numero(const std::string& texto, const std::string& clave) {
    std::smatch m;
    if (!std::regex_search(texto, m, std::regex(clave + "=([0-9.]+)"))) return -1;
    return std::stod(m[1]);
}

}  // namespace tt::prueba
