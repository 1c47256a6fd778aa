// A local nginx with its RTMP module, standing in for the platform's ingest.
#pragma once

#include "soporte/soporte.h"

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace tt::prueba {

// nginx in the foreground with `carpeta`/nginx.conf (prefix `carpeta`): its PID. `pararNginx`
// sends SIGTERM and waits: 0 when it exited cleanly; `pid` is then -1.
pid_t arrancarNginx(const std::filesystem::path& carpeta);
int pararNginx(pid_t& pid);

// nginx with the RTMP module on 127.0.0.1:puerto, recording every stream into grabado/; ready
// once constructed. With `rechazar`, every publication is refused (as for a wrong stream key):
// its on_publish check goes to an HTTP location of the same nginx that answers 403.
struct ServidorRtmp {
    CarpetaTemporal carpeta;
    int puerto;
    pid_t pid = -1;
    static bool hay();
    explicit ServidorRtmp(int puerto = puertoLibre(), bool rechazar = false);
    ~ServidorRtmp();
    int parar();      // SIGTERM, and waits for it (the port is free): 0 when it exited cleanly
    void arrancar();  // again, on the same port; returns once it listens
    // rtmp://127.0.0.1:PORT/live, and with "/clave" after it.
    std::string aplicacion() const { return "rtmp://127.0.0.1:" + std::to_string(puerto) + "/live"; }
    std::string flujo(const std::string& clave) const { return aplicacion() + "/" + clave; }
    std::filesystem::path grabado(const std::string& clave) const { return carpeta / "grabado" / (clave + ".flv"); }
};

}  // namespace tt::prueba
