#include "engine/cortador.h"

#include "comun/flv.h"

#include <algorithm>
#include <cstring>

namespace tt {

namespace {

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
        if (!flv::cabeceraValida(std::string_view(buf_.data() + ini_, tamCabecera)))
            return danar("la salida del compresor no empieza con una cabecera FLV");
        if (!quitar_) entregarEnPiezas(buf_.data() + ini_, tamCabecera, entregar);
        ini_ += tamCabecera;
        cabeceraHecha_ = true;
    }
    while (pendientes() >= 11) {
        const std::string_view b(buf_.data() + ini_, pendientes());
        std::string porque;
        const auto e = flv::leer(b, &porque);
        if (!e) return danar(porque);
        const std::size_t total = e->total();
        if (pendientes() < total) break;
        if (!flv::cierraBien(b, *e)) return danar("el tamaño al final de una etiqueta FLV no cuadra");
        if (cortar && cortar()) return cortarAqui();
        const std::uint32_t ms = e->ms;
        const bool configuracion = flv::esConfiguracion(b, *e);
        const bool audio = e->tipo == 8 && !configuracion;
        if (audio && pisoAudio_ && ms <= *pisoAudio_) {
            ini_ += total;
            continue;
        }
        if (audio) ultimoAudio_ = ms;
        if (e->tipo == 9 && !primerVideo_ && !configuracion) primerVideo_ = ms;
        ultimoMs_ = ms;
        entregarEnPiezas(buf_.data() + ini_, total, entregar);
        ini_ += total;
        ++etiquetas_;
    }
    if (cortar && cortar()) return cortarAqui();
    return Paso::seguir;
}

}  // namespace tt
