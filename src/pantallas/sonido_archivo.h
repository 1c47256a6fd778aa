#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// Something that hands out 48 kHz 16-bit stereo sound following a video's playback time.
class FuenteSonido {
public:
    virtual ~FuenteSonido() = default;
    // Exactly 2 × n samples (n stereo frames, interleaved) for the video time x, in seconds from
    // the start of the file.
    virtual std::vector<std::int16_t> leer(int n, double x) = 0;
};

// The sound of a screen's background video: every audio track of the file decoded, resampled to
// 48 kHz 16-bit stereo and mixed, handed out block by block, re-seeking when the video's time and
// the sound drift more than 0.3 s apart (which also follows a looping video). Samples past the end
// or while the file cannot be decoded are zeros.
// Called on the engine's audio queue; `candado` guards the decoding state against the main thread
// swapping screens.
class SonidoArchivo : public FuenteSonido {
public:
    // Nothing when the file cannot be opened or has no audio track.
    static std::unique_ptr<SonidoArchivo> abrir(const std::string& ruta);
    ~SonidoArchivo() override;

    std::vector<std::int16_t> leer(int n, double x) override;

    int pistas() const { return pistas_; }
    // Media time of the next sample handed out; −10 before the first read.
    double posicion() const;

    struct Lector;

private:
    SonidoArchivo(std::string ruta, int pistas);

    const std::string ruta_;
    const int pistas_;
    mutable std::mutex candado;  // guards everything below
    std::unique_ptr<Lector> lector;
    std::vector<std::int16_t> bufer;  // decoded, not handed out yet
    double posicion_ = -10;
    bool fin = true;
};

// How the screen on air treats one microphone block.
struct ReglaMezcla {
    bool micro = true;          // the microphone is open on this screen
    double volumen = 1;         // gain of the video's sound, 0…1
    double tiempoVideo = -1;    // the background video's playback time; negative when unknown
    bool videoAvanza = false;   // the video picture is advancing (not paused or ended)
};

// One microphone block, in place: zeroed when the screen closes the microphone; then, when the
// block is 16-bit stereo at 48 kHz (`normal`), the video's sound is added sample by sample,
// scaled by `volumen` and clamped to −32768…32767 — only while there is a sound, the volume is
// above 0.005, the video time is known and the picture advances.
void mezclar(std::vector<std::uint8_t>& bloque, bool normal, const ReglaMezcla& regla, FuenteSonido* sonido);

}  // namespace tt
