#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt::relay {

// One FLV tag: its type (8 audio, 9 video, 18 script data), time stamp in milliseconds, body.
struct Etiqueta {
    std::uint8_t tipo = 0;
    std::int64_t ms = 0;
    std::string cuerpo;
};

// The tag as FLV bytes: the 11-byte header, the body and the 4-byte size that follows each tag.
std::string enFlv(const Etiqueta& e);
// The 13 bytes that open an FLV stream with audio and video.
std::string cabeceraFlv();

// The fallback picture as it goes on the stream, made by the relay's encoder: a loop of video
// frames that starts with a key frame, and one silent audio frame. A part left empty is not shown
// (without frames the stream's last key frame is repeated instead).
struct Relleno {
    std::string configVideo;           // codec configuration of `cuadros`
    std::vector<std::string> cuadros;  // video tag bodies, the first one a key frame
    double cps = 30;                   // frames per second of the loop
    std::string configAudio;
    std::string audio;     // one silent audio tag body…
    double msAudio = 0;    // …and how long it sounds
};

// What the picture's encoder needs to match the stream.
struct Formato {
    std::string configVideo, configAudio;  // the stream's latest codec configurations
    std::string clave;                     // its latest key frame (the decoder gives its size)
    double cps = 30;                       // its frame rate, as the time stamps show it
};

// Keeps one transmission's published stream going while its data stops: after `umbral` seconds
// without data it continues the output with the fallback picture and silence, and when data comes
// back it drops the incoming video up to its next key frame and shifts the time stamps so the
// output carries on where the picture left off, strictly increasing per track, re-sending the
// codec configuration wherever it changed. Pure: FLV bytes or tags and the time in, tags out.
// Owner: the relay's network thread.
class Empalme {
public:
    explicit Empalme(double umbral = 1.5) : umbral_(umbral) {}

    struct Salida {
        std::vector<Etiqueta> etiquetas;  // to publish, in this order
        bool empieza = false;   // the picture started showing
        bool termina = false;   // the stream took over again
        std::string error;      // the bytes are not FLV: nothing more of them is taken (once)
    };

    Salida poner(std::string_view bytes, double ahora);  // reassembled stream bytes, any slice
    Salida etiqueta(Etiqueta e, double ahora);           // one tag of the stream
    Salida revisar(double ahora);                        // often (a few times a second)
    // The encoder's picture; it replaces the one in use from its key frame on.
    void fijarRelleno(Relleno r);
    // The stream's encoder ended it (end-of-sequence): a silence after it is no outage. The
    // zero-length chunk that closes the stream follows only seconds later.
    bool terminadoPorCompresor() const { return finCompresor_; }

    bool mostrando() const { return v_.respaldo || a_.respaldo; }
    // The stream's format once a key frame and its configuration came with enough frames to tell
    // the rate; `versionFormato` grows each time a configuration changes.
    std::optional<Formato> formato() const;
    std::uint64_t versionFormato() const { return version_; }

private:
    struct Pista {
        std::optional<std::int64_t> salida;   // time stamp of the last tag out
        std::optional<std::int64_t> entrada;  // …of the last media tag in
        std::int64_t paso = 0;                // input's last step between tags
        std::string configEntrada, configSalida;
        bool respaldo = false;   // fed by the picture
        double siguiente = 0;    // time stamp of the picture's next frame
        std::size_t indice = 0;  // position in the picture's loop
    };
    void emitir(Salida& s, Pista& p, std::uint8_t tipo, std::int64_t ms, const std::string& cuerpo,
                bool config = false);
    void rellenar(Salida& s, double reloj);
    void salirDelRespaldo(Salida& s, Pista& p);
    std::int64_t continuacion() const;

    double umbral_;
    std::string bufer_;  // bytes of an incomplete tag
    bool cabeceraVista_ = false;
    bool danado_ = false;

    Pista v_, a_;
    bool algoSalio_ = false;     // some media tag was published
    bool silencio_ = false;      // no data since the picture started
    bool recalcular_ = false;    // the next media tag fixes the time shift
    bool esperaClave_ = true;    // video is dropped up to a key frame
    bool finCompresor_ = false;
    double ultimoDato_ = 0;
    std::int64_t desplazamiento_ = 0;  // output time stamp minus input time stamp
    double anclaMs_ = 0, anclaAhora_ = 0;  // the picture's clock while nothing comes in
    std::string ultimaClave_, configClave_;  // the last forwarded key frame and its configuration
    Relleno relleno_;
    std::uint64_t version_ = 0;
    std::array<std::int64_t, 32> pasosV_{};  // recent video steps, for the frame rate
    std::size_t nPasosV_ = 0;
};

}  // namespace tt::relay
