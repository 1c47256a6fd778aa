#include "soporte/relay_hijo.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tt::prueba {

namespace {
std::atomic<int> contador{0};
}

RelayHijo::RelayHijo(std::vector<std::string> argumentos) {
    rutaRegistro_ = (raizPruebas() / ("relay-" + std::to_string(getpid()) + "-" + std::to_string(contador++) + ".log")).string();
    int tubo[2];
    if (pipe(tubo) != 0) return;
    std::vector<std::string> todo{std::string(TM_BIN) + "/tremolante-relay", "--escuchar", "127.0.0.1:0"};
    todo.insert(todo.end(), argumentos.begin(), argumentos.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(tubo[1], 1);
        int fd = open(rutaRegistro_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) dup2(fd, 2);
        close(tubo[0]);
        std::vector<char*> av;
        for (auto& s : todo) av.push_back(s.data());
        av.push_back(nullptr);
        execv(av[0], av.data());
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
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int estado = 0;
        for (int i = 0; i < 200 && waitpid(pid_, &estado, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (waitpid(pid_, &estado, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &estado, 0);
        }
    }
}

bool RelayHijo::vivo() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

std::string RelayHijo::registro() const { return leer(rutaRegistro_); }

}  // namespace tt::prueba
