#pragma once

#include "comun/cola.h"
#include "uplink/medicion.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tt {

// Where the upload speed test goes.
struct DestinoMedicion {
    std::string host = "speed.cloudflare.com";
    std::string puerto = "443";
    std::optional<std::string> ca;  // an extra certificate authority file, besides the system's

    // TM_MEDIR_HOST, TM_MEDIR_PUERTO and TM_MEDIR_CA over the defaults.
    static DestinoMedicion configurado();
};

// One upload-speed measurement over one interface: a TLS connection pinned to it, the request
// head, the zero body piece by piece, at most 8 seconds. Owns its queue and everything on it.
class MedidorSubida {
public:
    // alTerminar runs once, on the measurement's queue.
    MedidorSubida(std::string nombre, std::string interfaz, DestinoMedicion destino,
            std::function<void(const Medicion::Resultado&)> alTerminar);
    ~MedidorSubida();  // cuts a measurement still running; alTerminar then reports "cancelado"
    MedidorSubida(const MedidorSubida&) = delete;
    MedidorSubida& operator=(const MedidorSubida&) = delete;

    void arrancar();

    struct Estado;

private:
    Cola q_;
    std::shared_ptr<Estado> s_;
};

}  // namespace tt
