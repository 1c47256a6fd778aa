#pragma once

// Starts the built relay stand-in as a child process on loopback, its keys in its environment,
// and stops it by its PID, checking that it exited cleanly after SIGTERM.

#include "uplink/pase.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tt::prueba {

struct ClavesRelay {  // {clave, secreto}; an empty one is not given
    std::string clave;    // "TM1" answers
    std::string secreto;  // permissions
};

// A permission as the control service grants it, sealed with `secreto`, in a room of its own.
Pase paseSellado(const std::string& entrada, const std::string& secreto, const std::string& sid,
                 long long segundos = 3600, const std::string& destino = {});

class RelayHijo {
public:
    explicit RelayHijo(ClavesRelay claves, std::vector<std::string> argumentos = {});
    ~RelayHijo();  // stops it if still running and expects a clean exit
    RelayHijo(const RelayHijo&) = delete;
    RelayHijo& operator=(const RelayHijo&) = delete;

    std::uint16_t puerto() const { return puerto_; }
    std::string entrada() const { return "127.0.0.1:" + std::to_string(puerto_); }
    std::string registro() const;  // what it wrote on standard error so far
    bool vivo();
    pid_t pid() const { return pid_; }
    // SIGTERM, then waits up to `segundos`: the exit status, or -1 (killed by a signal, or killed
    // after the wait). Once stopped, the destructor does nothing more.
    int detener(double segundos = 30);

private:
    pid_t pid_ = -1;
    int estado_ = -2;  // raw wait status once reaped
    bool detenido_ = false;
    std::uint16_t puerto_ = 0;
    std::string rutaRegistro_;
};

}  // namespace tt::prueba
