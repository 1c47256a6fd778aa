#include "comun/utf8.h"

namespace tt {

std::optional<CaracterUtf8> leerUtf8(std::string_view b) {
    if (b.empty()) return std::nullopt;
    const auto c = static_cast<unsigned char>(b[0]);
    if (c < 0x80) return CaracterUtf8{c, 1};
    const std::size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || b.size() < n) return std::nullopt;
    char32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(b[k]);
        if ((d & 0xC0) != 0x80) return std::nullopt;
        cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return CaracterUtf8{cp, n};
}

bool esUtf8(std::string_view s) {
    while (!s.empty()) {
        const auto c = leerUtf8(s);
        if (!c) return false;
        s.remove_prefix(c->largo);
    }
    return true;
}

}  // namespace tt
