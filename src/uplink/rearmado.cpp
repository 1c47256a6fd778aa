#include "uplink/rearmado.h"

#include "protocolo/protocolo.h"

namespace tt {

std::size_t Rearmado::coste(const std::string& datos) {
    constexpr std::size_t nodo = 96;  // red-black node, key and string object, with malloc's header
    return nodo + (datos.capacity() > 15 ? datos.capacity() + 1 + 16 : 0);
}

Rearmado::Resultado Rearmado::recibir(std::uint32_t seq, std::string datos) {
    Resultado r;
    if (terminado_ || seq >= protocolo::relleno || seq < siguiente_ || espera_.count(seq)) return r;
    if (fin_ && seq >= *fin_) return r;  // nothing follows the end
    if (datos.empty()) {
        fin_ = seq;
        // Anything already waiting past the end is no part of the stream.
        for (auto it = espera_.lower_bound(seq); it != espera_.end();) {
            bytesEspera_ -= coste(it->second);
            it = espera_.erase(it);
        }
        r.nuevo = true;
    } else if (seq == siguiente_) {
        r.nuevo = true;
        r.listo = std::move(datos);
        ++siguiente_;
        for (auto it = espera_.begin(); it != espera_.end() && it->first == siguiente_; it = espera_.erase(it)) {
            r.listo += it->second;
            bytesEspera_ -= coste(it->second);
            ++siguiente_;
        }
    } else {
        datos.shrink_to_fit();
        const std::size_t c = coste(datos);
        if (bytesEspera_ + c > topeEspera_) {
            r.desbordado = true;
            return r;
        }
        bytesEspera_ += c;
        espera_.emplace(seq, std::move(datos));
        r.nuevo = true;
    }
    if (fin_ && siguiente_ == *fin_) {
        terminado_ = true;
        r.fin = true;
    }
    return r;
}

}  // namespace tt
