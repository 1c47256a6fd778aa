#include "pantallas/fondo_video.h"

#include "comun/bitacora.h"
#include "comun/reloj.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert_from.h>
#include <libyuv/rotate.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace tt {

namespace {

constexpr double esperaAbrir = 10;      // s to open a file, however slow
constexpr double esperaLeer = 2;        // s for one call's reading
constexpr int paquetesPorCuadro = 500;  // packets read looking for one frame
constexpr int cuadrosPorLlamada = 90;   // decoded in one call before the clock gives way
constexpr double presupuesto = 0.010;   // s of decoding in one call, once a frame has been taken
constexpr double saltoMaximo = 10;      // a time stamp jumping further is taken as contiguous
constexpr std::int64_t pixelesMaximos = 8192LL * 4352;

// Seconds of work this thread has done: a decoding budget measured in it is spent on decoding
// alone, not on the time the scheduler gave the core to someone else.
double trabajoDelHilo() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int plazoVencido(void* opaco) { return ahora() > *static_cast<double*>(opaco) ? 1 : 0; }

int giroDe(AVStream* s) {
    const auto* m = reinterpret_cast<const int32_t*>(av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!m) return 0;
    const double theta = -av_display_rotation_get(m);
    if (!std::isfinite(theta)) return 0;
    const long cuartos = std::lround(std::fmod(theta, 360.0) / 90);
    return int(((cuartos % 4) + 4) % 4) * 90;
}

}  // namespace

struct FondoVideo::Decodificador {
    AVFormatContext* formato = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* paquete = nullptr;
    AVFrame* siguiente = nullptr;  // decoded, not shown yet (valid when haySiguiente)
    AVFrame* elegido = nullptr;    // the last frame due, not converted yet
    bool haySiguiente = false;
    bool vaciando = false;  // the end of the file was handed to the decoder
    bool agotado = false;   // nothing more will come until a seek
    int indice = -1;
    double base = 0;        // seconds per time-stamp unit
    std::int64_t inicio = 0;
    double duracionCuadro = 1.0 / 30;
    double plazo = 0;
    double ultimoTiempo = -1;  // of the last frame taken, after corrections
    double desfase = 0;        // subtracted from time stamps after a jump
    int cuadrosDesdeInicio = 0;
    SwsContext* sws = nullptr;
    std::shared_ptr<Piscina> piscina = Piscina::crear(4);
    std::vector<std::uint8_t> girado;

    ~Decodificador() {
        sws_freeContext(sws);
        av_frame_free(&siguiente);
        av_frame_free(&elegido);
        av_packet_free(&paquete);
        avcodec_free_context(&codec);
        avformat_close_input(&formato);
    }

