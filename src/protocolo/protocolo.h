#pragma once

// The bytes that cross the wire between the uplink and the relay: the text handshake, the
// enciphered destination, chunk framing and acknowledgements. Pure functions, no sockets; the
// relay stand-in uses the same functions to check what clients send.

#include "protocolo/pase.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt::protocolo {

constexpr std::uint32_t relleno = 0xFFFFFF00;      // first filler sequence number
constexpr std::uint32_t ultimoRelleno = 0xFFFFFFFE;
constexpr std::uint32_t seqRespaldo = 0xFFFFFFFF;  // the fallback image
constexpr std::size_t tamRelleno = 8192;
constexpr std::size_t cabecera = 8;                 // sequence + length
// A server that never ends its handshake line must not grow a link's buffer without bound.
constexpr std::size_t maxBuferSaludo = 64 * 1024;

// 12 hex characters: identifies one uplink instance.
std::string nuevaEpoca();
// 32 hex characters, preceded by "seco" in dry-run mode.
std::string nuevaSesion(bool seco);

// Hex of the destination XORed with the key stream HMAC(clave, "destino|reto|sesion|i").
std::string cifrarDestino(std::string_view clave, std::string_view reto, std::string_view sesion,
                          std::string_view destino);
// The inverse; nothing when the text is not even-length lowercase-or-uppercase hex.
std::optional<std::string> descifrarDestino(std::string_view clave, std::string_view reto,
                                            std::string_view sesion, std::string_view cifrado);

// Hex HMAC over "reto|sesion", or "reto|sesion|D" when D is not empty.
std::string macSaludo(std::string_view llave, std::string_view reto, std::string_view sesion,
                      std::string_view destinoCifrado = {});

// The uplink's answer to a challenge, LF included.
std::string respuestaConPase(const Pase& pase, std::string_view reto, std::string_view epoca);
std::string respuestaSinPase(std::string_view clave, std::string_view reto, std::string_view sesion,
                             const std::optional<std::string>& destino);
// The short status conversation ("TM3" open?, "TM4" close), LF included.
std::string respuestaCharla(std::string_view tipo, const Pase& pase, std::string_view reto);

// The relay's key for a permission: hex HMAC-SHA256 keyed with the secret shared by the control
// service and the relay, over "llave|" + sid. Neither side needs a database to agree on it.
std::string llaveDeSid(std::string_view secreto, std::string_view sid);

// Replies that end a transmission.
bool esRazon(std::string_view linea);
// What the user is told for a reason (anything else gets the closed-by-server text).
std::string textoCorte(std::string_view razon);

// Sequence | length | payload, big-endian.
std::string enmarcar(std::uint32_t seq, std::string_view payload);
void escribirU32(std::string& destino, std::uint32_t v);
std::uint32_t leerU32(const char* p);

// Takes one line (without its LF) off the front of the buffer; invalid UTF-8 gives an empty line.
// Nothing while no LF has arrived.
std::optional<std::string> sacarLinea(std::string& bufer);

// Takes every whole 4-byte acknowledgement off the front; a remainder stays for the next read.
std::vector<std::uint32_t> sacarAcuses(std::string& bufer);

// "host:puerto" split at ':' with empty pieces dropped; exactly two pieces and a valid port.
struct Destino {
    std::string host;
    std::uint16_t puerto = 0;
};
std::optional<Destino> partirEntrada(std::string_view entrada);

// An answer line as the relay reads it.
struct Respuesta {
    std::string tipo;     // "TM1", "TM2", "TM3" or "TM4"
    std::string sesion;
    std::string pase;     // TM2, TM3, TM4
    std::string mac;
    std::string epoca;    // TM2
    std::string destino;  // TM1: enciphered destination, may be empty
};
std::optional<Respuesta> leerRespuesta(std::string_view linea);

// Compares two MACs in constant time.
bool igualesSeguro(std::string_view a, std::string_view b);

}  // namespace tt::protocolo
