#include "cuenta/archivo_cuenta.h"

#include "comun/json.h"

#include <system_error>
#include <utility>

namespace tt {

namespace {
constexpr std::size_t kTope = 16 * 1024;
}  // namespace

std::optional<Cuenta> leerCuenta(const std::filesystem::path& ruta) {
    auto datos = leerArchivo(ruta, kTope, false);  // the token's file is never a link
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