    // The next decoded frame (left in `siguiente`), or nothing at the end or after damage.
    AVFrame* proximo() {
        if (haySiguiente) return siguiente;
        if (agotado) return nullptr;
        plazo = std::max(plazo, ahora() + esperaLeer);
        for (int leidos = 0; leidos < paquetesPorCuadro; ++leidos) {
            const int r = avcodec_receive_frame(codec, siguiente);
            if (r == 0) {
                haySiguiente = true;
                return siguiente;
            }
            if (r != AVERROR(EAGAIN) || vaciando) {
                agotado = true;
                return nullptr;
            }
            if (av_read_frame(formato, paquete) < 0) {
                vaciando = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (paquete->stream_index == indice) avcodec_send_packet(codec, paquete);  // bad packets are skipped
            av_packet_unref(paquete);
        }
        agotado = true;  // hundreds of packets without a picture: the rest is not worth waiting for
        return nullptr;
    }

    double tiempoDe(const AVFrame* f) {
        const std::int64_t pts = f->best_effort_timestamp;
        double t = pts == AV_NOPTS_VALUE ? ultimoTiempo + duracionCuadro : double(pts - inicio) * base - desfase;
        if (ultimoTiempo >= 0 && std::fabs(t - ultimoTiempo) > saltoMaximo) {
            const double correcto = ultimoTiempo + duracionCuadro;
            desfase += t - correcto;
            t = correcto;
        }
        return t;
    }

    bool buscar(double t) {
        const std::int64_t objetivo = inicio + std::int64_t(std::max(t, 0.0) / base);
        const bool hecho = av_seek_frame(formato, indice, objetivo, AVSEEK_FLAG_BACKWARD) >= 0;
        avcodec_flush_buffers(codec);
        haySiguiente = false;
        vaciando = false;
        agotado = false;
        ultimoTiempo = -1;
        desfase = 0;
        if (t <= 0) cuadrosDesdeInicio = 0;
        return hecho;
    }

    std::optional<Cuadro> convertir(const AVFrame* f, int giro) {
        const int w = f->width & ~1, h = f->height & ~1;
        if (w < 2 || h < 2) return std::nullopt;
        sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), w, h, AV_PIX_FMT_NV12,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) return std::nullopt;
        Cuadro c = piscina->nuevo(w, h);
        std::uint8_t* planos[4] = {c.y(), c.uv(), nullptr, nullptr};
        int pasos[4] = {c.pasoY, c.pasoUV, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, f->height, planos, pasos) <= 0) return std::nullopt;
        c.bt709 = f->colorspace == AVCOL_SPC_BT709 || (f->colorspace == AVCOL_SPC_UNSPECIFIED && h >= 720);
        if (giro == 0) return c;
        const bool lado = giro == 90 || giro == 270;
        const int gw = lado ? h : w, gh = lado ? w : h;
        girado.resize(bytesNv12(gw, gh));
        std::uint8_t* gy = girado.data();
        std::uint8_t* gu = gy + std::size_t(gw) * gh;
        std::uint8_t* gv = gu + std::size_t(gw / 2) * (gh / 2);
        libyuv::NV12ToI420Rotate(c.y(), c.pasoY, c.uv(), c.pasoUV, gy, gw, gu, gw / 2, gv, gw / 2, w, h,
                                 libyuv::RotationMode(giro));
        Cuadro r = piscina->nuevo(gw, gh);
        r.bt709 = c.bt709;
        libyuv::I420ToNV12(gy, gw, gu, gw / 2, gv, gw / 2, r.y(), r.pasoY, r.uv(), r.pasoUV, gw, gh);
        return r;
    }
};

std::unique_ptr<FondoVideo> FondoVideo::abrir(const std::filesystem::path& ruta, int alTerminar, double ahoraReloj) {
    auto d = std::make_unique<Decodificador>();
    d->plazo = ahora() + esperaAbrir;
    d->formato = avformat_alloc_context();
    if (!d->formato) return nullptr;
    d->formato->interrupt_callback.callback = plazoVencido;
    d->formato->interrupt_callback.opaque = &d->plazo;
    if (avformat_open_input(&d->formato, ruta.c_str(), nullptr, nullptr) < 0) {
        d->formato = nullptr;  // freed by FFmpeg
        return nullptr;
    }
    if (avformat_find_stream_info(d->formato, nullptr) < 0) return nullptr;
    AVStream* flujo = nullptr;
    const AVCodec* decodificador = nullptr;
    for (unsigned i = 0; i < d->formato->nb_streams; ++i) {
        AVStream* s = d->formato->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        if (!(decodificador = avcodec_find_decoder(s->codecpar->codec_id))) continue;
        flujo = s;
        d->indice = int(i);
        break;
    }
    if (!flujo) return nullptr;
    for (unsigned i = 0; i < d->formato->nb_streams; ++i)
        if (int(i) != d->indice) d->formato->streams[i]->discard = AVDISCARD_ALL;
    if (std::int64_t(flujo->codecpar->width) * flujo->codecpar->height > pixelesMaximos) return nullptr;
    d->codec = avcodec_alloc_context3(decodificador);
    if (!d->codec || avcodec_parameters_to_context(d->codec, flujo->codecpar) < 0) return nullptr;
    d->codec->max_pixels = pixelesMaximos;
    d->codec->thread_count = 1;  // the machine's cores belong to the encoder
    if (avcodec_open2(d->codec, decodificador, nullptr) < 0) return nullptr;
    d->paquete = av_packet_alloc();
    d->siguiente = av_frame_alloc();
    d->elegido = av_frame_alloc();
    if (!d->paquete || !d->siguiente || !d->elegido) return nullptr;
    d->base = av_q2d(flujo->time_base);
    if (!(d->base > 0)) return nullptr;
    d->inicio = flujo->start_time != AV_NOPTS_VALUE ? flujo->start_time : 0;
    const double fps = av_q2d(flujo->avg_frame_rate);
    if (fps > 1 && fps < 1000) d->duracionCuadro = 1 / fps;

    std::unique_ptr<FondoVideo> v(new FondoVideo);
    v->giro_ = giroDe(flujo);
    v->d = std::move(d);
    v->accion = alTerminar;
    v->origen = ahoraReloj;
    return v;
}

