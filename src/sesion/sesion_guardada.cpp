#include "sesion/sesion_guardada.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <sstream>

namespace tt {

SesionGuardada SesionGuardada::de(const Pase& p, std::string canal, double inicio, std::optional<std::string> sala) {
    SesionGuardada s;
    s.entrada = p.entrada;
    s.sid = p.sid;
    s.llave = p.llave;
    s.pase = p.pase;
    s.segundos = p.segundos;
    s.canal = std::move(canal);
    s.inicio = inicio;
    s.sala = std::move(sala);
    return s;
}

Json aJson(const SesionGuardada& s) {
    Json j{{"entrada", s.entrada}, {"sid", s.sid},       {"llave", s.llave},  {"pase", s.pase},
           {"segundos", s.segundos}, {"canal", s.canal}, {"inicio", s.inicio}};
    if (s.sala) j["sala"] = *s.sala;
    if (s.detenida) j["detenida"] = *s.detenida;
    return j;
}

std::optional<SesionGuardada> sesionDe(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    auto texto = [&](const char* k) -> const Json* {
        auto it = j.find(k);
        return it != j.end() && it->is_string() ? &*it : nullptr;
    };
    const Json* campos[] = {texto("entrada"), texto("sid"), texto("llave"), texto("pase"), texto("canal")};
    for (auto* c : campos)
        if (!c) return std::nullopt;
    auto segundos = j.find("segundos");
    auto inicio = j.find("inicio");
    if (segundos == j.end() || !segundos->is_number_integer() || inicio == j.end() || !inicio->is_number())
        return std::nullopt;
    const long long seg = segundos->get<long long>();
    if (seg < std::numeric_limits<int>::min() || seg > std::numeric_limits<int>::max()) return std::nullopt;
    SesionGuardada s;
    s.entrada = campos[0]->get<std::string>();
    s.sid = campos[1]->get<std::string>();
    s.llave = campos[2]->get<std::string>();
    s.pase = campos[3]->get<std::string>();
    s.canal = campos[4]->get<std::string>();
    s.segundos = int(seg);
    s.inicio = inicio->get<double>();
    if (s.sid.empty()) return std::nullopt;  // nothing to ask the relay about
    if (auto it = j.find("sala"); it != j.end()) {
        if (!it->is_string()) return std::nullopt;
        s.sala = it->get<std::string>();
    }
    if (auto it = j.find("detenida"); it != j.end()) {
        if (!it->is_boolean()) return std::nullopt;
        s.detenida = it->get<bool>();
    }
    return s;
}

double silencio(std::optional<double> modificado, double ahoraPared) {
    if (!modificado || !std::isfinite(*modificado)) return std::numeric_limits<double>::infinity();
    return ahoraPared - *modificado;
}

Veredicto leerVeredicto(const std::optional<std::string>& respuesta) {
    Veredicto v;
    if (!respuesta) return v;
    if (respuesta->rfind("VIVA", 0) == 0) {
        v.tipo = Veredicto::abierta;
        std::istringstream palabras(*respuesta);
        std::string p;
        while (palabras >> p) {
            // A whole number of at most 12 digits (some 30 000 years): more is garbage, not time.
            bool entero = !p.empty() && p.size() <= 12;
            for (char c : p) entero = entero && std::isdigit(static_cast<unsigned char>(c));
            if (entero) {
                v.segundos = std::stoll(p);
                break;
            }
        }
    } else if (*respuesta == "CERRADA") {
        v.tipo = Veredicto::cerrada;
    }
    return v;
}

bool confirmaCierre(const std::optional<std::string>& respuesta) { return respuesta && *respuesta == "CERRADA"; }

Revision revisar(const std::optional<SesionGuardada>& s, const std::optional<std::string>& sala, double silencio) {
    if (!s) return Revision::nada;
    // Whatever the record says, after this long the relay has closed the transmission itself.
    if (silencio > silencioMaximo) return Revision::borrar;
    if (s->estaDetenida() || (s->sala && *s->sala != sala.value_or(""))) return Revision::cerrar;
    return Revision::preguntar;
}

bool revisarAntesDeEmpezar(const std::optional<SesionGuardada>& s, double silencio) {
    return s && !s->estaDetenida() && silencio <= silencioMaximo;
}

}  // namespace tt
