#pragma once

#include "engine/bloque_audio.h"
#include "engine/orden_compresor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt {

// The stream's clock: fixes the origin, size, rate and audio format from the first buffers, and
// places every frame at a whole frame index and every audio buffer at a sample index. Pure: the
// engine calls it under its lock with the clock passed in, and does the copying and writing.
class Tiempos {
public:
    void armar(double ahora);  // a new transmission

    // Steps before placement: the first frame fixes size and rate; the origin waits up to 1.5 s
    // for the first audio. `arrancar` asks the caller to start the encoder now.
    struct Origen {
        bool soltar = false;
        bool arrancar = false;
        std::vector<std::string> bitacora;
    };
    Origen origen(double t, double duracion, int w, int h, int planos, bool hayMicro, double ahora, bool depurar);

    // Placement of a frame once the encoder may run. `copias` > 0: write the frame that many times.
    // `sinRed`: the uplink has had no network for long enough to pause the stream.
    // A microphone that stops delivering on air (unplugged, its audio server gone) is replaced by
    // silence up to the frames written, so the encoder, which waits for audio as much as for
    // video, never stalls; a microphone that comes back is placed by its own times again.
    struct Colocacion {
        int copias = 0;
        bool silencio = false;  // no microphone ever: the caller makes silence for each copy
        bool volvio = false;    // the pause for lack of network ended at this frame
        std::int64_t callado = 0, inicioCallado = 0;  // sample frames of silence for a silent microphone, from
        bool microCallo = false;                      // the microphone fell silent at this frame
        std::vector<std::string> bitacora;
    };
    Colocacion colocar(double t, bool arrancado, bool hayTuboV, bool sinRed, double ahora);
    void videoEscrito();  // one write job finished

    // Placement of one microphone buffer of `cuenta` sample frames.
    struct Audio {
        bool escribir = false;
        std::int64_t silencio = 0;  // sample frames of silence before the buffer
        std::int64_t corte = 0;     // sample frames cut from the buffer's head
        std::int64_t inicio = 0;    // stream sample index where the silence (or the buffer) begins
        bool mezclaSimple = false;  // 16-bit integer stereo at 48 kHz
        bool microVolvio = false;   // the first buffer after the microphone fell silent
        std::vector<std::string> bitacora;
    };
    // First buffer of the transmission: fixes the audio format (unless the stream already started
    // without a microphone). `puedeEscribir`: encoder running, not paused, an audio pipe or a
    // handover collecting audio.
    Audio audio(double t, std::int64_t cuenta, const FormatoAudio& f, double ahora, bool arrancado,
                bool puedeEscribir, bool depurar, double marcaPropia);
    // 16-bit integer stereo at 48 kHz: the compositor mixes the screen's sound into it.
    bool mezclaSimple() const {
        return formato.bytesMuestra == 2 && !formato.flotante && formato.canales == 2 && formato.hz == 48000;
    }
    // Seconds without microphone audio on air before silence takes its place.
    static constexpr double esperaMicro = 1.0;

    FormatoFlujo formato;
    std::optional<double> primeroV, primeroA, t0;
    double pedidoEn = 0;
    std::int64_t escritosV = 0, escritasA = 0, saltados = 0;
    std::optional<double> ultimoAudio;  // when the last microphone buffer was placed
    bool microCallado = false;
    int pendientesV = 0;
    bool enPausa = false;
    bool avisoTamano = false;
    bool sinMicrofono = false;  // the stream started without microphone: audio buffers are ignored
};

// The arithmetic of an encoder handover.
// The switch frame: frames from this index on go to the new encoder; never behind what was written
// nor behind the clock, where the audio is. `relleno`: repeats of the last frame written that the old
// encoder gets so its picture reaches the switch (a frame still on its way would be a hole in the
// stream), at most a second's worth.
struct PuntoDeRelevo {
    std::int64_t cuadro = 0;
    int relleno = 0;
};
PuntoDeRelevo cuadroDeRelevo(std::int64_t escritosV, double ahora, double t0, int cps);
// The new encoder's output time offset in seconds. Urgent: just after the last tag the old reader
// handed on (0.1 without a reader), since what the old encoder still holds is dropped. Otherwise the
// old offset plus the media time the old encoder received since its own start frame.
double desfaseDeRelevo(bool urgente, std::optional<std::uint32_t> ultimoMs, std::int64_t cuadro,
                       std::int64_t cuadroBase, int cps, double desfase);
// The audio sample index matching the switch frame (whole part of hz × cuadro ÷ cps).
std::int64_t muestraDeRelevo(double hz, std::int64_t cuadro, int cps);
// Of `total` sample frames written from stream index `inicio`, how many still go to the old encoder.
std::int64_t antesDelRelevo(std::int64_t muestra, std::int64_t inicio, std::int64_t total);

// Packs an NV12 picture (two planes with their own strides) into ancho × alto × 3/2 bytes; a plane
// whose stride or height is too small is left as zeros.
void empacarNv12(const std::uint8_t* y, int pasoY, int filasY, const std::uint8_t* uv, int pasoUV, int filasUV,
                 int ancho, int alto, std::uint8_t* destino);

}  // namespace tt
