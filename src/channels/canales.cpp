#include "channels/canales.h"

#include "comun/bitacora.h"
#include "comun/cripto.h"
#include "comun/proceso.h"
#include "pantallas/almacen.h"
#include "pantallas/pantalla.h"

#include <algorithm>

namespace tt {

namespace fs = std::filesystem;

namespace {

// The channels of a file, or nothing when it is not an array of whole channels.
std::optional<std::vector<Canal>> leerCanales(const fs::path& archivo) {
    auto j = leerJson(archivo);
    if (!j || !j->is_array()) return std::nullopt;
    std::vector<Canal> lista;
    for (const Json& e : *j) {
        auto c = canalDeJson(e);
        if (!c) return std::nullopt;
        lista.push_back(std::move(*c));
    }
    return lista;
}

bool mismaCarpeta(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return a.lexically_normal() == b.lexically_normal();
}

}  // namespace

std::string nombreDeCarpeta(const std::string& id) {
    if (esNombreLlano(id)) return id;
    return "canal-" + sha256Hex(id).substr(0, 32);
}

Canales::Canales() : Canales(carpetaCuenta(), carpetaDatos()) {}

Canales::Canales(fs::path cuenta, fs::path datos)
    : cuenta_(std::move(cuenta)), datos_(std::move(datos)), archivo_(cuenta_ / "canales.json") {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(archivo_, ec))) {
        if (auto l = leerCanales(archivo_)) {
            lista = std::move(*l);
        } else {
            danado_ = true;
            bitacora("canales: " + archivo_.string() + " no se pudo leer; se guarda aparte antes de escribirlo");
        }
    }
    if (!cuentaEsDatos())
        if (auto l = leerCanales(datos_ / "canales.json")) anteriores = std::move(*l);
}

std::optional<Canal> Canales::operator[](const std::string& id) const {
    for (const Canal& c : lista)
        if (c.id == id) return c;
    return std::nullopt;
}

bool Canales::cuentaEsDatos() const { return mismaCarpeta(cuenta_, datos_); }

fs::path Canales::carpeta(const std::string& id) const { return cuenta_ / "canales" / nombreDeCarpeta(id); }

void Canales::guardar(const Canal& c) {
    auto it = std::find_if(lista.begin(), lista.end(), [&](const Canal& x) { return x.id == c.id; });
    if (it != lista.end()) {
        *it = c;
    } else {
        lista.push_back(c);
        // A channel kept before signing in brings its screens along.
        fs::path propia = carpeta(c.id), previa = datos_ / "canales" / nombreDeCarpeta(c.id);
        std::error_code ec;
        if (!cuentaEsDatos() && !fs::exists(propia, ec) && fs::is_directory(previa, ec)) {
            fs::create_directories(propia.parent_path(), ec);
            fs::copy(previa, propia, fs::copy_options::recursive, ec);
            if (ec) bitacora("canales: no se pudieron copiar las pantallas de antes: " + ec.message());
        }
    }
    escribir();
}

void Canales::eliminar(const std::string& id) {
    lista.erase(std::remove_if(lista.begin(), lista.end(), [&](const Canal& c) { return c.id == id; }), lista.end());
    escribir();
    std::error_code ec;
    fs::remove_all(carpeta(id), ec);
}

void Canales::escribir() {
    std::error_code ec;
    fs::create_directories(cuenta_, ec);
    if (danado_) {
        apartarDanado(archivo_);
        danado_ = false;
    }
    Json j = Json::array();
    for (const Canal& c : lista) j.push_back(aJson(c));
    // Stream keys inside: readable by the user alone.
    if (!escribirJson(archivo_, j, true)) bitacora("canales: no se pudo escribir " + archivo_.string());
}

}  // namespace tt
