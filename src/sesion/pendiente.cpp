#include "sesion/pendiente.h"

#include "comun/proceso.h"

#include <chrono>
#include <istream>
#include <memory>

#include <pthread.h>
#include <sys/stat.h>

namespace tt::pendiente {

fs::path archivo() { return carpetaDatos() / "sesion.json"; }

double ahoraPared() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::optional<SesionGuardada> leer(const fs::path& ruta) {
    std::error_code e;
    if (!fs::is_regular_file(fs::symlink_status(ruta, e))) return std::nullopt;
    auto j = leerJson(ruta, 64 << 10);
    return j ? sesionDe(*j) : std::nullopt;
}

void guardar(const SesionGuardada& s, const fs::path& ruta) {
    if (auto hay = leer(ruta); hay && hay->sid == s.sid) return;
    escribirJson(ruta, aJson(s), true);
}

void borrar(const std::optional<std::string>& sid, const fs::path& ruta) {
    if (sid) {
        auto hay = leer(ruta);
        if (!hay || hay->sid != *sid) return;
    }
    std::error_code e;
    fs::remove(ruta, e);
}

bool marcarDetenida(const std::string& sid, const fs::path& ruta) {
    auto hay = leer(ruta);
    if (!hay || hay->sid != sid) return false;
    hay->detenida = true;
    escribirJson(ruta, aJson(*hay), true);
    return true;
}

void tocar(const fs::path& ruta) {
    std::error_code e;
    fs::last_write_time(ruta, fs::file_time_type::clock::now(), e);
}

double silencioDe(const fs::path& ruta) {
    struct stat st {};
    if (::stat(ruta.c_str(), &st) != 0) return silencio(std::nullopt, ahoraPared());
    return silencio(double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9, ahoraPared());
}

}  // namespace tt::pendiente
