#pragma once

#include "soporte/relay_hijo.h"

#include <cstdint>
#include <string>

namespace tt::prueba {

// One line-based conversation: reads the greeting, sends `respuesta(reto)`, returns the next line.
std::string conversar(std::uint16_t puerto, const std::string& tipo, const std::string& sid,
                      const std::string& pase, const std::string& llave);

}  // namespace tt::prueba
