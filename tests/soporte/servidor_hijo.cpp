#include "soporte/servidor_hijo.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

std::string ServidorHijo::rutaNueva(const std::string& base, const std::string& extension) {
    return (raizPruebas() / (base + "-" + std::to_string(getpid()) + "-" + std::to_string(contador++) + extension))
        .string();
}

std::vector<std::string> ServidorHijo::entornoSin(const std::string& prefijo) {
    std::vector<std::string> entorno;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind(prefijo, 0) != 0) entorno.push_back(*e);
    return entorno;
}

ServidorHijo::ServidorHijo(std::string nombre, std::vector<std::string> argumentos, std::vector<std::string> entorno)
    : nombre_(std::move(nombre)), rutaRegistro_(rutaNueva(nombre_, ".log")) {
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<char*> av, ev;
    for (auto& s : argumentos) av.push_back(s.data());
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
}

ServidorHijo::~ServidorHijo() {
    if (pid_ > 0 && !detenido_) {
        const int r = detener();
        EXPECT_EQ(r, 0) << nombre_ << " no terminó limpio tras SIGTERM (estado " << estado_ << "): " << registro();
    }
}

int ServidorHijo::esperar(double segundos) {
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
    return estado;
}

int ServidorHijo::detener(double segundos) {
    if (pid_ <= 0) return -1;
    detenido_ = true;
    if (estado_ == -2) {
        kill(pid_, SIGTERM);
        if (esperar(segundos) == -1) return -1;
    }
    return WIFEXITED(estado_) ? WEXITSTATUS(estado_) : -1;
}

int ServidorHijo::salidaSinArrancar(double segundos) {
    if (pid_ <= 0) return -1;
    detenido_ = true;
    if (estado_ == -2 && esperar(segundos) == -1) return -1;
    return WIFEXITED(estado_) ? WEXITSTATUS(estado_) : -1;
}

bool ServidorHijo::vivo() {
    if (pid_ <= 0 || estado_ != -2) return false;
    int estado = 0;
    if (waitpid(pid_, &estado, WNOHANG) == 0) return true;
    estado_ = estado;
    return false;
}

std::string ServidorHijo::registro() const { return leer(rutaRegistro_); }

}  // namespace tt::prueba
