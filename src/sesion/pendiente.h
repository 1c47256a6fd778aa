#pragma once

// The open-transmission record on disk.

#include "sesion/sesion_guardada.h"


#include <filesystem>
#include <optional>
#include <string>

namespace tt::pendiente {

namespace fs = std::filesystem;

fs::path archivo();  // sesion.json in the data folder
// Nothing when the file is missing, not a plain file, too large or does not decode.
std::optional<SesionGuardada> leer(const fs::path& ruta = archivo());
// Writes the record for this permission unless the file already holds its sid (the first
// `inicio` stays). 0600 from creation, replaced atomically.
void guardar(const SesionGuardada& s, const fs::path& ruta = archivo());
// With a sid: only when the file decodes and holds that sid. Errors ignored.
void borrar(const std::optional<std::string>& sid, const fs::path& ruta = archivo());
// Rewrites the record of this sid with `detenida`; false when the file holds another or none.
bool marcarDetenida(const std::string& sid, const fs::path& ruta = archivo());
void tocar(const fs::path& ruta = archivo());  // a sign of life: the modification time is now
// Seconds since the last sign of life; +infinity without a file.
double silencioDe(const fs::path& ruta = archivo());
double ahoraPared();  // seconds since 1970

}  // namespace tt::pendiente
