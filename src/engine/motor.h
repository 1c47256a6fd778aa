#pragma once

#include "comun/cola.h"
#include "engine/bloque_audio.h"
#include "comun/cuadro.h"
#include "engine/seleccion.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tt {

class Captura;
class CamaraFalsa;
class VigiaDispositivos;

// What the user lets this process open (Linux asks nothing: a device it cannot open counts as
// a refused permission).
struct Acceso {
    bool camara = true;
    bool microfono = true;
};

// The engine: capture, composition and the encoder processes of each transmission.
// The capture session and the device watch live on the main thread; camera frames arrive on
// colaV ("tm.video"), microphone buffers on colaA ("tm.audio"); `candado` guards the fields
// both read.
class Motor {
public:
    static constexpr const char* kSinMicrofono = "No se pudo abrir ese micrófono.";

    Motor();
    ~Motor();
    Motor(const Motor&) = delete;
    Motor& operator=(const Motor&) = delete;

    // Devices in the platform's order (main thread).
    std::vector<Dispositivo> camaras() const;
    std::vector<Dispositivo> microfonos() const;
    // Camera access is refused when cameras are listed and this user can open none of them.
    Acceso acceso() const;

    // Opens the camera and microphone (each optional), replacing the current ones; `listo` runs on
    // the main thread with an error text or nothing. Main thread. The text kSinMicrofono means the
    // camera did open and only the microphone failed: the stream can go on without sound.
    void usar(std::optional<std::string> camara, std::optional<std::string> microfono,
              std::function<void(std::optional<std::string>)> listo);

    // Starts the synthetic camera from an image file (TM_RUIDO: noise and rate). False, and
    // nothing starts, without a readable image.
    bool simular(const std::string& imagen);
    bool simulando() const;

    // Calls alCambiar on the main thread once per burst of device changes (0.7 s after the last).
    void vigilarDispositivos(std::function<void()> alCambiar);

    // "1920×1080 a 60 cuadros" for the camera opened last.
    std::string formatoTexto() const;

    std::optional<Cuadro> camaraActual() const;
    double sinImagen() const;  // seconds since the last camera frame; 0 if none ever came
    bool estaVivo() const;
    double picoAudio() const;  // microphone level 0…1, decaying
    bool hayMicrofono() const;

    // Set before opening devices. Both run on colaV for every camera frame.
    // alCamara: the camera picture (the preview's live picture).
    std::function<void(const Cuadro&)> alCamara;
    // alComponer: the programme picture, or nothing when the picture is the bare camera.
    std::function<void(std::optional<Cuadro>)> alComponer;

    // Delivery: every camera (or synthetic) frame on colaV, every microphone buffer on colaA.
    void video(const Cuadro& camara);
    void audio(const BloqueAudio& bloque);

    Cola colaV{"tm.video"};
    Cola colaA{"tm.audio"};

private:
    mutable std::mutex candado;  // guards the fields below
    std::optional<Cuadro> ultimaCamara;
    double ultimoVideoEn = 0;
    double picoAudio_ = 0;
    bool vivo = false;
    std::string formatoTexto_;
    std::atomic<int> videoPendiente{0};  // camera frames waiting on colaV

    // Main thread.
    std::unique_ptr<Captura> captura;
    std::unique_ptr<VigiaDispositivos> vigia;
    // Created on the main thread, then touched only on colaV.
    std::unique_ptr<CamaraFalsa> falsa;
    bool falsaActiva = false;  // under candado
    // Main thread: lets a late answer of the capture session see that the engine is gone.
    std::shared_ptr<bool> presente = std::make_shared<bool>(true);
};

}  // namespace tt
