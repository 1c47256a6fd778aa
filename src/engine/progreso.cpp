#include "engine/progreso.h"

#include <charconv>
#include <cstdlib>

namespace tt {

namespace {
std::string_view recortar(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}
std::optional<std::int64_t> entero(std::string_view s) {
    std::int64_t v = 0;
    auto [fin, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || fin != s.data() + s.size()) return std::nullopt;
    return v;
}
}  // namespace

void Progreso::linea(std::string_view l, double ahora) {
    auto igual = l.find('=');
    if (igual == std::string_view::npos) return;
    auto clave = l.substr(0, igual);
    auto valor = recortar(l.substr(igual + 1));
    if (clave == "total_size") {
        if (auto v = entero(valor)) totalBytes = *v;
    } else if (clave == "fps") {
        std::string s(valor);
        char* fin = nullptr;
        double v = std::strtod(s.c_str(), &fin);
        cps = (s.empty() || *fin) ? 0 : v;
    } else if (clave == "out_time_us") {
        auto t = entero(valor);
        if (!t) return;  // "N/A" before the first packet
        if (avance && ahora - avance->second > 0.5) {
            double r = double(*t - avance->first) / 1e6 / (ahora - avance->second);
            ritmo = ritmo <= 0 ? r : ritmo * 0.6 + r * 0.4;
        }
        avance = std::make_pair(*t, ahora);
    }
}

void Progreso::datos(std::string_view bytes, double ahora) {
    resto_.append(bytes);
    std::size_t inicio = 0;
    for (std::size_t fin; (fin = resto_.find('\n', inicio)) != std::string::npos; inicio = fin + 1)
        linea(std::string_view(resto_).substr(inicio, fin - inicio), ahora);
    resto_.erase(0, inicio);
    if (resto_.size() > 4096) resto_.clear();  // no line is that long; never grow without bound
}

}  // namespace tt
