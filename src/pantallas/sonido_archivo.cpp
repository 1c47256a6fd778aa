#include "pantallas/sonido_archivo.h"

#include "comun/bitacora.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

namespace tt {

namespace {

constexpr int kHz = 48000;
// Tracks are mixed in step; one that falls this far behind the others (a broken track, a file
// muxed with huge gaps) stops holding the rest back and is dropped from the mix.
constexpr std::size_t kDesfaseMaximo = std::size_t(kHz) * 2 * 5;
// Padding for a track that starts late is bounded, so a garbage time stamp cannot ask for hours.
constexpr double kRellenoMaximo = 10;

struct Pista {
    int indice = -1;  // stream index in the file
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    std::deque<std::int16_t> muestras;  // 48 kHz stereo, aligned to the reading start
    bool terminada = false;
    bool alineada = false;
    // What the resampler was set up for; a stream that changes them mid-file gets a new one.
    int hzEntrada = 0, formatoEntrada = -1, canalesEntrada = 0;
    std::int64_t saltar = 0;  // samples still to drop from the head (decoded before the start)

    ~Pista() {
        swr_free(&swr);
        avcodec_free_context(&codec);
    }
};

}  // namespace

// One pass over the file from a start time to its end, mixing its audio tracks.
struct SonidoArchivo::Lector {
    AVFormatContext* formato = nullptr;
    std::vector<std::unique_ptr<Pista>> pistas;
    AVPacket* paquete = nullptr;
    AVFrame* cuadro = nullptr;
    double desde = 0;
    double inicioArchivo = 0;  // the container's start time, seconds: media time 0
    bool agotado = false;      // no more packets

    ~Lector() {
        pistas.clear();
        av_frame_free(&cuadro);
        av_packet_free(&paquete);
        avformat_close_input(&formato);
    }

    static std::unique_ptr<Lector> abrir(const std::string& ruta, double desde, int* cuantas) {
        auto l = std::make_unique<Lector>();
        l->desde = desde;
        if (avformat_open_input(&l->formato, ruta.c_str(), nullptr, nullptr) < 0) return nullptr;
        if (avformat_find_stream_info(l->formato, nullptr) < 0) return nullptr;
        if (l->formato->start_time != AV_NOPTS_VALUE) l->inicioArchivo = double(l->formato->start_time) / AV_TIME_BASE;
        for (unsigned i = 0; i < l->formato->nb_streams; ++i) {
            AVStream* s = l->formato->streams[i];
            if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
                s->discard = AVDISCARD_ALL;
                continue;
            }
            auto p = std::make_unique<Pista>();
            p->indice = int(i);
            const AVCodec* c = avcodec_find_decoder(s->codecpar->codec_id);
            if (!c || !(p->codec = avcodec_alloc_context3(c)) ||
                avcodec_parameters_to_context(p->codec, s->codecpar) < 0 || avcodec_open2(p->codec, c, nullptr) < 0) {
                s->discard = AVDISCARD_ALL;
                continue;
            }
            l->pistas.push_back(std::move(p));
        }
        if (cuantas) *cuantas = int(l->pistas.size());
        if (l->pistas.empty()) return nullptr;
        if (!(l->paquete = av_packet_alloc()) || !(l->cuadro = av_frame_alloc())) return nullptr;
        if (desde > 0) {
            const auto t = std::int64_t((l->inicioArchivo + desde) * AV_TIME_BASE);
            // A file that cannot seek is read from its start, dropping what comes before `desde`.
            av_seek_frame(l->formato, -1, t, AVSEEK_FLAG_BACKWARD);
        }
        return l;
    }

