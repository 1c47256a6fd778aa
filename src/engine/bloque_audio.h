#pragma once

#include <cstdint>
#include <vector>

namespace tt {

// The layout of microphone samples, read from the device's buffers (interleaved).
struct FormatoAudio {
    int hz = 48000;
    int canales = 2;
    int bits = 16;           // per sample of one channel
    bool flotante = false;   // float samples (32 bits), else signed integers
    int bytesCuadro() const { return canales * (bits / 8); }
    // 16-bit integer stereo at 48 kHz: what the screen sound can be mixed into.
    bool normal() const { return hz == 48000 && canales == 2 && bits == 16 && !flotante; }
    bool operator==(const FormatoAudio&) const = default;
};

// One microphone buffer as delivered on "tm.audio": whole sample frames only.
struct BloqueAudio {
    std::vector<std::uint8_t> bytes;
    FormatoAudio formato;
    double hora = 0;   // monotonic seconds of its first sample
    double marca = 0;  // the device's own time of it, seconds (for the log)
    int cuadros() const {
        const int b = formato.bytesCuadro();
        return b > 0 ? int(bytes.size() / b) : 0;
    }
};

// The largest absolute sample scaled to 0…1: 32-bit float as is, 32-bit integer ÷ 2^31, 16-bit
// integer ÷ 2^15; other layouts 0.
double pico(const BloqueAudio& b);

}  // namespace tt
