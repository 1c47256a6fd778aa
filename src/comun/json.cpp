#include "comun/json.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

std::string textoJson(const Json& j) {
    return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::optional<std::string> leerArchivo(const std::filesystem::path& ruta, std::size_t tope, bool seguirEnlace) {
    // Never waits on a pipe or a device put where a file should be.
    int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (seguirEnlace ? 0 : O_NOFOLLOW));
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uintmax_t(st.st_size) > tope) {
        ::close(fd);
        return std::nullopt;
    }
    std::string datos;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || datos.size() + std::size_t(n) > tope) {  // also a file that grew while read
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        datos.append(buf, std::size_t(n));
    }
    ::close(fd);
    return datos;
}

std::optional<Json> leerJson(const std::filesystem::path& ruta, std::size_t tope) {
    auto datos = leerArchivo(ruta, tope);
    if (!datos) return std::nullopt;
    Json j = Json::parse(*datos, nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    return j;
}

bool escribirAtomico(const std::filesystem::path& ruta, const std::string& bytes, bool privado) {
    // The temporary sibling is made with its final mode: 0600 for private content, else 0666 less
    // the umask, applied by the kernel. The umask itself is never touched: it is the whole
    // process's, and files made meanwhile by other threads or children would inherit a changed one.
    static std::atomic<unsigned> contador{0};
    std::random_device azar;
    std::string plantilla;
    int fd = -1;
    for (int intento = 0; intento < 100 && fd < 0; ++intento) {
        char sufijo[32];
        std::snprintf(sufijo, sizeof sufijo, ".%x%x%x", unsigned(::getpid()), contador++, azar());
        plantilla = (ruta.parent_path() / ("." + ruta.filename().string() + sufijo)).string();
        fd = ::open(plantilla.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privado ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool bien = true;
    std::size_t hecho = 0;
    while (bien && hecho < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + hecho, bytes.size() - hecho);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) bien = false;
        else hecho += std::size_t(n);
    }
    if (bien) bien = ::fsync(fd) == 0;
    if (::close(fd) != 0) bien = false;
    if (bien) bien = ::rename(plantilla.c_str(), ruta.c_str()) == 0;
    if (!bien) ::unlink(plantilla.c_str());
    return bien;
}

bool escribirJson(const std::filesystem::path& ruta, const Json& j, bool privado) {
    return escribirAtomico(ruta, textoJson(j) + "\n", privado);
}

}  // namespace tt
