#include "comun/permiso.h"

#include "comun/cripto.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace tt {

namespace {

constexpr std::size_t largoNonce = 12, largoEtiqueta = 16;
constexpr std::string_view contextoPase = "tremolante-pase-1";
// Tokens are read before any check: a bound keeps a forged one from costing much.
constexpr std::size_t maxToken = 8192;

using Ctx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char* u(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string clavePase(std::string_view secreto) { return hmacSha256(secreto, "pase|aes-256-gcm"); }

}  // namespace

std::string sellar(std::string_view clave32, std::string_view texto, std::string_view contexto) {
    std::string r(largoNonce + texto.size() + largoEtiqueta, '\0');
    auto* o = reinterpret_cast<unsigned char*>(r.data());
    if (clave32.size() != 32 || RAND_bytes(o, int(largoNonce)) != 1) return {};
    Ctx c(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int n = 0, m = 0;
    if (!c || EVP_EncryptInit_ex(c.get(), EVP_aes_256_gcm(), nullptr, u(clave32), o) != 1 ||
        EVP_EncryptUpdate(c.get(), nullptr, &n, u(contexto), int(contexto.size())) != 1 ||
        EVP_EncryptUpdate(c.get(), o + largoNonce, &n, u(texto), int(texto.size())) != 1 ||
        EVP_EncryptFinal_ex(c.get(), o + largoNonce + n, &m) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_GET_TAG, int(largoEtiqueta), o + largoNonce + texto.size()) != 1)
        return {};
    return r;
}

std::optional<std::string> abrir(std::string_view clave32, std::string_view s, std::string_view contexto) {
    if (clave32.size() != 32 || s.size() < largoNonce + largoEtiqueta) return std::nullopt;
    const std::size_t largo = s.size() - largoNonce - largoEtiqueta;
    std::string r(largo, '\0');
    std::string etiqueta(s.substr(largoNonce + largo));
    Ctx c(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int n = 0, m = 0;
    if (!c || EVP_DecryptInit_ex(c.get(), EVP_aes_256_gcm(), nullptr, u(clave32), u(s)) != 1 ||
        EVP_DecryptUpdate(c.get(), nullptr, &n, u(contexto), int(contexto.size())) != 1 ||
        EVP_DecryptUpdate(c.get(), reinterpret_cast<unsigned char*>(r.data()), &n, u(s) + largoNonce, int(largo)) != 1 ||
        EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_SET_TAG, int(largoEtiqueta), etiqueta.data()) != 1 ||
        EVP_DecryptFinal_ex(c.get(), reinterpret_cast<unsigned char*>(r.data()) + n, &m) != 1)
        return std::nullopt;  // the tag does not match: changed, or another key
    return r;
}

std::string base64url(std::string_view b) {
    static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string r;
    r.reserve((b.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= b.size(); i += 3) {
        unsigned v = unsigned((unsigned char)b[i]) << 16 | unsigned((unsigned char)b[i + 1]) << 8 | (unsigned char)b[i + 2];
        r += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], t[v & 63]};
    }
    if (b.size() - i == 1) {
        unsigned v = unsigned((unsigned char)b[i]) << 16;
        r += {t[v >> 18], t[(v >> 12) & 63]};
    } else if (b.size() - i == 2) {
        unsigned v = unsigned((unsigned char)b[i]) << 16 | unsigned((unsigned char)b[i + 1]) << 8;
        r += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63]};
    }
    return r;
}

std::optional<std::string> deBase64url(std::string_view s) {
    auto valor = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '-') return 62;
        if (c == '_') return 63;
        return -1;
    };
    if (s.size() % 4 == 1) return std::nullopt;
    std::string r;
    unsigned acc = 0;
    int bits = 0;
    for (char c : s) {
        int v = valor(c);
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | unsigned(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            r.push_back(char((acc >> bits) & 0xFF));
        }
    }
    return r;
}

std::string sellarPermiso(std::string_view secreto, const Permiso& p) {
    nlohmann::json j{{"sid", p.sid},         {"sala", p.sala}, {"destino", p.destino},
                     {"segundos", p.segundos}, {"vence", p.vence}, {"seco", p.seco}, {"emitido", p.emitido}};
    return base64url(sellar(clavePase(secreto), j.dump(), contextoPase));
}

std::optional<Permiso> abrirPermiso(std::string_view secreto, std::string_view token) {
    if (secreto.empty() || token.size() > maxToken) return std::nullopt;
    auto bytes = deBase64url(token);
    if (!bytes) return std::nullopt;
    auto texto = abrir(clavePase(secreto), *bytes, contextoPase);
    if (!texto) return std::nullopt;
    auto j = nlohmann::json::parse(*texto, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    Permiso p;
    try {
        p.sid = j.at("sid").get<std::string>();
        p.sala = j.at("sala").get<std::string>();
        p.destino = j.at("destino").get<std::string>();
        p.segundos = j.at("segundos").get<long long>();
        p.vence = j.at("vence").get<double>();
        p.seco = j.at("seco").get<bool>();
        p.emitido = j.at("emitido").get<double>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // sealed by us, but not a permission of this shape
    }
    return p;
}

}  // namespace tt
