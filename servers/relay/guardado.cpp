#include "guardado.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt::relay {

namespace fs = std::filesystem;

bool Guardado::abrir(const std::string& carpeta, double ahora, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(carpeta, ec)) {
        if (::mkdir(carpeta.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "no se pudo crear " + carpeta + ": " + std::strerror(errno);
            return false;
        }
    }
    const std::string ruta = (fs::path(carpeta) / "permisos").string();
    std::ifstream f(ruta, std::ios::binary);
    if (f) {
        std::stringstream s;
        s << f.rdbuf();
        registros_ = deTexto(s.str(), ahora);
    } else if (fs::exists(ruta, ec)) {
        error = "no se pudo leer " + ruta;
        return false;
    }
    ruta_ = ruta;
    return true;
}

bool Guardado::guardar(double ahora, std::size_t tope) {
    if (!activo()) return false;
    std::erase_if(registros_, [&](const auto& r) { return r.second.hasta < ahora; });
    if (registros_.size() > tope) {
        std::vector<double> hastas;
        for (const auto& [sid, r] : registros_) hastas.push_back(r.hasta);
        std::nth_element(hastas.begin(), hastas.end() - tope, hastas.end());
        const double corte = *(hastas.end() - tope);
        std::erase_if(registros_, [&](const auto& r) { return r.second.hasta < corte; });
    }
    const std::string texto = aTexto(registros_);
    const std::string nueva = ruta_ + ".nuevo";
    const int fd = ::open(nueva.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);  // a file left by an earlier run keeps its mode otherwise
    std::size_t i = 0;
    while (i < texto.size()) {
        const ssize_t n = ::write(fd, texto.data() + i, texto.size() - i);
        if (n <= 0) break;
        i += std::size_t(n);
    }
    const bool bien = i == texto.size() && ::fdatasync(fd) == 0;
    ::close(fd);
    return bien && std::rename(nueva.c_str(), ruta_.c_str()) == 0;
}

std::string Guardado::aTexto(const std::map<std::string, Registro>& r) {
    std::string s;
    char cifras[64];
    for (const auto& [sid, g] : r) {
        std::snprintf(cifras, sizeof cifras, " %.3f ", g.entregado);
        s += sid + cifras + (g.razon.empty() ? "-" : g.razon);
        std::snprintf(cifras, sizeof cifras, " %.0f\n", g.hasta);
        s += cifras;
    }
    return s;
}

std::map<std::string, Registro> Guardado::deTexto(std::string_view texto, double ahora) {
    std::map<std::string, Registro> r;
    std::istringstream s{std::string(texto)};
    std::string linea;
    while (std::getline(s, linea)) {
        std::istringstream l(linea);
        std::string sid, razon;
        Registro g;
        if (!(l >> sid >> g.entregado >> razon >> g.hasta) || g.entregado < 0 || g.hasta < ahora) continue;
        if (razon != "-") g.razon = razon;
        r[sid] = g;
    }
    return r;
}

}  // namespace tt::relay
