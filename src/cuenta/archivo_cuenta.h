#pragma once

// The signed-in account on disk: remoto.json, three strings, readable only by its owner.

#include <filesystem>
#include <optional>
#include <string>

namespace tt {

struct Cuenta {
    std::string correo;
    std::string sala;
    std::string ficha;  // the bearer token: never logged
};

// The account, or nothing when the file is missing, not a plain file (a link, a folder, a pipe),
// larger than a few kilobytes, not a JSON object of strings, or lacks one of the three members.
std::optional<Cuenta> leerCuenta(const std::filesystem::path& ruta);
// Writes it atomically, 0600 from creation; without an account, deletes the file. Errors ignored.
void guardarCuenta(const std::filesystem::path& ruta, const std::optional<Cuenta>& cuenta);

}  // namespace tt
