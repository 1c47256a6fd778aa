#include "clave.h"

#include "comun/cripto.h"
#include "protocolo/protocolo.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <vector>

namespace tt::control {

namespace {

constexpr std::size_t largoSal = 16, largoResumen = 32;

std::string derivar(std::string_view clave, std::string_view sal, const ParametrosScrypt& q) {
    std::string r(largoResumen, '\0');
    if (EVP_PBE_scrypt(clave.data(), clave.size(), reinterpret_cast<const unsigned char*>(sal.data()), sal.size(),
                       q.n, q.r, q.p, 64ull << 20, reinterpret_cast<unsigned char*>(r.data()), r.size()) != 1)
        return {};
    return r;
}

std::optional<std::string> deHex(std::string_view h) {
    if (h.size() % 2) return std::nullopt;
    std::string r(h.size() / 2, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(h.data() + 2 * i, h.data() + 2 * i + 2, v, 16);
        if (ec != std::errc() || p != h.data() + 2 * i + 2) return std::nullopt;
        r[i] = char(v);
    }
    return r;
}

}  // namespace

std::string resumirClave(std::string_view clave, const ParametrosScrypt& q) {
    std::string sal(largoSal, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(sal.data()), int(sal.size())) != 1) return {};
    std::string d = derivar(clave, sal, q);
    if (d.empty()) return {};
    return "scrypt$" + std::to_string(q.n) + "$" + std::to_string(q.r) + "$" + std::to_string(q.p) + "$" + hex(sal) +
           "$" + hex(d);
}

bool claveCorrecta(std::string_view clave, std::string_view g) {
    std::vector<std::string_view> c;
    for (std::size_t i = 0; i <= g.size();) {
        auto j = g.find('$', i);
        if (j == std::string_view::npos) j = g.size();
        c.push_back(g.substr(i, j - i));
        i = j + 1;
    }
    if (c.size() != 6 || c[0] != "scrypt") return false;
    ParametrosScrypt q;
    for (auto [t, v] : {std::pair{c[1], &q.n}, {c[2], &q.r}, {c[3], &q.p}}) {
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), *v);
        if (ec != std::errc() || p != t.data() + t.size()) return false;
    }
    // A damaged row must not make the service allocate without bound.
    if (q.n > (1ull << 20) || q.r > 32 || q.p > 16) return false;
    auto sal = deHex(c[4]);
    auto esperado = deHex(c[5]);
    if (!sal || !esperado) return false;
    std::string d = derivar(clave, *sal, q);
    return !d.empty() && protocolo::igualesSeguro(d, *esperado);
}

std::string faltaEnClave(std::string_view clave) {
    // Characters, not bytes: the text is UTF-8.
    std::size_t caracteres = 0;
    bool numero = false, especial = false;
    for (unsigned char c : clave) {
        if ((c & 0xC0) != 0x80) ++caracteres;
        if (c >= '0' && c <= '9') numero = true;
        else if (c >= 0x80 || (!std::isalnum(c) && !std::isspace(c))) especial = true;
    }
    if (caracteres < 8) return "La contraseña necesita al menos 8 caracteres.";
    if (!numero) return "La contraseña necesita al menos un número.";
    if (!especial) return "La contraseña necesita un carácter especial, por ejemplo $ ! @ % &.";
    auto blanco = [](char c) { return c == ' ' || c == '\t'; };
    if (blanco(clave.front()) || blanco(clave.back())) return "La contraseña no puede empezar ni terminar con espacios.";
    return {};
}

}  // namespace tt::control
