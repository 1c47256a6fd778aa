#pragma once

#include "engine/bloque_audio.h"
#include "comun/cuadro.h"
#include "engine/seleccion.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVideoFrame>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAudioSource;
class QCamera;
class QMediaCaptureSession;
class QMediaDevices;
class QVideoSink;

namespace tt {

// A camera picture as Qt delivers it, converted to NV12 (BT.601 or BT.709 as the camera tags
// it). Nothing when the picture cannot be mapped or converted.
std::optional<Cuadro> cuadroDe(const QVideoFrame& cuadro);

// The capture session on Qt Multimedia: one camera and one microphone at a time, frames handed
// to `alVideo` and microphone buffers to `alAudio`, both from the platform's threads.
// Lives on the main thread (Qt's capture objects belong to the thread with the event loop).
class Captura : public QObject {
    Q_OBJECT
public:
    Captura();
    ~Captura() override;

    static std::vector<Dispositivo> camaras();
    static std::vector<Dispositivo> microfonos();
    // Whether this user may open the camera with that id: a device node must be readable and
    // writable (Linux has no permission prompt; a missing group membership shows up here).
    static bool puedeAbrir(const std::string& id);

    // Opens the pair (each optional); `listo` runs on the main thread once, with an error text or
    // nothing, when the camera runs or failed. A new call drops the pending `listo` of the last.
    void usar(std::optional<std::string> camara, std::optional<std::string> microfono,
              std::function<void(std::optional<std::string>)> listo);

    std::string formatoTexto() const { return formatoTexto_; }
    std::string salidaTexto() const { return salidaTexto_; }
    bool hayMicrofono() const { return microfono_ != nullptr; }

    // A Qt picture with its common-clock time and duration; called on a platform thread.
    std::function<void(const QVideoFrame&, double hora, double duracion)> alVideo;
    std::function<void(BloqueAudio)> alAudio;

private:
    void cerrar();
    void terminar(int generacion, std::optional<std::string> error);

    std::unique_ptr<QMediaCaptureSession> sesion_;
    QPointer<QCamera> camara_;
    QPointer<QVideoSink> sumidero_;
    QAudioSource* microfono_ = nullptr;
    QPointer<QIODevice> entradaAudio_;
    std::string formatoTexto_, salidaTexto_;
    double duracionFormato_ = 1.0 / 30;
    int generacion_ = 0;  // which usar() a pending listo belongs to
    std::function<void(std::optional<std::string>)> listo_;
    std::optional<std::string> errorMicro_;
    QTimer espera_;
};

// Device hot-plug: every change of the camera or microphone list, debounced: `alCambiar` runs on
// the main thread 0.7 s after the last of a burst. Lives on the main thread.
class VigiaDispositivos : public QObject {
    Q_OBJECT
public:
    explicit VigiaDispositivos(std::function<void()> alCambiar, double espera = 0.7);
    ~VigiaDispositivos() override;
    void avisar();  // one notification (the platform's signals call it)

private:
    std::function<void()> alCambiar_;
    Rebote rebote_;
    QTimer reloj_;
    QMediaDevices* dispositivos_ = nullptr;
};

}  // namespace tt
