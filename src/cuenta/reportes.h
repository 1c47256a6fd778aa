#pragma once

// What goes to the control service from the crash reports: which files, and the body of each.
// No I/O here; the upload itself is mandar_reportes.h.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tt {

inline constexpr std::size_t topeInforme = 90000;     // bytes of one report sent
inline constexpr std::size_t topeColaBitacora = 9000;  // bytes of the log's end sent with it
inline constexpr std::size_t informesPorInicio = 4;

// Where the crash handler writes and the upload looks: "informes" in the log folder.
std::filesystem::path carpetaInformes();
// "0.1.0 (7)": the version, then the build number (from the resources' app.json), "?" for what
// is unknown.
std::string versionApp();

// The names to send now, in ascending order: of those that begin with "Tremolante" and are not in
// `mandados` (and are UTF-8), the greatest four (the names carry the date, so the newest four).
std::vector<std::string> elegirReportes(std::vector<std::string> nombres, const std::set<std::string>& mandados);

// Bytes read as UTF-8, each invalid sequence replaced by U+FFFD (so any file can travel as JSON).
std::string comoUtf8(std::string_view bytes);

struct CuentaReporte {
    std::string sala, ficha, correo;
};

// The body of "/reporte": the first 90 000 bytes of the report, then the separator, then the last
// 9000 bytes of the log (both may be given longer; they are cut here).
nlohmann::json cuerpoReporte(const CuentaReporte& cuenta, const std::string& nombre, const std::string& version,
                             std::string_view informe, std::string_view bitacora);

}  // namespace tt