FondoVideo::~FondoVideo() = default;

void FondoVideo::alTerminar(int a) {
    std::lock_guard l(candado);
    accion = a;
}

void FondoVideo::reiniciar(double ahoraReloj) {
    std::lock_guard l(candado);
    d->buscar(0);
    origen = ahoraReloj;
    terminado = false;
    anteriorPos = -1;
    fin = -1;
}

FondoVideo::Vista FondoVideo::en(double ahoraReloj) {
    std::lock_guard l(candado);
    Vista v;
    if (terminado) {
        v.cuadro = actual;
        v.tiempo = posFinal;
        return v;
    }
    double pos = ahoraReloj - origen;
    if (pos < 0) {  // a clock that went back: start again from here
        origen = ahoraReloj;
        pos = 0;
    }
    bool cambio = false;
    double tiempoElegido = tiempoActual;
    int hechos = 0;
    // The budget is about the caller's frame, not the clock passed in.
    const double empiezo = trabajoDelHilo();
    auto agotado = [&] {
        return hechos >= cuadrosPorLlamada || (hechos > 0 && trabajoDelHilo() - empiezo > presupuesto);
    };
    if (accion == 0 && fin > 0 && pos >= fin) {
        // A looping video whose length is known lands in its lap without decoding the laps between.
        const double vueltas = std::floor(pos / fin);
        origen += vueltas * fin;
        pos -= vueltas * fin;
        if (pos < tiempoActual) {
            d->buscar(pos);
            tiempoElegido = -1;
        }
    }
    for (int vuelta = 0; vuelta < 3; ++vuelta) {
        // Far behind the clock (the caller stopped asking for a while): jump instead of decoding it all.
        if (AVFrame* s = d->proximo(); s && pos - d->tiempoDe(s) > 2 && d->buscar(pos)) d->ultimoTiempo = -1;
        while (tiempoElegido < 0 || !agotado()) {  // after a restart one frame is always taken
            AVFrame* s = d->proximo();
            if (!s) break;
            const double t = d->tiempoDe(s);
            if (t > pos && tiempoElegido >= 0) break;  // the first frame shows at once, whatever its stamp
            av_frame_unref(d->elegido);
            av_frame_move_ref(d->elegido, s);
            d->haySiguiente = false;
            d->ultimoTiempo = t;
            ++d->cuadrosDesdeInicio;
            tiempoElegido = t;
            cambio = true;
            ++hechos;
        }
        if (AVFrame* s = agotado() ? d->proximo() : nullptr; s && d->tiempoDe(s) <= pos) {
            // Decoding cannot keep up: the video slows down rather than stalling the caller.
            origen = ahoraReloj - tiempoElegido;
            pos = tiempoElegido;
            break;
        }
        if (!d->agotado) break;
        const double finArchivo = d->ultimoTiempo >= 0 ? d->ultimoTiempo + d->duracionCuadro : 0;
        if (pos < finArchivo) break;  // the last frame is still on
        fin = finArchivo;
        if (accion == 0 && d->cuadrosDesdeInicio > 0 && fin > 0) {
            // Loop: position 0 again at the clock time the end was due.
            const double vueltas = std::floor(pos / fin);
            origen += vueltas * fin;
            pos -= vueltas * fin;
            d->buscar(0);
            tiempoElegido = -1;
            continue;
        }
        terminado = true;
        posFinal = fin;
        v.termino = accion == 1;
        break;
    }
    if (cambio) {
        if (auto c = d->convertir(d->elegido, giro_)) {
            actual = std::move(c);
            tiempoActual = tiempoElegido;
        }
    }
    v.cuadro = actual;
    v.tiempo = terminado ? posFinal : pos;
    v.avanza = !terminado && v.tiempo != anteriorPos;
    anteriorPos = v.tiempo;
    return v;
}

}  // namespace tt
