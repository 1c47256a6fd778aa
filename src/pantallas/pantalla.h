#pragma once

#include "comun/json.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tt {

// One social-network handle on a screen.
struct Red {
    std::string tipo = "instagram";  // a key of tiposDeRed
    std::string usuario;             // as typed

    bool operator==(const Red&) const = default;
};

// The platforms a handle can name, in menu order: (key, label). The key also names the icon
// "redes/<key>.svg" in the resources folder.
const std::vector<std::pair<std::string, std::string>>& tiposDeRed();

// One screen that can be put on the air. Grid cells 0…8 run row by row from the top left.
struct Pantalla {
    std::string id = nuevoId();
    std::string nombre = "Pantalla nueva";
    std::optional<std::string> archivo;  // file name inside the media folder
    bool esVideo = false;
    bool rellenar = true;       // cover the box (cropping); false = fit whole
    double fondoTam = 1.0;      // > 0.995 whole frame, < 0.2 used as 0.2
    int fondoPos = 4;
    int alTerminar = 0;         // 0 loop, 1 go to the camera screen, 2 stay on the last frame
    double volumen = 1.0;
    bool micro = false;
    int camara = 0;             // 0 not shown, 1 behind everything, 2 in a rounded box
    double camTam = 0.32;
    int camPos = 8;
    std::string titulo;
    std::string subtitulo;
    double textoTam = 0.45;
    int textoPos = 4;
    std::vector<Red> redes;
    double redesTam = 0.4;
    int redesPos = 7;
    bool redesFila = true;
    bool sinInternet = false;   // shown by the relay while the computer is offline

    // Handles with something besides blanks in `usuario`, in order.
    std::vector<Red> redesVisibles() const;
    // The camera picture alone: frames pass through the compositor untouched.
    bool esDirecta() const;

    bool operator==(const Pantalla&) const = default;

    static std::string nuevoId();  // a new UUID, upper case
};

// True for a bare file or folder name: not empty, not "." or "..", no slash, no NUL. Names read
// from files must pass this before they are joined to a folder.
bool esNombreLlano(std::string_view nombre);

// Every key optional: a missing or mistyped value takes its default; an unreadable "redes" array
// (not an array, or a handle lacking a string "tipo" or "usuario") becomes empty; an "archivo"
// that is not a plain file name counts as no file. `perdio` is set when a present value was dropped.
Pantalla pantallaDeJson(const Json& j, bool* perdio = nullptr);
// Keys in their fixed order; "archivo" only when there is one.
Json aJson(const Pantalla& p);

// The list of a pantallas.json, or nothing when it is not an array of objects.
std::optional<std::vector<Pantalla>> pantallasDeJson(const Json& j, bool* perdio = nullptr);
Json aJson(const std::vector<Pantalla>& lista);

}  // namespace tt
