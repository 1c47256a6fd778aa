#include "comun/proceso.h"

#include "comun/reloj.h"

#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace tt {

namespace {

Proceso elProceso;

struct Carpetas {
    std::once_flag datosHecha;
    fs::path datos;
    std::mutex candado;  // guards cuenta
    std::optional<fs::path> cuenta;
};
Carpetas& carpetas() {
    static Carpetas c;
    return c;
}

fs::path carpetaCasa(const Entorno& e) {
    if (auto h = e.variable("HOME"); h && !h->empty()) return *h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

fs::path xdg(const Entorno& e, const char* nombre, const fs::path& casa, const char* porDefecto) {
    if (auto v = e.variable(nombre); v && !v->empty() && fs::path(*v).is_absolute()) return *v;
    return casa / porDefecto;
}

void crear(const fs::path& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
}

}  // namespace

std::optional<std::string> iniciarProceso(Entorno entorno, const fs::path& ejecutable) {
    Proceso p;
    p.entorno = std::move(entorno);
    p.arranqueApp = ahora();
    std::error_code ec;
    fs::path carpetaExe = fs::weakly_canonical(ejecutable, ec).parent_path();
    p.recursos = (carpetaExe / ".." / "share" / "tremolante").lexically_normal();
    if (!fs::is_directory(p.recursos, ec))
        return "No se encontró la carpeta de recursos (" + p.recursos.string() + ").";
    p.casa = carpetaCasa(p.entorno);
    p.carpetaLog = xdg(p.entorno, "XDG_STATE_HOME", p.casa, ".local/state") / "Tremolante";
    p.carpetaHogar = xdg(p.entorno, "XDG_DATA_HOME", p.casa, ".local/share") / "Tremolante";
    crear(p.carpetaLog);
    fijarProceso(std::move(p));
    return std::nullopt;
}

void fijarProceso(Proceso p) { elProceso = std::move(p); }

const Proceso& proceso() { return elProceso; }

const fs::path& carpetaDatos() {
    auto& c = carpetas();
    std::call_once(c.datosHecha, [&] {
        if (auto d = entorno().texto(Tm::datos)) c.datos = fs::path(*d);
        else c.datos = proceso().carpetaHogar;
        crear(c.datos / "pantallas");
    });
    return c.datos;
}

fs::path carpetaCuenta() {
    auto& c = carpetas();
    std::lock_guard l(c.candado);
    return c.cuenta ? *c.cuenta : carpetaDatos();
}

void usarCarpeta(const std::optional<std::string>& deCuenta) {
    auto& c = carpetas();
    std::optional<fs::path> nueva;
    if (deCuenta) {
        // The id names a folder: only its first 20 characters, and never a path of its own.
        std::string nombre;
        for (char ch : deCuenta->substr(0, 20)) nombre += (ch == '/' || ch == '\0') ? '_' : ch;
        if (nombre.empty() || nombre == "." || nombre == "..") nombre = "_";
        nueva = carpetaDatos() / "cuentas" / nombre;
        crear(*nueva);
    }
    std::lock_guard l(c.candado);
    c.cuenta = nueva;
}

bool conCuenta() {
    const auto& e = entorno();
    return !e.tiene(Tm::datos) || e.tiene(Tm::bienvenida) || e.tiene(Tm::pase);
}

}  // namespace tt
