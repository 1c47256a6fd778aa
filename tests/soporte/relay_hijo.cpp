#include "soporte/relay_hijo.h"

#include "soporte/soporte.h"

#include "comun/cripto.h"
#include "comun/permiso.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tt::prueba {

namespace {
std::atomic<int> contador{0};
}

Pase paseSellado(const std::string& entrada, const std::string& secreto, const std::string& sid, long long segundos,
                 const std::string& destino) {
    const double ahora = double(std::time(nullptr));
    Permiso p{sid, "sala-" + sid, destino, segundos, ahora + 300, destino.empty(), ahora};
    return Pase{entrada, sid, hmacHex(secreto, "llave|" + sid), sellarPermiso(secreto, p), int(segundos)};
}

RelayHijo::RelayHijo(ClavesRelay claves, std::vector<std::string> argumentos) {
    // The old form RelayHijo({"--clave", "k"}) still compiles, as keys "--clave" and "k".
    if (claves.clave.rfind("--", 0) == 0 || claves.secreto.rfind("--", 0) == 0)
        ADD_FAILURE() << "RelayHijo: las claves van en ClavesRelay {clave, secreto}, no como opciones";
    rutaRegistro_ = (raizPruebas() / ("relay-" + std::to_string(getpid()) + "-" + std::to_string(contador++) + ".log")).string();
    std::vector<std::string> todo{std::string(TM_BIN) + "/tremolante-relay", "--escuchar", "127.0.0.1:0"};
    todo.insert(todo.end(), argumentos.begin(), argumentos.end());
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> entorno;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("TM_RELAY_", 0) != 0) entorno.push_back(v);
    }
    if (!claves.clave.empty()) entorno.push_back("TM_RELAY_CLAVE=" + claves.clave);
    if (!claves.secreto.empty()) entorno.push_back("TM_RELAY_SECRETO=" + claves.secreto);
    std::vector<char*> av, ev;
    for (auto& s : todo) av.push_back(s.data());
    av.push_back(nullptr);
    for (auto& s : entorno) ev.push_back(s.data());
    ev.push_back(nullptr);
    int tubo[2];
    if (pipe(tubo) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(tubo[1], 1);
        int fd = open(rutaRegistro_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) dup2(fd, 2);
        close(tubo[0]);
        execve(av[0], av.data(), ev.data());
        _exit(127);
    }
    close(tubo[1]);
    std::string linea;
    char c;
    while (read(tubo[0], &c, 1) == 1 && c != '\n') linea.push_back(c);
    close(tubo[0]);
    auto dos = linea.rfind(':');
    if (linea.rfind("escuchando en ", 0) == 0 && dos != std::string::npos)
        puerto_ = std::uint16_t(std::stoi(linea.substr(dos + 1)));
    EXPECT_NE(puerto_, 0) << "el relay no arrancó: " << registro();
}

RelayHijo::~RelayHijo() {
    if (pid_ > 0 && !detenido_) {
        const int r = detener();
        EXPECT_EQ(r, 0) << "el relay no terminó limpio tras SIGTERM (estado " << estado_ << "): " << registro();
    }
}

int RelayHijo::detener(double segundos) {
    if (pid_ <= 0) return -1;
    detenido_ = true;
    if (estado_ == -2) {
        kill(pid_, SIGTERM);
        const auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
        int estado = 0;
        pid_t r = 0;
        while ((r = waitpid(pid_, &estado, WNOHANG)) == 0 && std::chrono::steady_clock::now() < hasta)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (r == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &estado, 0);
            estado_ = estado;
            return -1;
        }
        estado_ = estado;
    }
    return WIFEXITED(estado_) ? WEXITSTATUS(estado_) : -1;
}

bool RelayHijo::vivo() {
    if (pid_ <= 0 || estado_ != -2) return false;
    int estado = 0;
    if (waitpid(pid_, &estado, WNOHANG) == 0) return true;
    estado_ = estado;
    return false;
}

std::string RelayHijo::registro() const { return leer(rutaRegistro_); }

}  // namespace tt::prueba
