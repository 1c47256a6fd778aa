#pragma once

// A room's notice as text, to pass between instances. NOTIFY takes under 8000 bytes, so a long list
// of revoked tokens goes in several texts; each one is a notice of its own.

#include "cuentas.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt::control {

std::vector<std::string> textosDeAviso(const Aviso& a);
std::optional<Aviso> avisoDeTexto(std::string_view t);

}  // namespace tt::control
