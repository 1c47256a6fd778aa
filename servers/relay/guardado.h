#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace tt::relay {

// What a permission's transmission leaves behind when the relay stops: the seconds it was on air
// and, once closed, why. Kept until `hasta` (wall clock): past it the permission can no longer be
// admitted anyway.
struct Registro {
    double entregado = 0;
    std::string razon;  // empty while open; otherwise what later handshakes are told
    double hasta = 0;
};

// The relay's memory across restarts, one file in a folder of its own: without it a restart
// would open a closed permission again and count its seconds from zero, which the control
// service (it keeps the highest total) would never charge. One line per permission,
// "sid segundos razón hasta" ("-" while open). Owner: the server's thread.
class Guardado {
public:
    // Creates the folder (0700) if needed and reads what is there; false with `error` when the
    // folder cannot be used.
    bool abrir(const std::string& carpeta, double ahora, std::string& error);
    bool activo() const { return !ruta_.empty(); }
    std::map<std::string, Registro>& registros() { return registros_; }
    // Writes everything still worth keeping (at most `tope` lines, the longest-lived ones) to a
    // new file, 0600 from its creation, that replaces the old one; false when it could not.
    bool guardar(double ahora, std::size_t tope);

    static std::string aTexto(const std::map<std::string, Registro>& r);
    // Malformed lines and those past their `hasta` are left out.
    static std::map<std::string, Registro> deTexto(std::string_view texto, double ahora);

private:
    std::string ruta_;
    std::map<std::string, Registro> registros_;
};

}  // namespace tt::relay
