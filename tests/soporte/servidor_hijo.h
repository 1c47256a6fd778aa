#pragma once

// A stand-in server run as a child process: started with its arguments and environment, its port
// read from the "escuchando en HOST:PORT" line it prints, stopped by its PID with SIGTERM. The
// destructor of one still running stops it and expects a clean exit.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tt::prueba {

class ServidorHijo {
public:
    // `argumentos[0]` is the program; `nombre` names it in the log file and in failures.
    ServidorHijo(std::string nombre, std::vector<std::string> argumentos, std::vector<std::string> entorno);
    ~ServidorHijo();
    ServidorHijo(const ServidorHijo&) = delete;
    ServidorHijo& operator=(const ServidorHijo&) = delete;

    std::uint16_t puerto() const { return puerto_; }
    std::string registro() const;  // what it wrote on standard error so far
    bool vivo();
    pid_t pid() const { return pid_; }
    // SIGTERM, then waits up to `segundos`: the exit status, or -1 (killed by a signal, or killed
    // after the wait). Once stopped, the destructor does nothing more.
    int detener(double segundos = 30);
    // For a start that must fail: waits for the exit without a signal; its status, or -1.
    int salidaSinArrancar(double segundos = 10);

    // This process's environment without the variables that start with `prefijo`.
    static std::vector<std::string> entornoSin(const std::string& prefijo);
    // A file of the test run's folder, unique to this process and call.
    static std::string rutaNueva(const std::string& base, const std::string& extension);

private:
    int esperar(double segundos);  // reaps within `segundos`, else SIGKILL; the raw status or -1

    std::string nombre_;
    pid_t pid_ = -1;
    int estado_ = -2;  // raw wait status once reaped
    bool detenido_ = false;
    std::uint16_t puerto_ = 0;
    std::string rutaRegistro_;
};

}  // namespace tt::prueba
