#include "pantallas/imagen.h"

#include "comun/reloj.h"

#include <QImageReader>
#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace tt {

namespace {

constexpr double esperaMaxima = 10;          // s for any one file, however hostile
constexpr int paquetesMaximos = 5000;        // after the seek, before giving up
constexpr std::int64_t pixelesMaximos = 8192LL * 4352;  // larger frames are not decoded

QSize dentroDe(QSize s, int tope) {
    if (s.width() <= tope && s.height() <= tope) return s;
    return s.scaled(tope, tope, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

struct Plazo {
    double limite;
};

int plazoVencido(void* opaco) { return ahora() > static_cast<Plazo*>(opaco)->limite ? 1 : 0; }

struct CierraFormato {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CierraCodec {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct CierraPaquete {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CierraCuadro {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Formato = std::unique_ptr<AVFormatContext, CierraFormato>;
using Codec = std::unique_ptr<AVCodecContext, CierraCodec>;
using Paquete = std::unique_ptr<AVPacket, CierraPaquete>;
using Cuadro = std::unique_ptr<AVFrame, CierraCuadro>;

Formato abrirFormato(const std::filesystem::path& ruta, Plazo& plazo) {
    AVFormatContext* f = avformat_alloc_context();
    if (!f) return nullptr;
    f->interrupt_callback.callback = plazoVencido;
    f->interrupt_callback.opaque = &plazo;
    if (avformat_open_input(&f, ruta.c_str(), nullptr, nullptr) < 0) return nullptr;  // frees f
    Formato formato(f);
    if (avformat_find_stream_info(f, nullptr) < 0) return nullptr;
    return formato;
}

// The first real video stream with a decoder, or -1.
int flujoDeVideo(AVFormatContext* f) {
    for (unsigned i = 0; i < f->nb_streams; ++i) {
        AVStream* s = f->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (s->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (!avcodec_find_decoder(s->codecpar->codec_id)) continue;
        return int(i);
    }
    return -1;
}

// Clockwise degrees that make the picture upright (0, 90, 180 or 270), as ffmpeg itself reads
// the display matrix.
int giroDe(AVStream* s) {
    const auto* matriz = reinterpret_cast<const int32_t*>(av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matriz) return 0;
    double theta = -av_display_rotation_get(matriz);
    if (!std::isfinite(theta)) return 0;
    long cuartos = std::lround(std::fmod(theta, 360.0) / 90);
    return int(((cuartos % 4) + 4) % 4) * 90;
}

std::optional<QImage> aImagen(const AVFrame* c, int giro, int tope) {
    if (c->width <= 0 || c->height <= 0) return std::nullopt;
    QSize vista = (giro == 90 || giro == 270) ? QSize(c->height, c->width) : QSize(c->width, c->height);
    QSize destino = dentroDe(vista, tope);
    if (giro == 90 || giro == 270) destino.transpose();
    SwsContext* sws = sws_getContext(c->width, c->height, AVPixelFormat(c->format), destino.width(),
                                     destino.height(), AV_PIX_FMT_RGB32, SWS_AREA, nullptr, nullptr, nullptr);
    if (!sws) return std::nullopt;
    QImage imagen(destino, QImage::Format_RGB32);
    if (imagen.isNull()) {
        sws_freeContext(sws);
        return std::nullopt;
    }
    uint8_t* planos[4] = {imagen.bits(), nullptr, nullptr, nullptr};
    int pasos[4] = {int(imagen.bytesPerLine()), 0, 0, 0};
    int filas = sws_scale(sws, c->data, c->linesize, 0, c->height, planos, pasos);
    sws_freeContext(sws);
    if (filas <= 0) return std::nullopt;
    if (giro != 0) imagen = imagen.transformed(QTransform().rotate(giro));
    return imagen;
}

}  // namespace

std::optional<QImage> abrirImagen(const std::filesystem::path& ruta, int tope) {
    QImageReader lector(QString::fromStdString(ruta.string()));
    lector.setAutoTransform(true);
    // Decoders that can scale while reading (JPEG, PNG) never hold the whole picture.
    QSize tam = lector.size();
    if (tam.isValid() && (tam.width() > tope || tam.height() > tope)) lector.setScaledSize(dentroDe(tam, tope));
    QImage imagen = lector.read();
    if (imagen.isNull()) return std::nullopt;
    if (imagen.width() > tope || imagen.height() > tope)
        imagen = imagen.scaled(tope, tope, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return imagen;
}

std::optional<QImage> cuadroDeVideo(const std::filesystem::path& ruta, int tope) {
    Plazo plazo{ahora() + esperaMaxima};
    Formato f = abrirFormato(ruta, plazo);
    if (!f) return std::nullopt;
    int indice = flujoDeVideo(f.get());
    if (indice < 0) return std::nullopt;
    AVStream* flujo = f->streams[indice];
    if (std::int64_t(flujo->codecpar->width) * flujo->codecpar->height > pixelesMaximos) return std::nullopt;

    const AVCodec* decodificador = avcodec_find_decoder(flujo->codecpar->codec_id);
    Codec codec(avcodec_alloc_context3(decodificador));
    if (!codec || avcodec_parameters_to_context(codec.get(), flujo->codecpar) < 0) return std::nullopt;
    codec->max_pixels = pixelesMaximos;
    codec->thread_count = 1;  // one frame wanted: no frame threads holding pictures
    if (avcodec_open2(codec.get(), decodificador, nullptr) < 0) return std::nullopt;

    double duracion = NAN;
    if (f->duration != AV_NOPTS_VALUE && f->duration > 0) duracion = double(f->duration) / AV_TIME_BASE;
    else if (flujo->duration != AV_NOPTS_VALUE && flujo->duration > 0) duracion = double(flujo->duration) * av_q2d(flujo->time_base);
    double momento = std::isfinite(duracion) ? std::min(duracion / 3, 1.0) : 0;
    momento = std::round(momento * 600) / 600;

    std::int64_t inicio = flujo->start_time != AV_NOPTS_VALUE ? flujo->start_time : 0;
    std::int64_t objetivo = inicio + av_rescale_q(std::int64_t(std::llround(momento * 1e6)), AVRational{1, 1000000}, flujo->time_base);
    if (momento > 0) av_seek_frame(f.get(), indice, objetivo, AVSEEK_FLAG_BACKWARD);  // failing: read from the start

    Paquete paquete(av_packet_alloc());
    Cuadro cuadro(av_frame_alloc()), ultimo(av_frame_alloc());
    if (!paquete || !cuadro || !ultimo) return std::nullopt;
    bool hayUltimo = false, listo = false, fin = false;
    auto recibir = [&] {
        while (!listo && avcodec_receive_frame(codec.get(), cuadro.get()) == 0) {
            std::int64_t pts = cuadro->best_effort_timestamp;
            av_frame_unref(ultimo.get());
            av_frame_move_ref(ultimo.get(), cuadro.get());
            hayUltimo = true;
            if (pts == AV_NOPTS_VALUE || pts >= objetivo) listo = true;
        }
    };
    for (int leidos = 0; !listo && !fin && leidos < paquetesMaximos && ahora() < plazo.limite; ++leidos) {
        int r = av_read_frame(f.get(), paquete.get());
        if (r < 0) {
            fin = true;
            avcodec_send_packet(codec.get(), nullptr);  // drain what the decoder still holds
        } else if (paquete->stream_index == indice) {
            avcodec_send_packet(codec.get(), paquete.get());
        }
        av_packet_unref(paquete.get());
        recibir();
    }
    if (!hayUltimo) return std::nullopt;
    return aImagen(ultimo.get(), giroDe(flujo), tope);
}

}  // namespace tt
