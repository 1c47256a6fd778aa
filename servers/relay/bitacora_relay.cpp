#include "bitacora_relay.h"

#include "comun/bitacora.h"
#include "comun/utf8.h"

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
        const auto u = leerUtf8(bytes.substr(i));
        const bool ok = u && u->cp >= 0xA0 && !(u->cp >= 0x202A && u->cp <= 0x202E) &&
                        !(u->cp >= 0x2066 && u->cp <= 0x2069) && u->cp != 0x2028 && u->cp != 0x2029;
        if (ok) {
            r.append(bytes.substr(i, u->largo));
            i += u->largo;
        } else {
            escapar(c);
            ++i;
        }
    }
    if (bytes.size() > i) r += "…";
    return r;
}

}  // namespace tt::relay
