#include "bitacora_relay.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace tt::relay {

void anotar(const std::string& texto) {
    static std::mutex candado;  // publishing threads log too
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char hora[16];
    std::strftime(hora, sizeof hora, "%H:%M:%S", &local);
    std::lock_guard l(candado);
    std::fprintf(stderr, "%s %s\n", hora, texto.c_str());
    std::fflush(stderr);
}

std::string legible(std::string_view bytes, std::size_t tope) {
    std::string r;
    for (std::size_t i = 0; i < bytes.size() && i < tope; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            r.push_back(char(c));
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            r += b;
        }
    }
    if (bytes.size() > tope) r += "…";
    return r;
}

}  // namespace tt::relay
