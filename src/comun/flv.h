#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// FLV as the encoder writes it and the relay reads it: one rule for what a tag is.
namespace tt::flv {

constexpr std::size_t tamCabecera = 13;  // 9-byte file header + the size of "tag 0"
constexpr std::size_t tamEtiqueta = 11;  // a tag's own header

// A stream (another encoder's, after the first) starts here: "FLV" at the start of b.
bool empiezaFlujo(std::string_view b);
// The whole file header: "FLV", a version byte, flags, then its own size, 9 for FLV version 1.
bool cabeceraValida(std::string_view b);

struct Etiqueta {
    std::uint8_t tipo = 0;   // 8 audio, 9 video, 18 script data
    std::size_t datos = 0;   // body bytes
    std::uint32_t ms = 0;    // time stamp with its extension byte
    std::size_t total() const { return tamEtiqueta + datos + 4; }  // with the trailing size
};

// The tag whose 11-byte header starts b (at least that many bytes): audio, video or script data,
// no reserved or filter bits, stream 0. Judged on the header alone, so garbage is caught before
// waiting for a body it claims; otherwise the reason, in words for the log.
std::optional<Etiqueta> leer(std::string_view b, std::string* porque = nullptr);
// A whole tag's trailing size agrees with its header.
bool cierraBien(std::string_view etiqueta, const Etiqueta& e);
// The codec's configuration: AVC's (codec 7) or AAC's (format 10) packet type 0.
bool esConfiguracion(std::string_view etiqueta, const Etiqueta& e);

}  // namespace tt::flv
