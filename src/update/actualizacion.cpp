#include "update/actualizacion.h"

#include <algorithm>
#include <vector>

namespace tt {

namespace {

std::vector<unsigned long long> piezas(std::string_view s) {
    std::vector<unsigned long long> r;
    std::size_t i = 0;
    while (i <= s.size()) {
        std::size_t j = s.find('.', i);
        if (j == std::string_view::npos) j = s.size();
        std::string_view p = s.substr(i, j - i);
        if (!p.empty()) {
            unsigned long long v = 0;
            bool numero = true;
            for (char c : p) {
                if (c < '0' || c > '9') {
                    numero = false;
                    break;
                }
                // Absurdly long pieces saturate instead of wrapping around.
                v = v > (~0ull - 9) / 10 ? ~0ull : v * 10 + unsigned(c - '0');
            }
            r.push_back(numero ? v : 0);
        }
        i = j + 1;
    }
    return r;
}

std::optional<std::string> texto(const Json& j, const char* k) {
    auto i = j.find(k);
    if (i == j.end() || !i->is_string()) return std::nullopt;
    return i->get<std::string>();
}

}  // namespace

bool mayor(std::string_view a, std::string_view b) {
    auto x = piezas(a), y = piezas(b);
    const std::size_t n = std::max(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto u = i < x.size() ? x[i] : 0, v = i < y.size() ? y[i] : 0;
        if (u != v) return u > v;
    }
    return false;
}

std::optional<Anuncio> leerAnuncio(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    auto build = texto(j, "build"), sha = texto(j, "sha256");
    if (!build || !sha) return std::nullopt;
    return Anuncio{*build, *sha, texto(j, "firma").value_or(""), texto(j, "version"), texto(j, "notas")};
}

DatosApp leerDatosApp(const std::optional<Json>& j) {
    DatosApp d;
    if (!j || !j->is_object()) return d;
    d.identificador = texto(*j, "identificador");
    d.version = texto(*j, "version");
    if (auto b = texto(*j, "build")) d.build = *b;
    return d;
}

bool esLaEsperada(const DatosApp& actual, const DatosApp& nueva, const std::string& build) {
    return actual.identificador == nueva.identificador && nueva.build == build;
}

Oferta decidirOferta(const Momento& m, const std::optional<Anuncio>& pendiente,
                     const std::optional<std::string>& pospuesta) {
    if (m.ocupado || !pendiente || m.vivo || !m.ventanaLibre) return Oferta::nada;
    // A build the user put off, or that failed to install, waits for the next start, with or
    // without asking: retrying a broken package every three hours would only fail again.
    if (pospuesta && *pospuesta == pendiente->build) return Oferta::nada;
    return m.automatico ? Oferta::instalar : Oferta::preguntar;
}

std::string citar(const std::string& ruta) {
    std::string r = "'";
    for (char c : ruta) {
        if (c == '\'') r += "'\\''";
        else r += c;
    }
    return r + "'";
}

std::string guionCambio(pid_t pid, const std::filesystem::path& instalada, const std::filesystem::path& nueva,
                        const std::filesystem::path& trabajo) {
    const std::string p = std::to_string(pid);
    return "while kill -0 " + p + " 2>/dev/null; do sleep 0.2; done\n"
           "D=" + citar(instalada.string()) + "; N=" + citar(nueva.string()) + "; V=\"$D.anterior\"\n"
           "rm -rf \"$V\"\n"
           "if mv \"$D\" \"$V\" && mv \"$N\" \"$D\"; then rm -rf \"$V\"; else [ -d \"$V\" ] && [ ! -d \"$D\" ] && mv \"$V\" \"$D\"; fi\n"
           "rm -rf " + citar(trabajo.string()) + "\n"
           "setsid \"$D/bin/tremolante\" </dev/null >/dev/null 2>&1 &";
}

std::string textoOferta(const std::optional<std::string>& notas, bool sola) {
    return (notas && !notas->empty() ? *notas + "\n\n" : std::string()) +
           (sola ? std::string("Se instala en unos segundos y la app se vuelve a abrir sola.")
                 : std::string("Esta copia no se puede actualizar sola (no está instalada o su carpeta no se puede "
                               "escribir): descarga la versión nueva en ") + kPaginaDescarga + ".");
}

std::string textoManual() {
    return std::string("No se pudo actualizar sola. Descarga la versión nueva en ") + kPaginaDescarga + ".";
}

}  // namespace tt
