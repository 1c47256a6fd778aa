#pragma once

// Starts the built relay stand-in as a child process on loopback and stops it by its PID.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tt::prueba {

class RelayHijo {
public:
    explicit RelayHijo(std::vector<std::string> argumentos);
    ~RelayHijo();
    RelayHijo(const RelayHijo&) = delete;
    RelayHijo& operator=(const RelayHijo&) = delete;

    std::uint16_t puerto() const { return puerto_; }
    std::string entrada() const { return "127.0.0.1:" + std::to_string(puerto_); }
    std::string registro() const;  // what it wrote on standard error so far
    bool vivo();

private:
    pid_t pid_ = -1;
    std::uint16_t puerto_ = 0;
    std::string rutaRegistro_;
};

}  // namespace tt::prueba
