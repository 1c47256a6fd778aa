#include "bitacora_control.h"

#include "comun/bitacora.h"

namespace tt::control {

void anotar(const std::string& texto) { anotarEnError(texto); }

}  // namespace tt::control
