#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace tt {

using Json = nlohmann::ordered_json;  // key order kept as written

// Pretty-printed with two spaces; slashes and non-ASCII text written as they are.
std::string textoJson(const Json& j);

// The parsed file, or nothing when it is missing, unreadable, too large or not JSON.
std::optional<Json> leerJson(const std::filesystem::path& ruta, std::size_t tope = 16 << 20);

// The file's bytes, or nothing when it is missing, not a regular file or over `tope` bytes (or a
// link, unless `seguirEnlace`).
std::optional<std::string> leerArchivo(const std::filesystem::path& ruta, std::size_t tope = 64 << 20,
                                       bool seguirEnlace = true);

// Writes through a temporary sibling renamed over the file, so readers see the old or the new
// content, never half. With `privado` the file is 0600 from its creation on.
bool escribirAtomico(const std::filesystem::path& ruta, const std::string& bytes, bool privado = false);
bool escribirJson(const std::filesystem::path& ruta, const Json& j, bool privado = false);

}  // namespace tt
