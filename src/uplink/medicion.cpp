#include "uplink/medicion.h"

#include <algorithm>
#include <cstdio>

namespace tt {

std::string Medicion::cabecera(const std::string& host) {
    return "POST /__up HTTP/1.1\r\nHost: " + host +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(total) +
           "\r\nConnection: close\r\n\r\n";
}

std::string Medicion::lineaDepuracion(const std::string& nombre, const Resultado& r) {
    char cifras[96];
    std::snprintf(cifras, sizeof cifras, "%zu bytes en %.2f s = %.1f Mbps", r.bytes, r.transcurrido, r.mbps);
    return "medición " + nombre + ": " + cifras + " (" + r.razon + ")";
}

void Medicion::listo(double ahora) {
    if (!inicio_) inicio_ = ahora;
}

std::size_t Medicion::siguientePieza() const {
    if (terminada_ || !inicio_) return 0;
    return std::min(pieza, total - std::min(total, bytes_));
}

std::optional<Medicion::Resultado> Medicion::terminar(double ahora, const std::string& razon,
                                                     std::size_t sinConfirmar) {
    if (terminada_) return std::nullopt;
    terminada_ = true;
    Resultado r;
    r.bytes = bytes_ - std::min(bytes_, sinConfirmar);
    r.razon = razon;
    if (inicio_) r.transcurrido = ahora - *inicio_;
    if (inicio_ && r.transcurrido > minimo && r.bytes > 0) r.mbps = double(r.bytes) * 8 / r.transcurrido / 1e6;
    return r;
}

Camino armarCamino(const std::vector<std::string>& orden, const std::map<std::string, std::string>& usables) {
    Camino c;
    for (auto& bsd : orden) {
        auto it = usables.find(bsd);
        if (it == usables.end() || it->second.empty() || c.interfaces.count(it->second)) continue;
        c.nombres.push_back(it->second);
        c.interfaces[it->second] = bsd;
    }
    return c;
}

}  // namespace tt
