#include "quality/texto_redes.h"

#include "quality/tablero.h"

namespace tt {

TextoRedes textoRedes(const std::optional<Resumen>& alAire, const std::vector<std::string>& nombres,
                      const std::map<std::string, double>& sube, const std::set<std::string>& midiendo) {
    TextoRedes r;
    if (alAire) {
        for (const auto& [nombre, estado] : alAire->partes) {
            r.texto += nombre + ": " + estado;
            if (auto s = sube.find(nombre); s != sube.end()) r.texto += conFormato(" (aguanta %.0f Mbps)", s->second);
            r.texto += "\n";
        }
        const int n = alAire->unidas;
        r.texto += n == 0 ? "Sin conexión con el servidor"
                   : n == 1 ? "Sale por 1 red"
                            : "Sale por " + std::to_string(n) + " redes sumadas";
        r.color = n > 0 ? TextoRedes::gris : TextoRedes::rojo;
        return r;
    }
    if (nombres.empty()) return {TextoRedes::rojo, "Sin internet"};
    std::string items;
    double suma = 0;
    bool todas = true;
    for (const auto& nombre : nombres) {
        if (!items.empty()) items += "  +  ";
        if (auto s = sube.find(nombre); s != sube.end()) {
            items += nombre + conFormato(" sube %.1f Mbps", s->second);
            suma += s->second;
        } else {
            items += midiendo.count(nombre) ? nombre + " midiendo…" : nombre;
            todas = false;
        }
    }
    r.texto = nombres.size() == 1 ? "Internet: 1 red · " + items
                                  : "Internet: " + std::to_string(nombres.size()) + " redes · " + items;
    if (todas) {
        if (nombres.size() > 1) r.texto += conFormato("  =  %.1f Mbps", suma);
        if (suma < 2.5) {
            r.texto += "  ·  no alcanza para transmitir bien";
            r.color = TextoRedes::naranja;
        }
    }
    return r;
}

}  // namespace tt
