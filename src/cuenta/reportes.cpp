#include "cuenta/reportes.h"

#include "comun/json.h"
#include "comun/proceso.h"

#include <QString>

#include <algorithm>

namespace tt {

std::filesystem::path carpetaInformes() { return carpetaLog() / "informes"; }

std::string versionApp() {
#ifdef TM_VERSION
    std::string version = TM_VERSION, build = "?";
#else
    std::string version = "?", build = "?";
#endif
    // The copy's own description beside its resources: an update changes the build, not the binary.
    if (auto j = leerJson(recursos() / "app.json", 64 << 10); j && j->is_object()) {
        auto texto = [&](const char* clave, std::string& destino) {
            if (auto v = j->find(clave); v != j->end() && v->is_string() && !v->get<std::string>().empty())
                destino = v->get<std::string>();
        };
        texto("version", version);
        texto("build", build);
    }
    return version + " (" + build + ")";
}

std::vector<std::string> elegirReportes(std::vector<std::string> nombres, const std::set<std::string>& mandados) {
    // A name that is not UTF-8 was not written by this program, and could not travel as JSON.
    std::erase_if(nombres, [&](const std::string& n) {
        return n.rfind("Tremolante", 0) != 0 || mandados.count(n) || comoUtf8(n) != n;
    });
    std::sort(nombres.begin(), nombres.end());
    nombres.erase(std::unique(nombres.begin(), nombres.end()), nombres.end());
    if (nombres.size() > informesPorInicio)
        nombres.erase(nombres.begin(), nombres.end() - std::ptrdiff_t(informesPorInicio));
    return nombres;
}

std::string comoUtf8(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).toStdString();
}

nlohmann::json cuerpoReporte(const CuentaReporte& cuenta, const std::string& nombre, const std::string& version,
                             std::string_view informe, std::string_view bitacora) {
    if (bitacora.size() > topeColaBitacora) bitacora.remove_prefix(bitacora.size() - topeColaBitacora);
    std::string texto = comoUtf8(informe.substr(0, topeInforme));
    texto += "\n\n===== final de la bitácora =====\n";
    texto += comoUtf8(bitacora);
    return nlohmann::json{{"sala", cuenta.sala}, {"ficha", cuenta.ficha}, {"correo", cuenta.correo},
                          {"tipo", "cierre"},    {"nombre", nombre},      {"version", version},
                          {"texto", std::move(texto)}};
}

}  // namespace tt
