#include "bitacora_relay.h"

#include "comun/bitacora.h"

#include <cstdio>

namespace tt::relay {

void anotar(const std::string& texto) { anotarEnError(texto); }

std::string legible(std::string_view bytes, std::size_t tope) {
    std::string r;
    auto escapar = [&](unsigned char c) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02x", c);
        r += b;
    };
    std::size_t i = 0;
    while (i < bytes.size() && i < tope) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            if (c >= 0x20 && c < 0x7f && c != '\\') r.push_back(char(c));
            else escapar(c);
            ++i;
            continue;
        }
        // Whole UTF-8 characters stay ("…" in an address), except controls and bidirectional
        // overrides, which could disguise a line; anything else is escaped byte by byte.
        const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        char32_t cp = n == 4 ? c & 0x07 : n == 3 ? c & 0x0F : c & 0x1F;
        bool ok = n > 0 && c < 0xF5 && i + n <= bytes.size();
        for (std::size_t k = 1; ok && k < n; ++k) {
            const auto d = static_cast<unsigned char>(bytes[i + k]);
            ok = (d & 0xC0) == 0x80;
            cp = (cp << 6) | (d & 0x3F);
        }
        ok = ok && !(n == 3 && cp < 0x800) && !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
             !(cp >= 0xD800 && cp <= 0xDFFF) && cp >= 0xA0 && !(cp >= 0x202A && cp <= 0x202E) &&
             !(cp >= 0x2066 && cp <= 0x2069) && cp != 0x2028 && cp != 0x2029;
        if (ok) {
            r.append(bytes.substr(i, n));
            i += n;
        } else {
            escapar(c);
            ++i;
        }
    }
    if (bytes.size() > i) r += "…";
    return r;
}

}  // namespace tt::relay
