#include "engine/seleccion.h"

#include <cmath>
#include <regex>

namespace tt {

std::optional<std::size_t> elegirDispositivo(const std::vector<Dispositivo>& lista,
                                             const std::optional<std::string>& recordado) {
    if (lista.empty()) return std::nullopt;
    if (recordado)
        for (std::size_t i = 0; i < lista.size(); ++i)
            if (lista[i].id == *recordado) return i;
    static const std::regex preferido("ILCE|Sony|USB3|Capture|HDMI|Cam Link");
    static const std::regex evitado("OBS|iPhone|Virtual");
    for (std::size_t i = 0; i < lista.size(); ++i)
        if (std::regex_search(lista[i].nombre, preferido)) return i;
    for (std::size_t i = 0; i < lista.size(); ++i)
        if (!std::regex_search(lista[i].nombre, evitado)) return i;
    return 0;
}

bool accesoCamara(const std::vector<Dispositivo>& camaras, bool (*puedeAbrir)(const std::string& id)) {
    if (camaras.empty()) return true;
    for (const auto& c : camaras)
        if (puedeAbrir(c.id)) return true;
    return false;
}

double duracionCuadro(const RangoCuadros& r) {
    if (r.maximo > 60.5 && r.minimo <= 60) return 1.0 / 60;
    return 1.0 / r.maximo;
}

std::string formatoTexto(int ancho, int alto, double maximo) {
    return std::to_string(ancho) + "×" + std::to_string(alto) + " a " +
           std::to_string(std::lround(std::min(maximo, 60.0))) + " cuadros";
}

std::string salidaTexto(int ancho, int alto) {
    const long h = std::min(alto, 720);
    const long w = alto > 0 ? 2 * ((h * ancho + alto) / (2L * alto)) : 0;  // rounded to nearest, as av_rescale
    return "Sale en " + std::to_string(w) + "×" + std::to_string(h);
}

std::optional<FormatoElegido> elegirFormato(const std::vector<FormatoCamara>& formatos) {
    std::optional<FormatoElegido> mejor;
    long mejorPuntos = 0;
    for (std::size_t i = 0; i < formatos.size(); ++i) {
        const auto& f = formatos[i];
        if (f.alto > 1080 || f.alto <= 0 || f.ancho <= 0 || f.rangos.empty()) continue;
        std::size_t r = 0;
        for (std::size_t j = 1; j < f.rangos.size(); ++j)
            if (f.rangos[j].maximo > f.rangos[r].maximo) r = j;
        const double maximo = f.rangos[r].maximo;
        if (!std::isfinite(maximo) || maximo <= 0) continue;
        const long puntos = long(f.alto) * 100 + long(std::min(maximo, 60.5));
        if (mejor && puntos <= mejorPuntos) continue;
        mejorPuntos = puntos;
        mejor = FormatoElegido{i, r, duracionCuadro(f.rangos[r]), formatoTexto(f.ancho, f.alto, maximo),
                               salidaTexto(f.ancho, f.alto)};
    }
    return mejor;
}

int ritmoFalso(const std::optional<std::string>& ruido) {
    if (!ruido) return 30;
    std::string t = *ruido;
    const auto a = t.find_first_not_of(" \t\n");
    const auto b = t.find_last_not_of(" \t\n");
    if (a == std::string::npos) return 30;
    t = t.substr(a, b - a + 1);
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i == t.size() || t.size() > 12) return 30;
    for (std::size_t k = i; k < t.size(); ++k)
        if (t[k] < '0' || t[k] > '9') return 30;
    const long n = std::stol(t);
    if (n <= 0) return 30;
    return int(std::min(n, 240L));
}

bool Rebote::toca(double ahora) {
    if (!vence_ || ahora + 1e-9 < *vence_) return false;
    vence_.reset();
    return true;
}

}  // namespace tt
