#pragma once

// The notices other instances (and this one) send through the PostgreSQL database, on a
// connection and a thread of their own. A lost connection is opened again every second; what was
// sent meanwhile is not received, and the log says so.

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

struct pg_conn;

namespace tt::control {

// Owner: whoever made it; `alRecibir` and `alAnotar` run on its thread.
class EscuchaPostgres {
public:
    EscuchaPostgres(std::string conexion, std::string canal);
    ~EscuchaPostgres();
    EscuchaPostgres(const EscuchaPostgres&) = delete;
    EscuchaPostgres& operator=(const EscuchaPostgres&) = delete;

    std::function<void(std::string)> alRecibir;
    std::function<void(const std::string&)> alAnotar;

    // Listening before it returns (so nothing sent after it is missed); an error text when not.
    std::optional<std::string> iniciar();

private:
    std::optional<std::string> conectar();
    void correr();
    bool esperar(int fd, int ms);  // false when told to stop

    const std::string conexion_, canal_;
    pg_conn* c_ = nullptr;
    int despertar_[2] = {-1, -1};
    std::atomic<bool> parar_{false};
    std::thread hilo_;
};

}  // namespace tt::control
