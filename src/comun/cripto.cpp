#include "comun/cripto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace tt {

std::string hex(std::string_view bytes) {
    static const char digitos[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        s.push_back(digitos[c >> 4]);
        s.push_back(digitos[c & 15]);
    }
    return s;
}

std::string hmacSha256(std::string_view clave, std::string_view texto) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), clave.data(), int(clave.size()), reinterpret_cast<const unsigned char*>(texto.data()),
         texto.size(), md, &n);
    return std::string(reinterpret_cast<char*>(md), n);
}

std::string hmacHex(std::string_view clave, std::string_view texto) { return hex(hmacSha256(clave, texto)); }

std::string sha256Hex(std::string_view datos) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(datos.data(), datos.size(), md, &n, EVP_sha256(), nullptr);
    return hex(std::string_view(reinterpret_cast<char*>(md), n));
}

std::string azarHex(std::size_t n) {
    std::string bytes(n, '\0');
    if (n && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), int(n)) != 1)
        throw std::runtime_error("sin fuente de azar");  // no safe fallback for identities and tokens
    return hex(bytes);
}

}  // namespace tt
