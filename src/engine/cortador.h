#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tt {

// Cuts the encoder's FLV output at tag boundaries: the 13-byte file header first (handed on or
// dropped), then every tag with its trailing 4-byte size, each in pieces of at most 16384 bytes.
// A tag is handed on only once all of it is there. Pure: no I/O, no threads.
// Owner: the reader thread that feeds it.
class Cortador {
public:
    static constexpr std::size_t piezaMaxima = 16384;
    static constexpr std::size_t tamCabecera = 13;  // 9-byte file header + size of "tag 0"

    enum class Paso {
        seguir,   // needs more bytes
        cortado,  // stopped at a tag boundary because `cortar` answered true
        danado,   // not an FLV stream (or its framing was lost): nothing more is handed on
    };
    using Entregar = std::function<void(std::string pieza)>;
    using Cortar = std::function<bool()>;

    explicit Cortador(bool quitarCabecera) : quitar_(quitarCabecera) {}

    // Room for a read of up to n bytes straight into the buffer (the only copy before the pieces);
    // after writing k of them, call agregados(k).
    char* espacio(std::size_t n);
    // Takes the k bytes written into espacio() and hands on every complete unit. `cortar` is asked
    // before each tag and once more when the bytes are used up; true stops the cutter for good.
    Paso agregados(std::size_t k, const Entregar& entregar, const Cortar& cortar = {});
    // The same for bytes held elsewhere (copies them in).
    Paso datos(std::string_view bytes, const Entregar& entregar, const Cortar& cortar = {});

    // Audio frames stamped at or before `ms` are dropped from here on (the codec's configuration
    // is kept): a handover's encoder starts its audio with a priming frame that reaches back over
    // the previous encoder's last frame, and a stream's audio time must not go backwards.
    void audioDespuesDe(std::uint32_t ms) { pisoAudio_ = ms; }
    std::optional<std::uint32_t> ultimoAudioMs() const { return ultimoAudio_; }  // last audio frame handed on
    // Time of the first video frame handed on: where this encoder's picture starts on the stream's
    // time line (the muxer may have moved it off zero to keep the audio's priming frame positive).
    std::optional<std::uint32_t> primerVideoMs() const { return primerVideo_; }

    // Time stamp (ms, with its extension byte) of the last tag handed on; 0 before the first.
    std::uint32_t ultimoMs() const { return ultimoMs_; }
    std::uint64_t etiquetas() const { return etiquetas_; }
    std::size_t pendientes() const { return buf_.size() - ini_; }  // bytes of an incomplete unit
    Paso estado() const { return estado_; }
    const std::string& error() const { return error_; }  // why the stream counts as damaged

private:
    Paso procesar(const Entregar& entregar, const Cortar& cortar);
    void entregarEnPiezas(const char* p, std::size_t n, const Entregar& entregar);
    Paso danar(std::string por);
    Paso cortarAqui();

    bool quitar_;
    bool cabeceraHecha_ = false;
    Paso estado_ = Paso::seguir;
    std::string buf_;
    std::size_t ini_ = 0;  // start of the unconsumed bytes in buf_
    std::size_t fin_ = 0;  // end of the valid bytes while a read is pending
    std::uint32_t ultimoMs_ = 0;
    std::uint64_t etiquetas_ = 0;
    std::optional<std::uint32_t> pisoAudio_, ultimoAudio_, primerVideo_;
    std::string error_;
};

}  // namespace tt
