#include "comun/bitacora.h"

#include "comun/proceso.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace tt {

namespace {
std::mutex candadoBitacora;  // one line's open-append-close at a time
}

std::string lineaConHora(std::string_view texto) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char hora[16];
    std::strftime(hora, sizeof hora, "%H:%M:%S", &local);
    std::string linea;
    linea.reserve(texto.size() + 10);
    linea.append(hora).append(" ").append(texto).append("\n");
    return linea;
}

void anotarEnError(std::string_view texto) {
    static std::mutex candado;
    const std::string linea = lineaConHora(texto);
    std::lock_guard l(candado);
    std::fwrite(linea.data(), 1, linea.size(), stderr);
    std::fflush(stderr);
}

void bitacora(std::string_view texto) {
    const std::string linea = lineaConHora(texto);
    std::lock_guard l(candadoBitacora);
    int fd = ::open((carpetaLog() / "app.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::size_t hecho = 0;
    while (hecho < linea.size()) {
        ssize_t n = ::write(fd, linea.data() + hecho, linea.size() - hecho);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        hecho += std::size_t(n);
    }
    ::close(fd);
}

void bitacoraDepurar(std::string_view texto) {
    if (entorno().tiene(Tm::depurar)) bitacora(texto);
}

}  // namespace tt
