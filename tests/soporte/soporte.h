#pragma once

#include "comun/proceso.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace tt::prueba {

// A fresh folder under the test run's temporary folder, removed when the object goes.
class CarpetaTemporal {
public:
    CarpetaTemporal();
    ~CarpetaTemporal();
    CarpetaTemporal(const CarpetaTemporal&) = delete;
    CarpetaTemporal& operator=(const CarpetaTemporal&) = delete;
    const std::filesystem::path& ruta() const { return ruta_; }
    std::filesystem::path operator/(const std::string& nombre) const { return ruta_ / nombre; }

private:
    std::filesystem::path ruta_;
};

std::string leer(const std::filesystem::path& ruta);
void escribir(const std::filesystem::path& ruta, const std::string& datos);

// The folder every test's process values point at (home, log and data folders inside it).
const std::filesystem::path& raizPruebas();

// Points this process's switches at the test run's data folder and the synthetic camera (a plain
// picture saved in `carpeta`), plus `extra`; returns the values to put back with fijarProceso.
Proceso entornoDeApp(const std::filesystem::path& carpeta, std::map<std::string, std::string> extra);

// A loopback TCP port nothing listens on now, for a server a test starts (each test its own, so
// tests can run side by side).
int puertoLibre();
// Whether something accepts connections on that loopback port within `segundos`.
bool escuchaEn(int puerto, double segundos = 10);

// Runs the main loop until cond holds or `segundos` pass; cond's last answer.
bool esperar(const std::function<bool()>& cond, double segundos = 10);

}  // namespace tt::prueba
