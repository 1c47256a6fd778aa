#include "comun/archivo_claves.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

std::optional<std::map<std::string, std::string>> leerArchivoClaves(const std::string& ruta,
                                                                    const std::set<std::string>& nombres,
                                                                    std::string& error) {
    int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "no se pudo abrir el archivo de claves " + ruta + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st{};
    const bool comun = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string texto;
    if (comun && (st.st_mode & 077) == 0) {
        char b[4096];
        ssize_t n;
        while ((n = ::read(fd, b, sizeof b)) > 0 && texto.size() < (1u << 20)) texto.append(b, std::size_t(n));
    }
    ::close(fd);
    if (!comun) {
        error = "el archivo de claves " + ruta + " no es un archivo común";
        return std::nullopt;
    }
    if ((st.st_mode & 077) != 0) {
        char modo[8];
        std::snprintf(modo, sizeof modo, "%04o", unsigned(st.st_mode & 07777));
        error = "otros usuarios pueden leer el archivo de claves " + ruta + " (permisos " + modo +
                "); déjelo en 0600 (chmod 600)";
        return std::nullopt;
    }
    std::map<std::string, std::string> valores;
    std::size_t i = 0;
    int linea = 0;
    while (i < texto.size()) {
        auto fin = texto.find('\n', i);
        if (fin == std::string::npos) fin = texto.size();
        std::string l = texto.substr(i, fin - i);
        i = fin + 1;
        ++linea;
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (l.empty() || l[0] == '#') continue;
        const auto igual = l.find('=');
        const std::string nombre = l.substr(0, igual);
        if (igual == std::string::npos || !nombres.count(nombre)) {
            std::string esperados;
            for (auto& n : nombres) esperados += (esperados.empty() ? "" : " o ") + n + "=…";
            error = "línea " + std::to_string(linea) + " del archivo de claves no reconocida (se espera " +
                    esperados + ")";
            return std::nullopt;
        }
        valores[nombre] = l.substr(igual + 1);
    }
    return valores;
}

}  // namespace tt
