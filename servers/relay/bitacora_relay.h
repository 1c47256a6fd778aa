#pragma once

#include <string>

namespace tt::relay {

// One line with the time on standard error. Never given a key, a token or a full destination.
void anotar(const std::string& texto);

}  // namespace tt::relay
