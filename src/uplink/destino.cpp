#include "uplink/destino.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tt {

namespace {

constexpr std::size_t largoMaximo = 2048;

std::string minusculas(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return r;
}

bool localV4(const in_addr& a) {
    const std::uint32_t x = ntohl(a.s_addr);
    auto en = [x](std::uint32_t red, int bits) { return (x >> (32 - bits)) == (red >> (32 - bits)); };
    return en(0x00000000, 8) || en(0x0A000000, 8) || en(0x64400000, 10) || en(0x7F000000, 8) ||
           en(0xA9FE0000, 16) || en(0xAC100000, 12) || en(0xC0A80000, 16) || x >= 0xE0000000;
}

bool localV6(const in6_addr& a) {
    const std::uint8_t* b = a.s6_addr;
    static const std::uint8_t cero[16] = {};
    if (std::memcmp(b, cero, 15) == 0 && (b[15] == 0 || b[15] == 1)) return true;  // :: and ::1
    if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) || b[0] == 0xFF) return true;
    static const std::uint8_t mapeada[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(b, mapeada, 12) == 0) {
        in_addr v4;
        std::memcpy(&v4.s_addr, b + 12, 4);
        return localV4(v4);
    }
    return false;
}

bool nombreValido(std::string_view h) {
    if (h.empty() || h.size() > 253 || h.front() == '.' || h.front() == '-' || h.back() == '-') return false;
    return std::all_of(h.begin(), h.end(), [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

}  // namespace

std::vector<std::string> sufijosDe(std::string_view lista) {
    std::vector<std::string> r;
    std::size_t i = 0;
    while (i <= lista.size()) {
        std::size_t fin = lista.find(',', i);
        if (fin == std::string_view::npos) fin = lista.size();
        std::string s = minusculas(lista.substr(i, fin - i));
        s.erase(std::remove_if(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c); }), s.end());
        while (!s.empty() && s.front() == '.') s.erase(0, 1);
        if (!s.empty()) r.push_back(std::move(s));
        i = fin + 1;
    }
    return r;
}

std::optional<std::string> destinoRechazado(std::string_view url, const ReglasDestino& reglas) {
    const std::string malo = "El servidor del canal no es una dirección RTMP válida (rtmp://servidor/app).";
    if (url.size() > largoMaximo) return "El destino de la transmisión es demasiado largo.";
    // Blanks introduce librtmp's options; control characters have no place in a URL.
    if (!std::all_of(url.begin(), url.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F; })) return malo;
    const std::string esquema = minusculas(url.substr(0, url.find("://")));
    if (url.find("://") == std::string_view::npos || (esquema != "rtmp" && esquema != "rtmps")) return malo;
    const std::string_view resto = url.substr(esquema.size() + 3);
    const std::size_t barra = resto.find('/');
    if (barra == std::string_view::npos || barra + 1 >= resto.size()) return malo;  // a path is needed
    std::string_view autoridad = resto.substr(0, barra);
    if (autoridad.find('@') != std::string_view::npos) return malo;

    std::string_view host = autoridad, puerto;
    if (!autoridad.empty() && autoridad.front() == '[') {
        const std::size_t cierre = autoridad.find(']');
        if (cierre == std::string_view::npos) return malo;
        host = autoridad.substr(1, cierre - 1);
        puerto = autoridad.substr(cierre + 1);
        if (!puerto.empty() && puerto.front() != ':') return malo;
        if (!puerto.empty()) puerto.remove_prefix(1);
    } else if (const std::size_t dos = autoridad.rfind(':'); dos != std::string_view::npos) {
        host = autoridad.substr(0, dos);
        puerto = autoridad.substr(dos + 1);
        if (puerto.empty()) return malo;
    }
    if (!puerto.empty()) {
        if (puerto.size() > 5 || !std::all_of(puerto.begin(), puerto.end(), [](unsigned char c) { return std::isdigit(c); }))
            return malo;
        const int n = std::stoi(std::string(puerto));
        if (n < 1 || n > 65535) return malo;
    }

    const std::string nombre = minusculas(host);
    bool local = false;
    in_addr v4{};
    in6_addr v6{};
    if (!autoridad.empty() && autoridad.front() == '[') {
        if (inet_pton(AF_INET6, nombre.c_str(), &v6) != 1) return malo;
        local = localV6(v6);
    } else {
        if (!nombreValido(nombre)) return malo;
        // A last label of digits is an address: only the plain dotted form, since the resolver also
        // takes "2130706433" or "127.1" for 127.0.0.1.
        const std::string ultima = nombre.substr(nombre.rfind('.') == std::string::npos ? 0 : nombre.rfind('.') + 1);
        const bool numerica = !ultima.empty() && (std::all_of(ultima.begin(), ultima.end(), [](unsigned char c) {
                                                      return std::isdigit(c);
                                                  }) || ultima.rfind("0x", 0) == 0);
        if (numerica) {
            if (inet_pton(AF_INET, nombre.c_str(), &v4) != 1) return malo;
            local = localV4(v4);
        } else {
            local = nombre == "localhost" || (nombre.size() > 10 && nombre.ends_with(".localhost"));
        }
    }
    if (local && !reglas.locales) return "Ese servidor es una dirección local o privada: no se publica ahí.";
    if (!reglas.sufijos.empty()) {
        const bool permitido = std::any_of(reglas.sufijos.begin(), reglas.sufijos.end(), [&](const std::string& s) {
            return nombre == s || (nombre.size() > s.size() && nombre.ends_with("." + s));
        });
        if (!permitido) return "Ese servidor no está entre los destinos que este servicio permite.";
    }
    return std::nullopt;
}

}  // namespace tt
