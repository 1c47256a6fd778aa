#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tt {

// Every test and diagnostic switch of the program; looked up only in the captured environment.
enum class Tm {
    datos, bienvenida, pase, retratos, salir, camaraFalsa, ruido, autoPulsar, pantalla, archivo,
    seco, calidad, guion, depurar, topeKbps, topeDesde, topeHasta, corte, calidadFija,
    editar, canales, control, vincular, actualizar, sesion, retomar, microfonoReal,
};

const char* nombreTm(Tm t);  // "TM_DATOS", …

// The environment captured once at start; read-only afterwards.
class Entorno {
public:
    Entorno() = default;
    explicit Entorno(std::map<std::string, std::string> valores) : valores_(std::move(valores)) {}
    static Entorno deProceso(char** env);

    bool tiene(Tm t) const { return valores_.count(nombreTm(t)) > 0; }
    std::optional<std::string> texto(Tm t) const { return variable(nombreTm(t)); }
    std::optional<double> numero(Tm t) const;  // nothing when absent or not a number
    std::optional<std::string> variable(const std::string& nombre) const;

private:
    std::map<std::string, std::string> valores_;
};

// Reads "N" as a finite number, with nothing else around it but blanks.
std::optional<double> leerNumero(std::string_view texto);

}  // namespace tt
