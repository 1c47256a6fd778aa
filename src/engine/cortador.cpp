#include "engine/cortador.h"

#include <algorithm>
#include <cstring>

namespace tt {

namespace {

std::uint32_t be24(const unsigned char* p) { return (p[0] << 16) | (p[1] << 8) | p[2]; }
std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// A buffer that once held a huge tag gives its memory back when it is nearly empty again.
constexpr std::size_t grandeGuardado = 4u << 20;

}  // namespace

char* Cortador::espacio(std::size_t n) {
    if (ini_ > 0) {
        buf_.erase(0, ini_);  // what remains is less than one tag
        ini_ = 0;
    }
    if (buf_.capacity() > grandeGuardado && buf_.size() + n < grandeGuardado / 4) buf_.shrink_to_fit();
    fin_ = buf_.size();
    buf_.resize(fin_ + n);
    return buf_.data() + fin_;
}

Cortador::Paso Cortador::agregados(std::size_t k, const Entregar& entregar, const Cortar& cortar) {
    k = std::min(k, buf_.size() - fin_);
    buf_.resize(fin_ + k);
    fin_ = buf_.size();
    return procesar(entregar, cortar);
}

Cortador::Paso Cortador::datos(std::string_view bytes, const Entregar& entregar, const Cortar& cortar) {
    char* p = espacio(bytes.size());
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return agregados(bytes.size(), entregar, cortar);
}

Cortador::Paso Cortador::danar(std::string por) {
    error_ = std::move(por);
    estado_ = Paso::danado;
    buf_.clear();
    buf_.shrink_to_fit();
    ini_ = fin_ = 0;
    return estado_;
}

Cortador::Paso Cortador::cortarAqui() {
    estado_ = Paso::cortado;  // the rest of the buffer is discarded
    buf_.clear();
    buf_.shrink_to_fit();
    ini_ = fin_ = 0;
    return estado_;
}

void Cortador::entregarEnPiezas(const char* p, std::size_t n, const Entregar& entregar) {
    for (std::size_t o = 0; o < n; o += piezaMaxima) entregar(std::string(p + o, std::min(piezaMaxima, n - o)));
}

Cortador::Paso Cortador::procesar(const Entregar& entregar, const Cortar& cortar) {
    if (estado_ != Paso::seguir) {
        buf_.clear();
        ini_ = fin_ = 0;
        return estado_;
    }
    if (!cabeceraHecha_) {
        if (pendientes() < tamCabecera) return Paso::seguir;
        const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + ini_);
        // "FLV", a version byte, flags, then the header's own size: always 9 for FLV version 1.
        if (p[0] != 'F' || p[1] != 'L' || p[2] != 'V' || be32(p + 5) != 9)
            return danar("la salida del compresor no empieza con una cabecera FLV");
        if (!quitar_) entregarEnPiezas(buf_.data() + ini_, tamCabecera, entregar);
        ini_ += tamCabecera;
        cabeceraHecha_ = true;
    }
    while (pendientes() >= 11) {
        const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + ini_);
        // Checked on the 11-byte tag header, so garbage is caught before waiting for a size it claims.
        const unsigned tipo = p[0];
        if ((tipo & 0xC0) != 0 || ((tipo & 0x1F) != 8 && (tipo & 0x1F) != 9 && (tipo & 0x1F) != 18))
            return danar("etiqueta FLV de tipo desconocido (" + std::to_string(tipo) + ")");
        if (p[8] != 0 || p[9] != 0 || p[10] != 0) return danar("etiqueta FLV con número de flujo distinto de 0");
        const std::size_t d = be24(p + 1);
        const std::size_t total = d + 15;
        if (pendientes() < total) break;
        if (be32(p + 11 + d) != d + 11) return danar("el tamaño al final de una etiqueta FLV no cuadra");
        if (cortar && cortar()) return cortarAqui();
        const std::uint32_t ms = be24(p + 4) | (std::uint32_t(p[7]) << 24);
        // Audio (type 8) other than AAC's configuration (format 10, packet type 0).
        const bool audio = (tipo & 0x1F) == 8 && !(d >= 2 && (p[11] >> 4) == 10 && p[12] == 0);
        if (audio && pisoAudio_ && ms <= *pisoAudio_) {
            ini_ += total;
            continue;
        }
        if (audio) ultimoAudio_ = ms;
        // Video (type 9) other than AVC's configuration (codec 7, packet type 0).
        if ((tipo & 0x1F) == 9 && !primerVideo_ && !(d >= 2 && (p[11] & 0x0F) == 7 && p[12] == 0)) primerVideo_ = ms;
        ultimoMs_ = ms;
        entregarEnPiezas(buf_.data() + ini_, total, entregar);
        ini_ += total;
        ++etiquetas_;
    }
    if (cortar && cortar()) return cortarAqui();
    return Paso::seguir;
}

}  // namespace tt
