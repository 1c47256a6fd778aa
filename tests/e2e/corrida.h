// What the end-to-end tests share: one run of the application as a new user would start it, and
// ffprobe's answers.
#pragma once

#include "soporte/servidor_rtmp.h"
#include "soporte/soporte.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tt::prueba {

// One run of the application in its own home, data and temporary folders, with the synthetic
// camera and a fast encoder preset (this machine's cores are few).
struct Corrida {
    CarpetaTemporal casa, datos, tmp;
    pid_t pid = -1;

    Corrida();
    ~Corrida();
    void config(const std::string& json);  // replaces config.json
    void arrancar(std::vector<std::string> extra, const std::string& programa = TM_BIN "/tremolante");
    int esperar(double segundos);  // the exit status, or -1 if it did not end in time
    std::string bitacora() const;
    bool esperarEnBitacora(const std::string& texto, double segundos) const;
};

// A child process with its output in a file, killed when the test leaves early.
struct Hijo {
    pid_t pid = -1;
    int estado = -1;
    Hijo(std::vector<std::string> argv, std::vector<std::string> env, const std::filesystem::path& salida);
    ~Hijo();
    Hijo(const Hijo&) = delete;
    Hijo& operator=(const Hijo&) = delete;
    bool vivo();
    int esperar(double segundos);  // the exit status, or -1 when it is still running after `segundos`
};

std::string salidaDe(const std::string& orden);                 // standard output only
std::string erroresDe(const std::string& orden);                // standard error only
double numero(const std::string& texto, const std::string& clave);  // "clave=N" in ffprobe's output

}  // namespace tt::prueba
