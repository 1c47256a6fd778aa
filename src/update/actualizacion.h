#pragma once

// What the updater decides, without the network, the files or the clock: the order of build
// numbers, the feed's answer, when to offer, and the text of the swap script.

#include "comun/json.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace tt {

// a > b, comparing the pieces between dots as integers (a piece that is not a number counts as
// 0, a missing one too): 1.10 > 1.9, 1.2 = 1.2.0.
bool mayor(std::string_view a, std::string_view b);

// The feed's answer for a published build: "build" and "sha256" are required strings.
struct Anuncio {
    std::string build;
    std::string sha256;
    std::string firma;  // base64 Ed25519 signature over the lowercase hex SHA-256; may be empty
    std::optional<std::string> version;
    std::optional<std::string> notas;
};
std::optional<Anuncio> leerAnuncio(const Json& j);

// What an installed copy says of itself (share/tremolante/app.json).
struct DatosApp {
    std::optional<std::string> identificador;
    std::optional<std::string> version;
    std::string build = "0";
};
DatosApp leerDatosApp(const std::optional<Json>& j);
// The same application at the announced build (both without identifier also match).
bool esLaEsperada(const DatosApp& actual, const DatosApp& nueva, const std::string& build);

// What `ofrecer` does now.
enum class Oferta { nada, instalar, preguntar };
struct Momento {
    bool ocupado = false;
    bool vivo = false;           // a transmission is on air
    bool ventanaLibre = false;   // the main window is shown and has no sheet over it
    bool automatico = false;     // TM_ACTUALIZAR=auto
};
Oferta decidirOferta(const Momento& m, const std::optional<Anuncio>& pendiente,
                     const std::optional<std::string>& pospuesta);

// The path as one shell word: wrapped in ' with every ' inside written as '\''.
std::string citar(const std::string& ruta);

// Waits for the process to end, swaps the install folder for the new one (putting the old one
// back if that failed), removes the work folder and starts the installed program detached.
std::string guionCambio(pid_t pid, const std::filesystem::path& instalada, const std::filesystem::path& nueva,
                        const std::filesystem::path& trabajo);

// Texts the user sees.
// `sola`: this copy can replace itself; otherwise the offer says so up front.
std::string textoOferta(const std::optional<std::string>& notas, bool sola);
inline constexpr const char* kMoverCarpeta =
    "Para que se actualice sola, instala Tremolante Transmitir en una carpeta tuya y ábrela desde ahí.";
inline constexpr const char* kPaginaDescarga = "https://tremolante.app/descargar";
std::string textoManual();

}  // namespace tt
