#pragma once

#include <string>
#include <string_view>

namespace tt {

std::string hex(std::string_view bytes);                          // lowercase, two digits a byte
std::string hmacSha256(std::string_view clave, std::string_view texto);  // raw 32 bytes
std::string hmacHex(std::string_view clave, std::string_view texto);
std::string sha256Hex(std::string_view datos);
std::string azarHex(std::size_t n);  // n bytes of the system's random source, as hex

}  // namespace tt
