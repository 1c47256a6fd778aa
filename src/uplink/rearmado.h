#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tt {

// The relay's reassembly of one stream: data chunks by sequence number, each accepted once
// whatever link brought it, handed out in order; a zero-length chunk marks the end.
// Owner: whoever holds it (the relay's single network thread).
class Rearmado {
public:
    // `topeEspera` bounds what chunks waiting for a gap really cost in memory, bookkeeping included.
    explicit Rearmado(std::size_t topeEspera = 64u << 20) : topeEspera_(topeEspera) {}

    struct Resultado {
        std::string listo;      // bytes now in order, to append to the output
        bool nuevo = false;     // the chunk was not seen before
        bool fin = false;       // the stream just became complete
        bool desbordado = false;  // too much waiting for a gap: the chunk was not taken
    };
    Resultado recibir(std::uint32_t seq, std::string datos);

    bool terminado() const { return terminado_; }
    std::uint32_t siguiente() const { return siguiente_; }
    std::size_t enEspera() const { return bytesEspera_; }  // memory held for chunks past a gap
    // What one waiting chunk costs: its map node and, past the short-string buffer, its heap block.
    static std::size_t coste(const std::string& datos);

private:
    std::size_t topeEspera_;
    std::uint32_t siguiente_ = 0;
    std::map<std::uint32_t, std::string> espera_;
    std::size_t bytesEspera_ = 0;
    std::optional<std::uint32_t> fin_;
    bool terminado_ = false;
};

}  // namespace tt
