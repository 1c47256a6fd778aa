#include "uplink/rearmado.h"

#include "uplink/protocolo.h"

namespace tt {

Rearmado::Resultado Rearmado::recibir(std::uint32_t seq, std::string datos) {
    Resultado r;
    if (terminado_ || seq >= protocolo::relleno || seq < siguiente_ || espera_.count(seq)) return r;
    if (fin_ && seq >= *fin_) return r;  // nothing follows the end
    if (datos.empty()) {
        fin_ = seq;
        // Anything already waiting past the end is no part of the stream.
        for (auto it = espera_.lower_bound(seq); it != espera_.end();) {
            bytesEspera_ -= it->second.size();
            it = espera_.erase(it);
        }
        r.nuevo = true;
    } else if (seq == siguiente_) {
        r.nuevo = true;
        r.listo = std::move(datos);
        ++siguiente_;
        for (auto it = espera_.begin(); it != espera_.end() && it->first == siguiente_; it = espera_.erase(it)) {
            r.listo += it->second;
            bytesEspera_ -= it->second.size();
            ++siguiente_;
        }
    } else {
        if (bytesEspera_ + datos.size() > topeEspera_) {
            r.desbordado = true;
            return r;
        }
        bytesEspera_ += datos.size();
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
