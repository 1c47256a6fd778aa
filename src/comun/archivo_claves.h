#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

namespace tt {

// Reads a file of "nombre=valor" lines that only its owner may read (0600): the stand-ins' keys
// and secrets, which never go on the command line. Empty lines and lines starting with '#' are
// skipped. A name outside `nombres` is an error that names only the line's number (the line may
// hold a key). On failure, nothing and a Spanish `error`.
std::optional<std::map<std::string, std::string>> leerArchivoClaves(const std::string& ruta,
                                                                    const std::set<std::string>& nombres,
                                                                    std::string& error);

}  // namespace tt
