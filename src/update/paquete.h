#pragma once

// The file-system and process side of an update: hashing and checking the signature of the
// downloaded zip, unpacking it safely, deciding whether the running copy can be replaced, and
// starting the swap script. Callable from any thread; no state.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tt {

// Lowercase hex SHA-256 of the file, or nothing when it cannot be read.
std::optional<std::string> sha256DeArchivo(const std::filesystem::path& archivo);

// True when `firmaBase64` is an Ed25519 signature of `mensaje` by the public key in the PEM file.
bool firmaValida(const std::string& mensaje, const std::string& firmaBase64, const std::filesystem::path& clavePem);

// Unpacks the zip into `destino` (an existing folder). Refuses, before writing the entry, any
// entry whose path is absolute or has a ".." piece, any link that leads outside `destino`, and
// a package that would unpack to more than `tope` bytes or hold more than kTopeEntradas
// entries. The reason on failure (for the log).
inline constexpr std::uint64_t kTopeDesempacado = 1ull << 30;
inline constexpr std::size_t kTopeEntradas = 100000;
std::optional<std::string> desempacar(const std::filesystem::path& zip, const std::filesystem::path& destino,
                                      std::uint64_t tope = kTopeDesempacado);

// The installed copy holding this resources folder ("…/Tremolante Transmitir" above
// share/tremolante), when it can be replaced in place: an installed layout (not the build tree)
// on a writable mount, the folder and the one holding it writable by this user.
std::optional<std::filesystem::path> instalacionReemplazable(const std::filesystem::path& recursos);

// Starts `/bin/sh -c guion` in a session of its own, its standard streams on /dev/null and the
// process's environment; false when it could not start.
bool lanzarGuion(const std::string& guion);

}  // namespace tt
