#include "channels/eleccion.h"

#include "comun/bitacora.h"
#include "pantallas/almacen.h"

#include <QSettings>

namespace tt {

namespace fs = std::filesystem;

std::optional<Canal> canalElegido(const Canales& canales, const std::optional<std::string>& guardado) {
    if (guardado)
        if (auto c = canales[*guardado]) return c;
    if (canales.lista.empty()) return std::nullopt;
    return canales.lista.front();
}

std::optional<Canal> canalElegido(const Canales& canales, const QSettings& preferidas) {
    QVariant v = preferidas.value("canal");
    std::optional<std::string> guardado;
    if (v.isValid()) guardado = v.toString().toStdString();
    return canalElegido(canales, guardado);
}

bool hayQueCargar(const std::optional<Canal>& elegido, const std::optional<std::string>& cargado,
                  bool uiLista, bool forzar) {
    if (!uiLista || forzar) return true;
    std::optional<std::string> id;
    if (elegido) id = elegido->id;
    return id != cargado;
}

fs::path baseDeCanal(const Canales& canales, const std::optional<Canal>& elegido) {
    const fs::path &cuenta = canales.cuenta(), &datos = canales.datos();
    if (!elegido) return cuenta;
    fs::path base = canales.carpeta(elegido->id);
    std::error_code ec;
    if (!fs::exists(cuenta / "canales", ec)) {
        fs::create_directories(base, ec);
        if (canales.cuentaEsDatos()) {
            for (const char* nombre : {"pantallas.json", "pantallas"}) {
                fs::path de = datos / nombre, a = base / nombre;
                if (!fs::exists(fs::symlink_status(de, ec)) || fs::exists(fs::symlink_status(a, ec))) continue;
                fs::rename(de, a, ec);
                if (ec) bitacora("canales: no se pudo mover " + de.string() + ": " + ec.message());
            }
            bitacora("canales: las pantallas de antes pasan al canal " + elegido->nombre);
        }
    }
    fs::create_directories(base, ec);
    return base;
}

std::unique_ptr<Almacen> abrirCanal(const Canales& canales, const std::optional<Canal>& elegido,
                                    Almacen* actual, std::optional<std::string>& cargado) {
    if (actual) actual->escribir();
    fs::path base = baseDeCanal(canales, elegido);
    cargado.reset();
    if (elegido) cargado = elegido->id;
    return std::make_unique<Almacen>(base);
}

bool mezclarMono(const QSettings& preferidas, const std::optional<Canal>& elegido) {
    if (elegido) {
        QString propia = QString::fromStdString("mono." + elegido->id);
        if (preferidas.contains(propia)) return preferidas.value(propia).toBool();
    }
    return preferidas.value("mono").toBool();
}

MenuCanales menuCanales(const Canales& canales, const std::optional<Canal>& elegido) {
    MenuCanales m;
    if (canales.lista.empty()) m.items.push_back({"Sin canal: agrega el tuyo", "+"});
    for (const Canal& c : canales.lista) {
        if (elegido && c.id == elegido->id) m.elegido = int(m.items.size());
        m.items.push_back({c.nombre, c.id});
    }
    m.items.push_back({"", "", true});
    m.items.push_back({"Editar canales…", "+"});
    m.tituloPantallas = elegido ? "Pantallas de " + elegido->nombre : "Pantallas";
    return m;
}

}  // namespace tt
