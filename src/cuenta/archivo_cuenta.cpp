#include "cuenta/archivo_cuenta.h"

#include "comun/json.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

namespace {
constexpr std::size_t kTope = 16 * 1024;

// Read without following a link and without waiting on a pipe; never past the limit.
std::optional<std::string> leerAcotado(const std::filesystem::path& ruta) {
    int fd = ::open(ruta.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > off_t(kTope)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string datos(kTope + 1, '\0');
    std::size_t hecho = 0;
    while (hecho < datos.size()) {
        ssize_t n = ::read(fd, datos.data() + hecho, datos.size() - hecho);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        hecho += std::size_t(n);
    }
    ::close(fd);
    if (hecho > kTope) return std::nullopt;  // grew while being read
    datos.resize(hecho);
    return datos;
}
}  // namespace

std::optional<Cuenta> leerCuenta(const std::filesystem::path& ruta) {
    auto datos = leerAcotado(ruta);
    if (!datos) return std::nullopt;
    Json j = Json::parse(*datos, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    for (auto& [k, v] : j.items())
        if (!v.is_string()) return std::nullopt;  // a string-to-string map, or nothing
    Cuenta c;
    for (auto [clave, campo] : {std::pair{"correo", &c.correo}, std::pair{"sala", &c.sala}, std::pair{"ficha", &c.ficha}}) {
        auto i = j.find(clave);
        if (i == j.end()) return std::nullopt;
        *campo = i->get<std::string>();
    }
    return c;
}

void guardarCuenta(const std::filesystem::path& ruta, const std::optional<Cuenta>& c) {
    std::error_code ec;
    if (!c) {
        std::filesystem::remove(ruta, ec);
        return;
    }
    // Made 0600 before any byte is written, then renamed over the old one.
    escribirJson(ruta, Json{{"correo", c->correo}, {"sala", c->sala}, {"ficha", c->ficha}}, true);
}

}  // namespace tt
