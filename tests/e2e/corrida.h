// What the end-to-end tests share: one run of the application as a new user would start it, a
// local nginx with its RTMP module, and ffprobe's answers.
#pragma once

#include "soporte/soporte.h"

#include <sys/types.h>

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

// nginx with the RTMP module on 127.0.0.1:puerto, recording every stream into grabado/; ready
// once constructed.
struct ServidorRtmp {
    CarpetaTemporal carpeta;
    int puerto;
    pid_t pid = -1;
    static bool hay();
    explicit ServidorRtmp(int puerto = puertoLibre());
    // rtmp://127.0.0.1:PORT/live, and with "/clave" after it.
    std::string aplicacion() const { return "rtmp://127.0.0.1:" + std::to_string(puerto) + "/live"; }
    std::string flujo(const std::string& clave) const { return aplicacion() + "/" + clave; }
    ~ServidorRtmp();
    std::filesystem::path grabado(const std::string& clave) const { return carpeta / "grabado" / (clave + ".flv"); }
};

std::string salidaDe(const std::string& orden);                 // standard output only
std::string erroresDe(const std::string& orden);                // standard error only
double numero(const std::string& texto, const std::string& clave);  // "clave=N" in ffprobe's output

}  // namespace tt::prueba