    bool prepararSwr(Pista& p, const AVFrame* f) {
        if (p.swr && p.hzEntrada == f->sample_rate && p.formatoEntrada == f->format &&
            p.canalesEntrada == f->ch_layout.nb_channels)
            return true;
        swr_free(&p.swr);
        p.hzEntrada = f->sample_rate;
        p.formatoEntrada = f->format;
        p.canalesEntrada = f->ch_layout.nb_channels;
        if (f->sample_rate <= 0) return false;
        AVChannelLayout entrada{};
        if (f->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && f->ch_layout.nb_channels > 0)
            av_channel_layout_copy(&entrada, &f->ch_layout);
        else
            av_channel_layout_default(&entrada, std::max(1, f->ch_layout.nb_channels));
        AVChannelLayout salida = AV_CHANNEL_LAYOUT_STEREO;
        const int r = swr_alloc_set_opts2(&p.swr, &salida, AV_SAMPLE_FMT_S16, kHz, &entrada,
                                          AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&entrada);
        if (r < 0 || swr_init(p.swr) < 0) {
            swr_free(&p.swr);
            return false;
        }
        return true;
    }

    void agregar(Pista& p, const std::int16_t* datos, std::size_t muestras) {
        std::size_t desde0 = 0;
        if (p.saltar > 0) {
            desde0 = std::size_t(std::min<std::int64_t>(p.saltar, std::int64_t(muestras)));
            p.saltar -= std::int64_t(desde0);
        }
        p.muestras.insert(p.muestras.end(), datos + desde0, datos + muestras);
    }

    // Converts one decoded frame (or, with none, what the resampler still holds) into the track.
    void convertir(Pista& p, const AVFrame* f) {
        if (f && !p.alineada) {
            p.alineada = true;
            const std::int64_t pts = f->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE) {
                const AVRational base = formato->streams[p.indice]->time_base;
                const double t = double(pts) * av_q2d(base) - inicioArchivo;
                if (t > desde) {
                    const double relleno = std::min(t - desde, kRellenoMaximo);
                    p.muestras.insert(p.muestras.end(), std::size_t(std::llround(relleno * kHz)) * 2, 0);
                } else {
                    p.saltar = std::llround((desde - t) * kHz) * 2;
                }
            }
        }
        if (f && !prepararSwr(p, f)) {
            p.terminada = true;
            return;
        }
        if (!p.swr) return;
        const int entrada = f ? f->nb_samples : 0;
        const int cabe = swr_get_out_samples(p.swr, entrada);
        if (cabe <= 0) return;
        std::vector<std::int16_t> salida(std::size_t(cabe) * 2);
        std::uint8_t* destino = reinterpret_cast<std::uint8_t*>(salida.data());
        const int hechas = swr_convert(p.swr, &destino, cabe,
                                       f ? const_cast<const std::uint8_t**>(f->extended_data) : nullptr, entrada);
        if (hechas > 0) agregar(p, salida.data(), std::size_t(hechas) * 2);
    }

    void recibir(Pista& p) {
        while (avcodec_receive_frame(p.codec, cuadro) == 0) {
            convertir(p, cuadro);
            av_frame_unref(cuadro);
        }
    }

    void terminarTodo() {
        agotado = true;
        for (auto& p : pistas) {
            if (p->terminada) continue;
            avcodec_send_packet(p->codec, nullptr);
            recibir(*p);
            convertir(*p, nullptr);
            p->terminada = true;
        }
    }

    // Mixes what every live track has in common; at the end, everything left.
    bool mezclarListas(std::vector<std::int16_t>& bufer) {
        std::size_t comun = SIZE_MAX, mayor = 0;
        for (auto& p : pistas) {
            mayor = std::max(mayor, p->muestras.size());
            if (!p->terminada) comun = std::min(comun, p->muestras.size());
        }
        if (comun == SIZE_MAX) comun = mayor;  // every track ended: drain
        if (mayor > kDesfaseMaximo && comun < mayor) {
            for (auto& p : pistas)
                if (!p->terminada && p->muestras.size() == comun) {
                    p->terminada = true;
                    bitacora("sonido de pantalla: una pista se quedó atrás y sale de la mezcla");
                }
            comun = mayor;
        }
        comun &= ~std::size_t(1);
        if (comun == 0) return false;
        const std::size_t base = bufer.size();
        bufer.resize(base + comun, 0);
        std::vector<std::int32_t> suma(comun, 0);
        for (auto& p : pistas) {
            const std::size_t k = std::min(comun, p->muestras.size());
            for (std::size_t i = 0; i < k; ++i) suma[i] += p->muestras[i];
            p->muestras.erase(p->muestras.begin(), p->muestras.begin() + std::ptrdiff_t(k));
        }
        for (std::size_t i = 0; i < comun; ++i) bufer[base + i] = std::int16_t(std::clamp(suma[i], -32768, 32767));
        return true;
    }

    // Appends the next decoded stretch to bufer; false when the file has nothing more.
    bool siguiente(std::vector<std::int16_t>& bufer) {
        for (;;) {
            if (mezclarListas(bufer)) return true;
            if (agotado) return false;
            const int r = av_read_frame(formato, paquete);
            if (r < 0) {
                terminarTodo();  // end of file, or a read error: what was decoded still plays
                continue;
            }
            for (auto& p : pistas) {
                if (p->indice != paquete->stream_index || p->terminada) continue;
                // A damaged packet is refused and skipped; the decoder resynchronises on the next.
                avcodec_send_packet(p->codec, paquete);
                recibir(*p);
            }
            av_packet_unref(paquete);
        }
    }
};

