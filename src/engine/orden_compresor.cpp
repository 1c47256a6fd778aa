#include "engine/orden_compresor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tt {

std::vector<std::string> ordenCompresor(const FormatoFlujo& f, int kbps, int preset, const std::string& fifoAudio) {
    using std::to_string;
    const char* formatoMuestra = f.flotante ? "f32le" : f.bytesMuestra == 4 ? "s32le" : "s16le";
    std::vector<std::string> a = {
        "-hide_banner", "-nostdin", "-loglevel", "warning", "-progress", "pipe:1", "-stats_period", "2",
        "-thread_queue_size", "1024", "-probesize", "32", "-analyzeduration", "0", "-f", "rawvideo",
        "-pix_fmt", "nv12", "-video_size", to_string(f.ancho) + "x" + to_string(f.alto),
        "-framerate", to_string(f.cps), "-i", "pipe:0",
        "-thread_queue_size", "1024", "-probesize", "32", "-analyzeduration", "0", "-f", formatoMuestra,
        "-ar", to_string(std::llround(f.hz)), "-ac", to_string(f.canales), "-i", fifoAudio,
        "-map", "0:v", "-map", "1:a",
        "-vf", "scale=-2:'min(720,ih)':flags=bicubic,format=yuv420p",
        "-c:v", "libsvtav1", "-preset", to_string(preset),
        "-svtav1-params", "rc=1:lookahead=" + to_string(std::min(f.cps, 60)),
        "-b:v", to_string(kbps) + "k", "-g", to_string(f.cps * 10),
        "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709", "-color_range", "tv",
    };
    if (f.mono && f.canales >= 2)
        a.insert(a.end(), {"-af", "pan=stereo|c0=0.5*c0+0.5*c1|c1=0.5*c0+0.5*c1"});
    a.insert(a.end(), {"-c:a", "aac", "-b:a", "96k", "-ar", "48000", "-ac", "2"});
    return a;
}

std::vector<std::string> ordenCompleta(const FormatoFlujo& f, int kbps, int preset, const std::string& fifoAudio,
                                       const SalidaCompresor& salida, bool av1EnFlv) {
    auto a = ordenCompresor(f, kbps, preset, fifoAudio);
    if (salida.caso != SalidaCompresor::archivo && !av1EnFlv) {
        // "-c:v libsvtav1 -preset P -svtav1-params X" becomes "-c:v libx264 -preset veryfast -tune zerolatency".
        auto c = std::find(a.begin(), a.end(), "libsvtav1");
        c[0] = "libx264";
        c[2] = "veryfast";
        c[3] = "-tune";
        c[4] = "zerolatency";
    }
    switch (salida.caso) {
        case SalidaCompresor::archivo: a.insert(a.end(), {"-f", "matroska", "-y", archivoPrueba}); break;
        case SalidaCompresor::fifo:
            if (salida.desfase) {
                char texto[32];
                std::snprintf(texto, sizeof texto, "%.3f", *salida.desfase);
                a.insert(a.end(), {"-output_ts_offset", texto});
            }
            a.insert(a.end(), {"-f", "flv", "-flvflags", "no_duration_filesize", "-y", salida.ruta});
            break;
        case SalidaCompresor::servidor: a.insert(a.end(), {"-f", "flv", salida.ruta}); break;
    }
    return a;
}

}  // namespace tt
