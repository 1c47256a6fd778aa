#include "quality/tablero.h"

#include <algorithm>
#include <cstdio>

namespace tt {

std::string conFormato(const char* f, double x) {
    char b[64];
    std::snprintf(b, sizeof b, f, x);
    return b;
}

std::string tiempoTexto(double segundos) {
    const long s = std::max(0L, long(segundos));
    char b[32];
    std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return b;
}

void CifrasAlAire::tomar(const Tablero::Cifras& c) {
    tiempo = c.tiempo;
    saltados = c.saltados;
    if (c.sale) sale = *c.sale;
    if (c.ritmo) ritmo = *c.ritmo;
    if (c.cps) cps = *c.cps;
}

std::string lineaEstado(const std::string& tiempo, const std::string& sale, const std::string& cps,
                        const std::string& ritmo, const std::string& saltados,
                        const std::optional<std::string>& calidad) {
    const std::string punto = "   ·   ";
    std::string s = tiempo + " al aire" + punto + sale + " Mbps" + punto + cps + " cuadros/s" + punto + "compresor " +
                    ritmo + punto + saltados + " saltados";
    if (calidad && !calidad->empty()) {
        std::string c = *calidad;
        if (c[0] >= 'A' && c[0] <= 'Z') c[0] = char(c[0] - 'A' + 'a');
        s += punto + c;
    }
    return s;
}

void Tablero::empezar(double ahora) {
    inicio = tAntes = ahora;
    bytesAntes = 0;
    avisoCorte = avisoCamara = false;
    lentos = 0;
}

Tablero::Cifras Tablero::refrescar(double ahora, const Lectura& l) {
    Cifras c;
    const double alAire = ahora - inicio;
    c.tiempo = tiempoTexto(alAire);
    c.saltados = std::to_string(l.saltados);

    c.pausado = l.enPausa;
    if (c.pausado != avisoCorte) {
        avisoCorte = c.pausado;
        if (c.pausado)
            c.avisos.push_back({"Sin internet. En Kick se queda " + (l.respaldo ? "«" + *l.respaldo + "»" : "la última imagen") +
                                    " hasta que vuelva.",
                                true});
        else
            c.avisos.push_back({"Volvió el internet: sigues al aire.", false});
    }
    const bool sinImagen = l.ultimoVideoEn > 0 && ahora - l.ultimoVideoEn > 3;
    if (sinImagen != avisoCamara) {
        avisoCamara = sinImagen;
        c.avisos.push_back(sinImagen ? Aviso{"La cámara dejó de mandar imagen. Revisa el cable o que siga encendida.", true}
                                     : Aviso{"Volvió la imagen de la cámara.", false});
    }

    if (ahora - tAntes < 2) return c;
    c.toca = true;
    if (l.bytes >= 1) c.sale = conFormato("%.2f", double(std::max<std::int64_t>(l.bytes - bytesAntes, 0)) * 8 / (ahora - tAntes) / 1e6);
    bytesAntes = l.bytes;
    tAntes = ahora;
    if (l.ritmo > 0) {
        c.ritmo = conFormato("%.2f×", l.ritmo);
        c.cps = conFormato("%.0f", l.cps);
    }
    if (l.ritmo > 0 && l.ritmo < 0.85 && alAire >= 21 && !c.pausado) {
        if (++lentos == 4) c.lento = Aviso{"Esta computadora no está alcanzando a comprimir en tiempo real.", true};
    } else {
        if (lentos >= 4) c.lento = Aviso{"El compresor ya va al ritmo.", false};
        lentos = 0;
    }
    return c;
}

}  // namespace tt