std::unique_ptr<SonidoArchivo> SonidoArchivo::abrir(const std::string& ruta) {
    int cuantas = 0;
    if (!Lector::abrir(ruta, 0, &cuantas) || cuantas == 0) return nullptr;
    return std::unique_ptr<SonidoArchivo>(new SonidoArchivo(ruta, cuantas));
}

SonidoArchivo::SonidoArchivo(std::string ruta, int pistas) : ruta_(std::move(ruta)), pistas_(pistas) {}

SonidoArchivo::~SonidoArchivo() = default;

double SonidoArchivo::posicion() const {
    std::lock_guard l(candado);
    return posicion_;
}

std::vector<std::int16_t> SonidoArchivo::leer(int n, double x) {
    std::lock_guard l(candado);
    n = std::max(0, n);
    if (!std::isfinite(x)) x = 0;
    if (std::fabs(posicion_ - x) > 0.3) {
        lector.reset();
        bufer.clear();
        fin = true;
        posicion_ = x;
        lector = Lector::abrir(ruta_, std::max(x, 0.0), nullptr);
        if (lector) fin = false;
    }
    const std::size_t quiero = std::size_t(n) * 2;
    while (bufer.size() < quiero && !fin)
        if (!lector->siguiente(bufer)) fin = true;
    std::vector<std::int16_t> salida(quiero, 0);
    const std::size_t k = std::min(quiero, bufer.size());
    std::copy(bufer.begin(), bufer.begin() + std::ptrdiff_t(k), salida.begin());
    bufer.erase(bufer.begin(), bufer.begin() + std::ptrdiff_t(k));
    posicion_ += double(n) / kHz;
    return salida;
}

void mezclar(std::vector<std::uint8_t>& bloque, bool normal, const ReglaMezcla& regla, FuenteSonido* sonido) {
    if (bloque.empty()) return;
    if (!regla.micro) std::fill(bloque.begin(), bloque.end(), 0);
    if (!normal) return;
    if (!sonido || !(regla.volumen > 0.005) || !(regla.tiempoVideo >= 0) || !regla.videoAvanza) return;
    const int cuadros = int(bloque.size() / 4);
    if (cuadros == 0) return;
    const std::vector<std::int16_t> video = sonido->leer(cuadros, regla.tiempoVideo);
    const double volumen = regla.volumen;
    const std::size_t muestras = std::min(video.size(), std::size_t(cuadros) * 2);
    for (std::size_t i = 0; i < muestras; ++i) {
        std::int16_t m;
        std::memcpy(&m, bloque.data() + 2 * i, 2);
        const long v = std::lround(double(m) + volumen * video[i]);
        const auto r = std::int16_t(std::clamp(v, -32768L, 32767L));
        std::memcpy(bloque.data() + 2 * i, &r, 2);
    }
}

}  // namespace tt
