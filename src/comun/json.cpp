#include "comun/json.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

std::string textoJson(const Json& j) {
    return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::optional<std::string> leerArchivo(const std::filesystem::path& ruta, std::size_t tope) {
    int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string datos;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || datos.size() + std::size_t(n) > tope) {
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
    std::string plantilla = (ruta.parent_path() / ("." + ruta.filename().string() + ".XXXXXX")).string();
    // mkstemp creates the file with 0600, so private content is never readable by others.
    int fd = ::mkostemp(plantilla.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool bien = true;
    if (!privado) {
        mode_t mascara = ::umask(0);
        ::umask(mascara);
        bien = ::fchmod(fd, 0666 & ~mascara) == 0;
    }
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
