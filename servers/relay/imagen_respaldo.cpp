#include "imagen_respaldo.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace tt::relay {

namespace {

constexpr int ladoMaximo = 4096;  // a stream this big is not one the app sends

struct BorrarCodec {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct BorrarCuadro {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct BorrarPaquete {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct BorrarEscala {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using Codec = std::unique_ptr<AVCodecContext, BorrarCodec>;
using Cuadro = std::unique_ptr<AVFrame, BorrarCuadro>;
using Paquete = std::unique_ptr<AVPacket, BorrarPaquete>;

// One picture out of a decoder fed a single packet (and, for H.264, its configuration).
Cuadro decodificar(AVCodecID id, const std::string& extra, const std::string& datos) {
    const AVCodec* d = avcodec_find_decoder(id);
    if (!d || datos.empty()) return nullptr;
    Codec c(avcodec_alloc_context3(d));
    if (!c) return nullptr;
    c->thread_count = 1;
    c->max_pixels = std::int64_t(ladoMaximo) * ladoMaximo;
    if (!extra.empty()) {
        c->extradata = static_cast<std::uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c->extradata) return nullptr;
        std::copy(extra.begin(), extra.end(), c->extradata);
        c->extradata_size = int(extra.size());
    }
    if (avcodec_open2(c.get(), d, nullptr) < 0) return nullptr;
    Paquete p(av_packet_alloc());
    Cuadro f(av_frame_alloc());
    if (!p || !f || av_new_packet(p.get(), int(datos.size())) < 0) return nullptr;
    std::copy(datos.begin(), datos.end(), p->data);
    p->flags |= AV_PKT_FLAG_KEY;
    if (avcodec_send_packet(c.get(), p.get()) < 0) return nullptr;
    avcodec_send_packet(c.get(), nullptr);
    if (avcodec_receive_frame(c.get(), f.get()) < 0) return nullptr;
    return f;
}

// Sample rate and channels of an AAC AudioSpecificConfig.
bool leerAac(const std::string& asc, int& hz, int& canales) {
    static const int tasas[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};
    if (asc.size() < 2) return false;
    const auto b0 = std::uint8_t(asc[0]), b1 = std::uint8_t(asc[1]);
    const int indice = (b0 & 0x07) << 1 | b1 >> 7;
    canales = (b1 >> 3) & 0x0F;
    if (indice >= 13 || canales < 1 || canales > 2) return false;  // an explicit rate, or layouts the app never sends
    hz = tasas[indice];
    return true;
}

// Encodes and muxes into FLV in memory, then takes the tags back out: the muxer writes the
// codec configurations and the frame headers exactly as a stream carries them.
struct Muxer {
    AVFormatContext* fmt = nullptr;
    bool abierto = false;
    ~Muxer() {
        if (fmt && fmt->pb) {
            std::uint8_t* b = nullptr;
            avio_close_dyn_buf(fmt->pb, &b);
            av_free(b);
        }
        avformat_free_context(fmt);
    }
};

std::string cuerpos(const std::string& flv, std::vector<Etiqueta>& etiquetas) {
    std::size_t i = 13;
    while (i + 11 <= flv.size()) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(flv.data() + i);
        const std::size_t largo = std::size_t(p[1]) << 16 | std::size_t(p[2]) << 8 | p[3];
        if (i + 11 + largo + 4 > flv.size()) return "salida FLV incompleta";
        etiquetas.push_back({p[0], 0, flv.substr(i + 11, largo)});
        i += 11 + largo + 4;
    }
    return "";
}

}  // namespace

RellenoHecho hacerRelleno(const std::string& jpeg, const Formato& f) {
    RellenoHecho r;
    av_log_set_level(AV_LOG_QUIET);  // what fails is told once, in the relay's own words

    // The picture, at the size of the stream's key frame.
    Cuadro imagen;
    const bool h264 = f.configVideo.size() > 5 && (std::uint8_t(f.configVideo[0]) & 0x8F) == 7;
    if (!jpeg.empty() && !h264) {
        r.aviso = "el video no es H.264: se repite su último cuadro clave";
    } else if (!jpeg.empty()) {
        Cuadro clave =
            f.clave.size() > 5 ? decodificar(AV_CODEC_ID_H264, f.configVideo.substr(5), f.clave.substr(5)) : nullptr;
        Cuadro foto = decodificar(AV_CODEC_ID_MJPEG, "", jpeg);
        if (!clave) {
            r.aviso = "no se pudo leer el tamaño del video: se repite su último cuadro clave";
        } else if (!foto) {
            r.aviso = "la imagen de respaldo no es un JPEG legible: se repite el último cuadro clave";
        } else {
            imagen.reset(av_frame_alloc());
            imagen->width = clave->width & ~1;
            imagen->height = clave->height & ~1;
            imagen->format = AV_PIX_FMT_YUV420P;
            std::unique_ptr<SwsContext, BorrarEscala> escala(
                sws_getContext(foto->width, foto->height, AVPixelFormat(foto->format), imagen->width, imagen->height,
                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
            if (!escala || av_frame_get_buffer(imagen.get(), 0) < 0 ||
                sws_scale(escala.get(), foto->data, foto->linesize, 0, foto->height, imagen->data,
                          imagen->linesize) <= 0) {
                imagen.reset();
                r.aviso = "no se pudo escalar la imagen de respaldo: se repite el último cuadro clave";
            }
        }
    }
    int hz = 0, canales = 0;
    const bool aac = f.configAudio.size() > 2 && (std::uint8_t(f.configAudio[0]) >> 4) == 10 &&
                     leerAac(f.configAudio.substr(2), hz, canales);
    if (!imagen && !aac) return r;

    Muxer m;
    if (avformat_alloc_output_context2(&m.fmt, nullptr, "flv", nullptr) < 0 || avio_open_dyn_buf(&m.fmt->pb) < 0) {
        r.aviso = "no se pudo preparar la imagen de respaldo";
        return r;
    }
    const int cps = std::clamp(int(std::lround(f.cps)), 5, 60);
    const int grupo = std::max(1, int(std::lround(cps / 2.0)));  // a key frame every half second

    Codec video, audio;
    AVStream *flujoV = nullptr, *flujoA = nullptr;
    if (imagen) {
        const AVCodec* e = avcodec_find_encoder_by_name("libx264");
        if (!e) e = avcodec_find_encoder(AV_CODEC_ID_H264);
        video.reset(e ? avcodec_alloc_context3(e) : nullptr);
        if (video) {
            video->width = imagen->width;
            video->height = imagen->height;
            video->pix_fmt = AV_PIX_FMT_YUV420P;
            video->time_base = AVRational{1, cps};
            video->framerate = AVRational{cps, 1};
            video->gop_size = grupo;
            video->keyint_min = grupo;
            video->max_b_frames = 0;
            video->thread_count = 1;
            video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            av_opt_set(video->priv_data, "preset", "veryfast", 0);
            av_opt_set(video->priv_data, "tune", "zerolatency", 0);
            av_opt_set(video->priv_data, "crf", "26", 0);
            av_opt_set(video->priv_data, "x264-params", "scenecut=0", 0);
            if (avcodec_open2(video.get(), e, nullptr) < 0) video.reset();
        }
        if (video && (flujoV = avformat_new_stream(m.fmt, nullptr))) {
            avcodec_parameters_from_context(flujoV->codecpar, video.get());
            flujoV->time_base = video->time_base;
        } else {
            video.reset();
            r.aviso = "no hay compresor H.264 para la imagen de respaldo: se repite el último cuadro clave";
        }
    }
    if (aac) {
        const AVCodec* e = avcodec_find_encoder(AV_CODEC_ID_AAC);
        audio.reset(e ? avcodec_alloc_context3(e) : nullptr);
        if (audio) {
            audio->sample_rate = hz;
            av_channel_layout_default(&audio->ch_layout, canales);
            audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
            audio->bit_rate = 64000;
            audio->time_base = AVRational{1, hz};
            audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (avcodec_open2(audio.get(), e, nullptr) < 0) audio.reset();
        }
        if (audio && (flujoA = avformat_new_stream(m.fmt, nullptr))) {
            avcodec_parameters_from_context(flujoA->codecpar, audio.get());
            flujoA->time_base = audio->time_base;
        } else {
            audio.reset();
        }
    }
    // Nothing to go back and fill in at the end: only the tags are wanted.
    av_opt_set(m.fmt->priv_data, "flvflags", "no_duration_filesize+no_metadata", 0);
    if ((!video && !audio) || avformat_write_header(m.fmt, nullptr) < 0) {
        if (r.aviso.empty()) r.aviso = "no se pudo preparar la imagen de respaldo";
        return r;
    }
    Paquete p(av_packet_alloc());
    auto vaciar = [&](AVCodecContext* c, AVStream* s) {
        while (avcodec_receive_packet(c, p.get()) == 0) {
            av_packet_rescale_ts(p.get(), c->time_base, s->time_base);
            p->stream_index = s->index;
            av_write_frame(m.fmt, p.get());  // takes the packet's data
        }
    };
    if (video) {
        for (int i = 0; i < grupo; ++i) {
            imagen->pts = i;
            avcodec_send_frame(video.get(), imagen.get());
            vaciar(video.get(), flujoV);
        }
        avcodec_send_frame(video.get(), nullptr);
        vaciar(video.get(), flujoV);
    }
    if (audio) {
        Cuadro silencio(av_frame_alloc());
        silencio->nb_samples = audio->frame_size;
        silencio->format = audio->sample_fmt;
        av_channel_layout_copy(&silencio->ch_layout, &audio->ch_layout);
        if (av_frame_get_buffer(silencio.get(), 0) == 0) {
            for (int i = 0; i < 8; ++i) {
                av_samples_set_silence(silencio->data, 0, silencio->nb_samples, canales, audio->sample_fmt);
                silencio->pts = std::int64_t(i) * audio->frame_size;
                avcodec_send_frame(audio.get(), silencio.get());
                vaciar(audio.get(), flujoA);
            }
        }
    }
    av_write_trailer(m.fmt);
    std::uint8_t* b = nullptr;
    const int n = avio_close_dyn_buf(m.fmt->pb, &b);
    m.fmt->pb = nullptr;
    const std::string flv(reinterpret_cast<const char*>(b), std::size_t(std::max(n, 0)));
    av_free(b);

    std::vector<Etiqueta> etiquetas;
    if (auto error = cuerpos(flv, etiquetas); !error.empty()) {
        r.aviso = "no se pudo preparar la imagen de respaldo (" + error + ")";
        return r;
    }
    std::vector<std::string> silencios;
    for (auto& e : etiquetas) {
        if (e.cuerpo.size() < 2) continue;
        const bool config = e.cuerpo[1] == 0;
        if (e.tipo == 9 && config) r.relleno.configVideo = e.cuerpo;
        else if (e.tipo == 9 && e.cuerpo[1] == 1) r.relleno.cuadros.push_back(e.cuerpo);
        else if (e.tipo == 8 && config) r.relleno.configAudio = e.cuerpo;
        else if (e.tipo == 8) silencios.push_back(e.cuerpo);
    }
    if (video && (r.relleno.cuadros.empty() || (std::uint8_t(r.relleno.cuadros[0][0]) >> 4) != 1)) {
        r.relleno.cuadros.clear();
        r.aviso = "el compresor no dio un cuadro clave para la imagen de respaldo";
    }
    r.relleno.cps = cps;
    if (audio && silencios.size() >= 4) {
        // Past the encoder's first frames, silence comes out the same frame after frame.
        r.relleno.audio = silencios[silencios.size() / 2];
        r.relleno.msAudio = 1000.0 * audio->frame_size / hz;
    }
    return r;
}

}  // namespace tt::relay
