#pragma once

#include "comun/json.h"

#include <optional>
#include <string>

namespace tt {

// One Kick channel: where to publish and with which key.
struct Canal {
    // The platform's RTMPS ingest URL, the default server of a new channel.
    static const std::string servidorKick;

    std::string id;
    std::string nombre;
    std::string servidor = servidorKick;
    std::string clave;  // the stream key: never logged

    static Canal nuevo();  // a new UUID, empty name and key, the default server

    // The full publishing URL, or nothing when the channel cannot be used.
    std::optional<std::string> destino() const;

    bool operator==(const Canal&) const = default;
};

Json aJson(const Canal& c);
// Nothing unless every key is present and a string.
std::optional<Canal> canalDeJson(const Json& j);

}  // namespace tt
