#include "cuenta/textos.h"

#include <cmath>

namespace tt {

std::string enHoras(long long s) {
    if (s < 0) return "0 min";
    if (s >= 3600) return std::to_string(s / 3600) + " h " + std::to_string((s / 60) % 60) + " min";
    return std::to_string(s / 60) + " min";
}

std::optional<long long> saldoRestante(bool vivoConPase, long long saldoAlEmpezar, double segundosAlAire,
                                       std::optional<long long> saldo) {
    if (vivoConPase) return saldoAlEmpezar - static_cast<long long>(std::floor(std::max(0.0, segundosAlAire)));
    return saldo;
}

TextoSaldo textoSaldo(std::optional<long long> r, bool vivoConPase, bool avisoDado) {
    TextoSaldo t;
    if (!r) return t;
    if (*r < 1) {
        t.texto = "Sin horas de transmisión";
        t.color = TextoSaldo::Color::rojo;
        return t;
    }
    t.texto = "Te quedan " + enHoras(*r) + " de transmisión";
    t.color = *r > 599 ? TextoSaldo::Color::secundario : TextoSaldo::Color::naranja;
    t.avisarCinco = vivoConPase && *r <= 299 && !avisoDado;
    return t;
}

TextoCelular textoCelular(const std::optional<std::string>& correo, bool conectado, int vinculados, int celulares) {
    if (!correo) return {"Inicia sesión para cambiar de pantalla desde tu teléfono.", "Iniciar sesión…"};
    TextoCelular t{*correo + "\n", "Abrir app móvil"};
    if (!conectado) {
        t.texto += "Sin conexión con el servicio de control.";
    } else if (vinculados < 1) {
        t.texto += "Ningún celular con sesión todavía.";
    } else {
        t.texto += vinculados == 1 ? "1 celular con sesión" : std::to_string(vinculados) + " celulares con sesión";
        t.texto += " · ";
        t.texto += celulares == 1  ? "1 conectado"
                   : celulares > 1 ? std::to_string(celulares) + " conectados"
                                   : "ninguno conectado";
    }
    return t;
}

std::string textoCuentaCelulares(int vinculados, int celulares) {
    if (vinculados < 1) return "Todavía no hay celulares con sesión.";
    std::string t = vinculados == 1 ? "1 celular con sesión" : std::to_string(vinculados) + " celulares con sesión";
    t += " · ";
    t += celulares == 1  ? "1 conectado ahora"
         : celulares > 1 ? std::to_string(celulares) + " conectados ahora"
                         : "ninguno conectado ahora";
    return t;
}

std::string enlaceCelular(const std::string& sitio, const std::string& correo) {
    static const std::string_view libres = "-._~!$&'()*+,;=:@/?";
    static const char* cifras = "0123456789ABCDEF";
    std::string t = "https://" + sitio + "/#c=";
    for (unsigned char c : correo) {
        const bool letra = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (letra || libres.find(char(c)) != std::string_view::npos) {
            t += char(c);
        } else {
            t += '%';
            t += cifras[c >> 4];
            t += cifras[c & 15];
        }
    }
    return t;
}

}  // namespace tt
