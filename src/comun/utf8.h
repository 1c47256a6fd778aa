#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tt {

// One UTF-8 character: its code point and how many bytes it takes.
struct CaracterUtf8 {
    char32_t cp = 0;
    std::size_t largo = 0;
};

// The character at the start of b; nothing when b does not start with a valid one (a stray or cut
// sequence, an overlong form, a surrogate, a value past U+10FFFF).
std::optional<CaracterUtf8> leerUtf8(std::string_view b);
bool esUtf8(std::string_view s);

}  // namespace tt
