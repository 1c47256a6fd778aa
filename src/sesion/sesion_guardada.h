#pragma once

// The record of an open transmission (sesion.json) and the decisions taken on it: what a start,
// a check with the relay and a relay's answer mean for it. Pure: no files, no sockets, wall-clock
// time passed in.

#include "comun/json.h"
#include "protocolo/pase.h"

#include <optional>
#include <string>
#include <string_view>

namespace tt {

// The permission of a transmission that may still be open on the relay, and what the recovery
// dialog shows of it. `llave` and `pase` are credentials: the file is 0600 and never logged.
struct SesionGuardada {
    std::string entrada, sid, llave, pase;
    int segundos = 0;
    std::string canal;
    double inicio = 0;  // wall clock, seconds since 1970, of the first write
    std::optional<std::string> sala;
    std::optional<bool> detenida;

    static SesionGuardada de(const Pase& p, std::string canal, double inicio, std::optional<std::string> sala);
    Pase comoPase() const { return Pase{entrada, sid, llave, pase, segundos}; }
    bool estaDetenida() const { return detenida.value_or(false); }
};

// Keys in field order; `sala` and `detenida` only when present.
Json aJson(const SesionGuardada& s);
// Nothing when a member is missing or of the wrong type.
std::optional<SesionGuardada> sesionDe(const Json& j);

// After this long without a sign of life the relay has closed the transmission on its own.
constexpr double silencioMaximo = 330;
// Seconds since the record's last sign of life; +infinity without a date.
double silencio(std::optional<double> modificado, double ahoraPared);

// A relay's answer to "TM3": open with its seconds on air (the first whole number among the
// answer's words, 0 if none), closed, or no usable answer (the record is kept and asked again).
struct Veredicto {
    enum Tipo { abierta, cerrada, sinRespuesta } tipo = sinRespuesta;
    long long segundos = 0;
};
Veredicto leerVeredicto(const std::optional<std::string>& respuesta);
// Only the relay's "CERRADA" confirms a close: a refusal ("CLAVE", "ERROR") closed nothing.
bool confirmaCierre(const std::optional<std::string>& respuesta);

// What a check does with the record it found (the account's room given when signed in).
enum class Revision {
    nada,       // no record
    borrar,     // silent too long: the relay closed it on its own
    cerrar,     // stopped by the user or another account's: tell the relay to close, asking nobody
    preguntar,  // maybe still open: ask the relay
};
Revision revisar(const std::optional<SesionGuardada>& s, const std::optional<std::string>& sala, double silencio);

// The press of the stream button checks with the relay first only for a recent record not stopped.
bool revisarAntesDeEmpezar(const std::optional<SesionGuardada>& s, double silencio);

}  // namespace tt
