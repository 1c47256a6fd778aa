#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tt {

// What the encoder's raw inputs carry, fixed by the first frame and the first audio buffer.
struct FormatoFlujo {
    int ancho = 0, alto = 0;
    int cps = 60;
    double hz = 48000;
    int canales = 2;
    int bytesMuestra = 2;
    bool flotante = false;
    bool mono = false;
};

// Where the encoder's output goes.
struct SalidaCompresor {
    enum Caso { archivo, fifo, servidor } caso = servidor;
    std::string ruta;  // the output FIFO, or the server URL
    // A handover's encoder: its output time stamps continue the previous encoder's (FIFO case).
    std::optional<double> desfase;
};

inline const char* archivoPrueba = "/tmp/prueba-app.mkv";

// The encoder's arguments without its output part.
std::vector<std::string> ordenCompresor(const FormatoFlujo& f, int kbps, int preset, const std::string& fifoAudio);

// The arguments with the output part. When the encoder cannot put AV1 into FLV, every FLV output
// uses H.264 at the same rate and key-frame interval instead; a Matroska recording keeps AV1.
std::vector<std::string> ordenCompleta(const FormatoFlujo& f, int kbps, int preset, const std::string& fifoAudio,
                                       const SalidaCompresor& salida, bool av1EnFlv);

}  // namespace tt
