#pragma once

// The permission token ("pase") the control service grants and the relay checks without a shared
// database: the grant sealed with AES-256-GCM under a key derived from the secret both services
// share. The uplink is plain TCP, so the stream key inside the destination must not be readable on
// the wire, and a token changed by one bit must not open.

#include <optional>
#include <string>
#include <string_view>

namespace tt {

struct Permiso {
    std::string sid;
    std::string sala;
    std::string destino;  // platform ingest URL and stream key: a credential
    long long segundos = 0;  // on air at most this long
    double vence = 0;        // wall-clock seconds since 1970: no first admission after this
    bool seco = false;       // not published to the platform
    double emitido = 0;      // wall clock at the grant: of two grants for one room, the later wins
};

// Sealed token in base64url (no padding, no blanks: it travels inside a handshake line).
std::string sellarPermiso(std::string_view secreto, const Permiso& p);
// Nothing when the token was not sealed with this secret, was changed, or is not a permission.
std::optional<Permiso> abrirPermiso(std::string_view secreto, std::string_view token);

// AES-256-GCM with a fresh 12-byte nonce: nonce | ciphertext | 16-byte tag.
std::string sellar(std::string_view clave32, std::string_view texto, std::string_view contexto);
std::optional<std::string> abrir(std::string_view clave32, std::string_view sellado, std::string_view contexto);

std::string base64url(std::string_view bytes);
std::optional<std::string> deBase64url(std::string_view texto);

}  // namespace tt
