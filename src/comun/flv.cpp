#include "comun/flv.h"

namespace tt::flv {

namespace {
std::uint32_t be24(std::string_view b, std::size_t i) {
    return std::uint32_t(std::uint8_t(b[i])) << 16 | std::uint32_t(std::uint8_t(b[i + 1])) << 8 | std::uint8_t(b[i + 2]);
}
}  // namespace

bool empiezaFlujo(std::string_view b) { return b.substr(0, 3) == "FLV"; }

bool cabeceraValida(std::string_view b) {
    return b.size() >= tamCabecera && empiezaFlujo(b) && std::uint8_t(b[5]) == 0 && be24(b, 6) == 9;
}

std::optional<Etiqueta> leer(std::string_view b, std::string* porque) {
    if (b.size() < tamEtiqueta) return std::nullopt;
    const auto tipo = std::uint8_t(b[0]);
    if ((tipo & 0xE0) != 0 || (tipo != 8 && tipo != 9 && tipo != 18)) {
        if (porque) *porque = "etiqueta FLV de tipo desconocido (" + std::to_string(tipo) + ")";
        return std::nullopt;
    }
    if (be24(b, 8) != 0) {
        if (porque) *porque = "etiqueta FLV con número de flujo distinto de 0";
        return std::nullopt;
    }
    Etiqueta e;
    e.tipo = tipo;
    e.datos = be24(b, 1);
    e.ms = be24(b, 4) | std::uint32_t(std::uint8_t(b[7])) << 24;
    return e;
}

bool cierraBien(std::string_view etiqueta, const Etiqueta& e) {
    if (etiqueta.size() < e.total()) return false;
    const std::size_t i = tamEtiqueta + e.datos;
    return std::uint8_t(etiqueta[i]) == 0 && be24(etiqueta, i + 1) == tamEtiqueta + e.datos;
}

bool esConfiguracion(std::string_view etiqueta, const Etiqueta& e) {
    if (e.datos < 2 || etiqueta.size() < tamEtiqueta + 2) return false;
    const auto a = std::uint8_t(etiqueta[tamEtiqueta]), b = std::uint8_t(etiqueta[tamEtiqueta + 1]);
    if (e.tipo == 9) return (a & 0x0F) == 7 && b == 0;
    if (e.tipo == 8) return (a >> 4) == 10 && b == 0;
    return false;
}

}  // namespace tt::flv
