#include "engine/captura.h"

#include "comun/bitacora.h"
#include "principal/principal.h"
#include "comun/reloj.h"
#include "engine/convertir.h"
#include "engine/motor.h"
#include "engine/reloj_muestras.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QCamera>
#include <QCameraDevice>
#include <QCameraFormat>
#include <QIODevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrameFormat>
#include <QVideoSink>

#include <unistd.h>

#include <cmath>

namespace tt {

namespace {

std::optional<Disposicion> disposicionDe(QVideoFrameFormat::PixelFormat f) {
    using F = QVideoFrameFormat;
    switch (f) {
    case F::Format_NV12: return Disposicion::nv12;
    case F::Format_NV21: return Disposicion::nv21;
    case F::Format_YUV420P: return Disposicion::i420;
    case F::Format_YV12: return Disposicion::yv12;
    case F::Format_YUYV: return Disposicion::yuyv;
    case F::Format_UYVY: return Disposicion::uyvy;
    case F::Format_BGRA8888:
    case F::Format_BGRA8888_Premultiplied:
    case F::Format_BGRX8888: return Disposicion::bgra;
    case F::Format_RGBA8888:
    case F::Format_RGBX8888: return Disposicion::rgba;
    case F::Format_Jpeg: return Disposicion::jpeg;
    default: return std::nullopt;
    }
}

// Pushed microphone bytes become whole-frame buffers on their way to the engine.
class SumideroAudio : public QIODevice {
public:
    SumideroAudio(FormatoAudio formato, std::function<void(BloqueAudio)> entregar, QObject* padre)
        : QIODevice(padre), formato_(formato), entregar_(std::move(entregar)) {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* datos, qint64 largo) override {
        const double t = ahora();
        resto_.insert(resto_.end(), datos, datos + largo);
        const std::size_t porCuadro = std::size_t(std::max(1, formato_.bytesCuadro()));
        const std::size_t enteros = resto_.size() / porCuadro * porCuadro;
        if (enteros > 0 && entregar_) {
            BloqueAudio b;
            b.formato = formato_;
            b.bytes.assign(resto_.begin(), resto_.begin() + enteros);
            // The last sample was taken about now at the latest; the buffer began its length earlier.
            const auto cuadros = std::int64_t(enteros / porCuadro);
            b.marca = t - double(cuadros) / std::max(1, formato_.hz);
            b.hora = reloj_.hora(t, cuadros, formato_.hz);
            resto_.erase(resto_.begin(), resto_.begin() + enteros);
            entregar_(std::move(b));
        }
        return largo;
    }

private:
    FormatoAudio formato_;
    std::function<void(BloqueAudio)> entregar_;
    std::vector<std::uint8_t> resto_;
    RelojMuestras reloj_;
};

FormatoAudio formatoDe(const QAudioFormat& f) {
    FormatoAudio r;
    r.hz = f.sampleRate();
    r.canales = f.channelCount();
    r.bits = f.bytesPerSample() * 8;
    r.flotante = f.sampleFormat() == QAudioFormat::Float;
    return r;
}

}  // namespace

std::optional<Cuadro> cuadroDe(const QVideoFrame& original) {
    QVideoFrame cuadro(original);
    if (!cuadro.isValid()) return std::nullopt;
    const int ancho = cuadro.width(), alto = cuadro.height();
    std::optional<Cuadro> c;
    const auto d = disposicionDe(cuadro.pixelFormat());
    if (d && cuadro.map(QVideoFrame::ReadOnly)) {
        Planos p;
        for (int i = 0; i < std::min(3, cuadro.planeCount()); ++i) {
            p.datos[i] = cuadro.bits(i);
            p.pasos[i] = cuadro.bytesPerLine(i);
            p.bytes[i] = std::size_t(std::max(0, cuadro.mappedBytes(i)));
        }
        c = aNv12(*d, p, ancho, alto);
        cuadro.unmap();
        const bool yuv = *d != Disposicion::bgra && *d != Disposicion::rgba && *d != Disposicion::jpeg;
        if (c && yuv) c->bt709 = cuadro.surfaceFormat().colorSpace() == QVideoFrameFormat::ColorSpace_BT709;
    } else {
        c = imagenANv12(cuadro.toImage());
    }
    return c;
}

Captura::Captura() {
    espera_.setSingleShot(true);
    connect(&espera_, &QTimer::timeout, this, [this] {
        terminar(generacion_, std::string("No se pudo abrir la cámara: no respondió."));
    });
}

Captura::~Captura() { cerrar(); }

std::vector<Dispositivo> Captura::camaras() {
    std::vector<Dispositivo> r;
    for (const QCameraDevice& d : QMediaDevices::videoInputs())
        r.push_back({d.id().toStdString(), d.description().toStdString()});
    return r;
}

std::vector<Dispositivo> Captura::microfonos() {
    std::vector<Dispositivo> r;
    for (const QAudioDevice& d : QMediaDevices::audioInputs())
        r.push_back({d.id().toStdString(), d.description().toStdString()});
    return r;
}

bool Captura::puedeAbrir(const std::string& id) {
    if (id.rfind("/dev/", 0) != 0) return true;
    return ::access(id.c_str(), R_OK | W_OK) == 0;
}

void Captura::cerrar() {
    espera_.stop();
    if (sesion_) {
        sesion_->setCamera(nullptr);
        sesion_->setVideoSink(nullptr);
    }
    if (camara_) {
        camara_->stop();
        delete camara_.data();
    }
    if (sumidero_) delete sumidero_.data();
    if (microfono_) {
        microfono_->stop();
        delete microfono_;
        microfono_ = nullptr;
    }
    if (entradaAudio_) delete entradaAudio_.data();
}

void Captura::terminar(int generacion, std::optional<std::string> error) {
    if (generacion != generacion_ || !listo_) return;
    espera_.stop();
    auto listo = std::move(listo_);
    listo_ = nullptr;
    if (!error) error = errorMicro_;
    if (error) bitacora("captura: " + *error);
    enPrincipal([listo = std::move(listo), error] { listo(error); });
}

void Captura::usar(std::optional<std::string> camara, std::optional<std::string> microfono,
                   std::function<void(std::optional<std::string>)> listo) {
    cerrar();
    const int gen = ++generacion_;
    listo_ = listo ? std::move(listo) : [](std::optional<std::string>) {};
    errorMicro_.reset();
    if (!sesion_) sesion_ = std::make_unique<QMediaCaptureSession>();
    std::optional<std::string> error;

    if (camara) {
        std::optional<QCameraDevice> dispositivo;
        for (const QCameraDevice& d : QMediaDevices::videoInputs())
            if (d.id().toStdString() == *camara) dispositivo = d;
        if (!dispositivo) {
            error = "No se pudo abrir la cámara: ya no está conectada.";
        } else if (!puedeAbrir(*camara)) {
            error = "No se pudo abrir la cámara: tu usuario no tiene permiso para usarla.";
        } else {
            camara_ = new QCamera(*dispositivo, this);
            // The format is chosen even when the camera cannot be used, as the menu text shows it.
            const QList<QCameraFormat> lista = dispositivo->videoFormats();
            std::vector<FormatoCamara> formatos;
            for (const QCameraFormat& f : lista)
                formatos.push_back({f.resolution().width(), f.resolution().height(),
                                    {{f.minFrameRate(), f.maxFrameRate()}}});
            if (auto elegido = elegirFormato(formatos)) {
                camara_->setCameraFormat(lista[int(elegido->indice)]);
                formatoTexto_ = elegido->texto;
                salidaTexto_ = elegido->salida;
                duracionFormato_ = elegido->duracion;
            }
            if (!camara_->isAvailable()) {
                error = "No se pudo usar esa cámara.";
            } else {
                sumidero_ = new QVideoSink(this);
                const double duracion = duracionFormato_;
                // Frames arrive on the platform's streaming thread: no queued hop through the
                // main thread, the engine's video queue takes them from here.
                connect(sumidero_.data(), &QVideoSink::videoFrameChanged, this,
                        [this, duracion](const QVideoFrame& f) {
                            const double hora = ahora();
                            double d = duracion;
                            if (f.startTime() >= 0 && f.endTime() > f.startTime())
                                d = double(f.endTime() - f.startTime()) / 1e6;
                            if (alVideo) alVideo(f, hora, d);
                        },
                        Qt::DirectConnection);
                connect(camara_.data(), &QCamera::errorOccurred, this,
                        [this, gen](QCamera::Error e, const QString& texto) {
                            if (e == QCamera::NoError) return;
                            const std::string t = "No se pudo abrir la cámara: " + texto.toStdString();
                            if (listo_ && gen == generacion_) terminar(gen, t);
                            else bitacora("cámara: " + texto.toStdString());
                        });
                connect(camara_.data(), &QCamera::activeChanged, this, [this, gen](bool activa) {
                    if (activa) terminar(gen, std::nullopt);
                });
                sesion_->setCamera(camara_);
                sesion_->setVideoSink(sumidero_);
            }
        }
    }

    if (microfono) {
        std::optional<QAudioDevice> dispositivo;
        for (const QAudioDevice& d : QMediaDevices::audioInputs())
            if (d.id().toStdString() == *microfono) dispositivo = d;
        bool bien = false;
        if (dispositivo) {
            QAudioFormat f;
            f.setSampleRate(48000);
            f.setChannelCount(2);
            f.setSampleFormat(QAudioFormat::Int16);
            if (!dispositivo->isFormatSupported(f)) f = dispositivo->preferredFormat();
            microfono_ = new QAudioSource(*dispositivo, f, this);
            // The real format is the one the source settled on, not the one asked for.
            auto* s = new SumideroAudio(formatoDe(microfono_->format()),
                                        [this](BloqueAudio b) {
                                            if (alAudio) alAudio(std::move(b));
                                        },
                                        this);
            s->open(QIODevice::WriteOnly);
            entradaAudio_ = s;
            microfono_->start(s);
            bien = microfono_->error() == QAudio::NoError;
            if (bien) bitacora("captura: micrófono " + dispositivo->description().toStdString());
            if (!bien) {
                microfono_->stop();
                delete microfono_;
                microfono_ = nullptr;
            }
        }
        if (!bien) {
            if (!error) errorMicro_ = Motor::kSinMicrofono;
            bitacora("captura: micrófono no disponible");
        }
    }

    if (error || !camara_ || !sumidero_) {
        // No camera to wait for: report now (with no camera given and no error, the pair is open).
        if (error && camara_) {
            delete camara_.data();
        }
        terminar(gen, error);
        return;
    }
    espera_.start(5000);
    camara_->start();
}

VigiaDispositivos::VigiaDispositivos(std::function<void()> alCambiar, double espera)
    : alCambiar_(std::move(alCambiar)), rebote_(espera) {
    reloj_.setSingleShot(true);
    connect(&reloj_, &QTimer::timeout, this, [this] {
        if (rebote_.toca(ahora())) {
            if (alCambiar_) alCambiar_();
        } else if (auto c = rebote_.cuando()) {
            reloj_.start(std::max(1, int(std::ceil((*c - ahora()) * 1000))));
        }
    });
    dispositivos_ = new QMediaDevices(this);
    connect(dispositivos_, &QMediaDevices::videoInputsChanged, this, &VigiaDispositivos::avisar);
    connect(dispositivos_, &QMediaDevices::audioInputsChanged, this, &VigiaDispositivos::avisar);
}

VigiaDispositivos::~VigiaDispositivos() = default;

void VigiaDispositivos::avisar() {
    rebote_.avisar(ahora());
    reloj_.start(std::max(1, int(std::ceil((*rebote_.cuando() - ahora()) * 1000))));
}

}  // namespace tt
