#include "comun/entorno.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tt {

const char* nombreTm(Tm t) {
    switch (t) {
        case Tm::datos: return "TM_DATOS";
        case Tm::bienvenida: return "TM_BIENVENIDA";
        case Tm::pase: return "TM_PASE";
        case Tm::retratos: return "TM_RETRATOS";
        case Tm::salir: return "TM_SALIR";
        case Tm::camaraFalsa: return "TM_CAMARA_FALSA";
        case Tm::ruido: return "TM_RUIDO";
        case Tm::autoPulsar: return "TM_AUTO";
        case Tm::pantalla: return "TM_PANTALLA";
        case Tm::archivo: return "TM_ARCHIVO";
        case Tm::seco: return "TM_SECO";
        case Tm::calidad: return "TM_CALIDAD";
        case Tm::guion: return "TM_GUION";
        case Tm::depurar: return "TM_DEPURAR";
        case Tm::topeKbps: return "TM_TOPE_KBPS";
        case Tm::topeDesde: return "TM_TOPE_DESDE";
        case Tm::topeHasta: return "TM_TOPE_HASTA";
        case Tm::corte: return "TM_CORTE";
        case Tm::calidadFija: return "TM_CALIDAD_FIJA";
        case Tm::editar: return "TM_EDITAR";
        case Tm::canales: return "TM_CANALES";
        case Tm::control: return "TM_CONTROL";
        case Tm::vincular: return "TM_VINCULAR";
        case Tm::actualizar: return "TM_ACTUALIZAR";
        case Tm::sesion: return "TM_SESION";
        case Tm::retomar: return "TM_RETOMAR";
        case Tm::microfonoReal: return "TM_MICROFONO_REAL";
    }
    return "";
}

Entorno Entorno::deProceso(char** env) {
    std::map<std::string, std::string> valores;
    for (char** p = env; p && *p; ++p) {
        const char* igual = std::strchr(*p, '=');
        if (!igual) continue;
        valores.emplace(std::string(*p, std::size_t(igual - *p)), std::string(igual + 1));
    }
    return Entorno(std::move(valores));
}

std::optional<std::string> Entorno::variable(const std::string& nombre) const {
    auto it = valores_.find(nombre);
    if (it == valores_.end()) return std::nullopt;
    return it->second;
}

std::optional<double> Entorno::numero(Tm t) const {
    auto v = texto(t);
    if (!v) return std::nullopt;
    return leerNumero(*v);
}

std::optional<double> leerNumero(std::string_view texto) {
    std::string s(texto);
    const char* inicio = s.c_str();
    while (*inicio == ' ' || *inicio == '\t') ++inicio;
    if (!*inicio) return std::nullopt;
    char* fin = nullptr;
    double v = std::strtod(inicio, &fin);
    while (*fin == ' ' || *fin == '\t') ++fin;
    if (*fin || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace tt
