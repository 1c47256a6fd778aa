#include "channels/formulario.h"

#include <QString>

namespace tt {

const char* const explicacionEliminar = "Se borran su clave y todas las pantallas que le armaste.";

namespace {

std::string recortar(const std::string& s, bool conSaltos) {
    auto blanco = [conSaltos](char c) {
        return c == ' ' || c == '\t' || (conSaltos && (c == '\n' || c == '\r' || c == '\v' || c == '\f'));
    };
    std::size_t a = 0, b = s.size();
    while (a < b && blanco(s[a])) ++a;
    while (b > a && blanco(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool mismoNombre(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

ResultadoCanal guardarActual(Canales& canales, Canal c, bool avisar) {
    c.nombre = recortar(c.nombre, false);
    c.servidor = recortar(c.servidor, true);
    c.clave = recortar(c.clave, true);
    if (c.servidor.empty()) c.servidor = Canal::servidorKick;

    ResultadoCanal r;
    r.canal = c;
    auto fallo = [&](const char* texto) {
        r.error = true;
        if (avisar) r.nota = texto;
        return r;
    };
    if (c.nombre.empty()) return fallo("Ponle el nombre del canal, como aparece en Kick.");
    for (const Canal& otro : canales.lista)
        if (otro.id != c.id && mismoNombre(otro.nombre, c.nombre)) return fallo("Ya hay un canal con ese nombre.");
    if (c.clave.empty()) return fallo("Falta la clave de transmisión.");
    if (!c.destino())
        return fallo("La URL del servidor debe empezar con rtmps:// (o rtmp://) y la clave va sin espacios.");

    canales.guardar(c);
    r.guardado = true;
    if (avisar) r.nota = "Guardado.";
    return r;
}

std::vector<Canal> anterioresLibres(const Canales& canales) {
    std::vector<Canal> libres;
    for (const Canal& c : canales.anteriores)
        if (!canales[c.id]) libres.push_back(c);
    return libres;
}

std::string notaAnterior(const Canal& c) { return "Datos de «" + c.nombre + "» puestos. Revisa y guarda."; }

std::string preguntaEliminar(const Canal& c) { return "¿Eliminar el canal «" + c.nombre + "»?"; }

}  // namespace tt
