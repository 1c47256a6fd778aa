#pragma once

// The built relay stand-in as a child process on loopback, its keys in its environment.

#include "soporte/servidor_hijo.h"
#include "protocolo/pase.h"

#include <string>
#include <vector>

namespace tt::prueba {

struct ClavesRelay {  // {clave, secreto}; an empty one is not given
    std::string clave;    // "TM1" answers
    std::string secreto;  // permissions
};

// A permission as the control service grants it, sealed with `secreto`, in a room of its own.
Pase paseSellado(const std::string& entrada, const std::string& secreto, const std::string& sid,
                 long long segundos = 3600, const std::string& destino = {});

class RelayHijo : public ServidorHijo {
public:
    explicit RelayHijo(ClavesRelay claves, std::vector<std::string> argumentos = {});
    std::string entrada() const { return "127.0.0.1:" + std::to_string(puerto()); }
};

}  // namespace tt::prueba
