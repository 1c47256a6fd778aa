#pragma once

#include "comun/cuadro.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace tt {

// A screen's background video, decoded with FFmpeg at the pace of a clock the caller passes in:
// the frame shown at clock time `ahora` is the last one whose time is not after
// (ahora − start of playback). At the end it loops (alTerminar 0) or stays on its last frame
// (1: reporting the end once; 2). The file's rotation is applied. Damaged files end where their
// damage starts. Used from the compositor's video path and the main thread; `candado` guards all.
class FondoVideo {
public:
    // Nothing when the file cannot be opened or has no decodable video stream. Playback starts at
    // `ahora`.
    static std::unique_ptr<FondoVideo> abrir(const std::filesystem::path& ruta, int alTerminar, double ahora);
    ~FondoVideo();
    FondoVideo(const FondoVideo&) = delete;
    FondoVideo& operator=(const FondoVideo&) = delete;

    struct Vista {
        std::optional<Cuadro> cuadro;  // upright; nothing before the first frame is decoded
        double tiempo = -1;            // playback position, s from the start of the file
        bool avanza = false;           // the position moved since the previous call (playing)
        bool termino = false;          // the video ended at this call and alTerminar is 1
    };
    Vista en(double ahora);

    // Back to the start, playing from `ahora`.
    void reiniciar(double ahora);
    // What happens at the end from now on.
    void alTerminar(int accion);

    int giro() const { return giro_; }  // clockwise degrees applied
    struct Decodificador;

private:
    FondoVideo() = default;

    std::unique_ptr<Decodificador> d;
    int giro_ = 0;
    mutable std::mutex candado;  // guards everything below and the decoder
    int accion = 0;
    double origen = 0;       // clock time of position 0
    double anteriorPos = -1;  // position reported by the previous call
    bool terminado = false;
    double posFinal = 0;     // position where it stopped
    std::optional<Cuadro> actual;
    double tiempoActual = -1;  // time of `actual`'s frame
    double fin = -1;           // end of the file's last frame, s; −1 until the end is met
};

}  // namespace tt
