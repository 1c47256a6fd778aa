#pragma once

#include "comun/entorno.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tt {

namespace fs = std::filesystem;

// The process-wide values fixed at start, before any other thread exists.
struct Proceso {
    Entorno entorno;
    double arranqueApp = 0;  // monotonic clock at start
    fs::path recursos;       // holds the encoder and the icons
    fs::path casa;
    fs::path carpetaLog;
    fs::path carpetaHogar;   // home data folder: config.json lives here whatever TM_DATOS says
};

// Sets the values from the environment and the executable's place. Fails (with a message) when
// the resources folder is missing.
std::optional<std::string> iniciarProceso(Entorno entorno, const fs::path& ejecutable);
// For tests: explicit folders.
void fijarProceso(Proceso p);

const Proceso& proceso();
inline const Entorno& entorno() { return proceso().entorno; }
inline const fs::path& recursos() { return proceso().recursos; }
inline const fs::path& carpetaLog() { return proceso().carpetaLog; }

// TM_DATOS or the home data folder; made (with "pantallas") on first use.
const fs::path& carpetaDatos();
fs::path carpetaCuenta();
// With an account id: carpetaDatos/cuentas/<first 20 characters>; without: carpetaDatos.
void usarCarpeta(const std::optional<std::string>& deCuenta);

// False in offline test mode: TM_DATOS without TM_BIENVENIDA or TM_PASE.
bool conCuenta();

}  // namespace tt
