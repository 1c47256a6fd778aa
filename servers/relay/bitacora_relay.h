#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tt::relay {

// One line with the time on standard error. Never given a key, a token or a full destination.
void anotar(const std::string& texto);

// Bytes a peer sent, as they may reach the log: printable text stays, control characters (escape
// sequences included), bidirectional overrides and invalid UTF-8 become \xNN, and more than
// `tope` bytes end in "…".
std::string legible(std::string_view bytes, std::size_t tope = 64);

}  // namespace tt::relay
