#include "comun/config.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"

#include <limits>

namespace tt {

Json aJson(const Config& c) {
    Json j;
    j["servidor"] = c.servidor;
    j["kbps"] = c.kbps;
    j["preset"] = c.preset;
    if (c.entrada) j["entrada"] = *c.entrada;
    if (c.clave) j["clave"] = *c.clave;
    return j;
}

namespace {
std::optional<int> entero(const Json& j, const char* clave) {
    auto it = j.find(clave);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    double d = it->get<double>();
    if (it->is_number_float() && d != double((long long)d)) return std::nullopt;
    auto v = it->is_number_float() ? (long long)d : it->get<long long>();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return std::nullopt;
    return int(v);
}
std::optional<std::optional<std::string>> textoOpcional(const Json& j, const char* clave) {
    auto it = j.find(clave);
    if (it == j.end() || it->is_null()) return std::optional<std::string>{};
    if (!it->is_string()) return std::nullopt;
    return std::optional<std::string>{it->get<std::string>()};
}
}  // namespace

std::optional<Config> configDeJson(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    auto servidor = j.find("servidor");
    auto kbps = entero(j, "kbps");
    auto preset = entero(j, "preset");
    auto entrada = textoOpcional(j, "entrada");
    auto clave = textoOpcional(j, "clave");
    if (servidor == j.end() || !servidor->is_string() || !kbps || !preset || !entrada || !clave)
        return std::nullopt;
    Config c;
    c.servidor = servidor->get<std::string>();
    c.kbps = *kbps;
    c.preset = *preset;
    c.entrada = *entrada;
    c.clave = *clave;
    return c;
}

Config leerConfig(const std::filesystem::path& carpeta) {
    std::error_code ec;
    std::filesystem::create_directories(carpeta, ec);
    auto ruta = carpeta / "config.json";
    if (auto j = leerJson(ruta))
        if (auto c = configDeJson(*j)) return *c;

    Config porDefecto;
    if (std::filesystem::exists(ruta, ec)) {
        auto guardada = carpeta / "config.json.dañado";
        std::filesystem::rename(ruta, guardada, ec);
        bitacora(ec ? "config: config.json dañado, se reemplaza por los valores de fábrica"
                    : "config: config.json dañado, guardado como config.json.dañado; se usan los valores de fábrica");
    }
    escribirJson(ruta, aJson(porDefecto), true);
    return porDefecto;
}

Config leerConfig() { return leerConfig(proceso().carpetaHogar); }

}  // namespace tt
