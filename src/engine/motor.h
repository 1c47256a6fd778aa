#pragma once

#include "comun/cola.h"
#include "engine/bloque_audio.h"
#include "comun/cuadro.h"
#include "engine/hijo.h"
#include "engine/hilos.h"
#include "engine/lector.h"
#include "pantallas/compositor.h"
#include "engine/progreso.h"
#include "engine/relevo.h"
#include "engine/prueba_av1.h"
#include "engine/seleccion.h"
#include "engine/tiempos.h"
#include "uplink/despacho.h"
#include "protocolo/pase.h"

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
class Publicador;
class Reparto;

// The write end of one encoder's audio FIFO. The descriptor is opened before the handle is handed
// to the writers and is written and closed only on the audio writing queue; each write job names
// its handle, so audio queued for one encoder never reaches the next.
struct TuboAudio {
    explicit TuboAudio(std::string ruta) : fifo(std::move(ruta)) {}
    ~TuboAudio();
    void cerrar();  // closes the descriptor and deletes the FIFO
    std::string fifo;
    int fd = -1;
};

// What the user lets this process open (Linux asks nothing: a device it cannot open counts as
// a refused permission).
struct Acceso {
    bool camara = true;
    bool microfono = true;
};

// The engine: capture, composition and the encoder processes of each transmission.
// The capture session and the device watch live on the main thread; camera frames arrive on
// colaV ("tm.video"), microphone buffers on colaA ("tm.audio"). `candado` guards the transmission's
// fields and is never held across a system call: what to do is decided under it, done outside it
// (config, FIFOs, the uplink, the encoders' launches, on "tm.arranque") and
// the result published under it. `candadoCaptura` guards what capture and the preview share.
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
    std::string salidaTexto() const;  // the size the stream goes out at, "Sale en 1280×720"

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

    // A transmission: armed here, the encoder starts on the first usable frame. Main thread.
    void transmitir(bool mono, bool aArchivo, std::optional<std::string> destino,
                    std::optional<std::string> respaldo, std::optional<Pase> pase);
    // Ends the transmission: the encoder's inputs close at once, the encoder is ended 6 s later if
    // it is still running. Any thread; nothing happens when idle.
    void detener();
    // Failure reports to the application, always on the main thread.
    std::function<void(const std::string&)> alFallar;
    // On the main thread: the microphone stopped delivering on air and silence takes its place
    // (true), or it delivers again (false).
    std::function<void(bool callado)> alMicrofono;

    // Hands the stream over to a new encoder at `kbps` without a gap and without a second header.
    // Urgent: what the old encoder still holds is dropped. True if the handover was decided; the
    // new encoder is launched on "tm.arranque", and `kbps()` says the new rate once it runs. Any
    // thread; it never waits for the launch.
    bool cambiarCalidad(int kbps, bool urgente);
    // On the main thread: a decided handover could not launch; the old encoder keeps the stream at
    // this rate.
    std::function<void(int kbps)> alNoRelevar;
    // A handover to a new encoder at the same rate, so that the next picture out is a key frame:
    // after an outage the relay's splice waits for one, and viewers would see the fallback picture
    // until the encoder's next (up to 10 s later). Called by the engine itself when the network
    // comes back; main thread, as cambiarCalidad.
    bool renovarCompresor();

    // The uplink of this transmission, for the status display and the quality controller. Each
    // takes the engine's lock only to read which uplink is current.
    std::optional<Resumen> redesUnidas();
    std::vector<Json> enlaces();
    std::optional<Presion> tomarPresion();
    void sondear(int kbps, double segundos);
    std::optional<Sondeo> sondeo();
    bool hayReparto() const;
    bool cortado() const;  // on air and paused for lack of network
    int kbps() const;      // video bit rate of the running encoder

    // Figures for the status display, read under the lock.
    struct Figuras {
        bool vivo = false, arrancado = false, cortoElServidor = false;
        std::int64_t saltados = 0, escritosV = 0, escritasA = 0, totalBytesProceso = 0, bytesPrevios = 0;
        int pendientesV = 0, kbpsEnUso = 0, cps = 0, cambiosCalidad = 0;
        double ritmo = 0, cpsCompresor = 0, hz = 48000, ultimoVideoEn = 0;
    };
    Figuras figuras() const;
    std::string depuracion();  // reads and resets the compositor's slowest time

    Cola colaV{"tm.video"};
    Cola colaA{"tm.audio"};
    // Composes every camera frame with the screen on air and mixes that screen's sound.
    Compositor compositor;

private:
    // What the start of a transmission's first encoder needs, taken under the lock.
    struct PlanArranque {
        int transmision = 0;
        int serie = 0;
        FormatoFlujo formato;
        bool aArchivo = false;
        std::optional<std::string> destino, respaldo;
        std::optional<Pase> pase;
    };
    void arrancarFfmpeg(const PlanArranque& plan);  // on colaArranque, without the lock
    bool relevar(int kbps, bool urgente, bool mismaTasa);  // cambiarCalidad and renovarCompresor
    // What a decided handover launches with (on colaArranque, without the lock).
    struct PlanRelevo {
        std::shared_ptr<Relevo> r;
        std::shared_ptr<Reparto> uplink;
        std::shared_ptr<Lector> anterior;
        FormatoFlujo formato;
        int kbps = 0, kbpsAntes = 0, transmision = 0, serie = 0;
        double desfase = 0;
        int relleno = 0;  // repeats of the last frame for the old encoder
        bool urgente = false, mismaTasa = false;
    };
    void lanzarRelevo(const PlanRelevo& plan);
    void vigilarHijo(const std::shared_ptr<Hijo>& hijo, int transmision);  // without the lock
    std::function<void(const std::string&)> alCortarDe(const Reparto* r);
    std::function<void()> alNoPublicar(int transmision);
    Salida salidaHacia(const std::shared_ptr<Reparto>& r);
    Salida salidaHacia(const std::shared_ptr<Publicador>& p);
    // candado held: carries out a step of the pending handover (writes, closes, completion).
    void cumplirRelevo(Relevo::Paso p);
    void cancelarRelevo();  // candado held
    std::shared_ptr<Reparto> repartoActual() const;
    // candado held. Queues audio for the encoder receiving it, in stream order; `antes`: the bytes of
    // it that still belong to the old encoder when it crosses a pending handover's switch point.
    void encaminarAudio(std::vector<std::uint8_t> bytes, std::optional<std::size_t> antes);
    // candado held. Microphone-format sample frames starting at stream sample `inicio`, split at
    // a pending handover's switch sample.
    void encaminarMuestras(std::vector<std::uint8_t> bytes, std::int64_t inicio, std::size_t bytesCuadro);
    void cerrarAudio(std::shared_ptr<TuboAudio> tubo, std::shared_ptr<std::vector<std::uint8_t>> resto);
    void vigilar(const std::shared_ptr<Hijo>& hijo, int estado);
    void fallar(const std::string& texto);  // on the main thread, while the engine exists
    void escribirVideo(std::shared_ptr<Hijo> hijo, std::shared_ptr<const std::uint8_t> cuadro, std::size_t bytes, int copias);
    void callarMicrofono(std::int64_t muestras, std::int64_t inicio);  // without the lock
    void avisarMicrofono(bool callado);
    void abrirAudio(std::shared_ptr<Hijo> hijo, std::shared_ptr<TuboAudio> tubo);
    void transmitirCuadro(const Cuadro& programa);
    void detener(bool yaMismo);

    // Joins the threads of the transmissions as they end; first, so it outlives their owners.
    Cola recogida{"tm.recogida"};

    mutable std::mutex candado;  // guards the fields below, up to the capture's
    // The transmission.
    bool arrancado = false;
    bool arrancando = false;  // the first encoder's start is under way on colaArranque
    int transmision = 0;      // counts transmissions: a late start or launch knows it is stale
    bool destinoArchivo = false;
    bool mono = false;
    std::optional<std::string> destinoKick;
    std::optional<std::string> respaldoKick;
    std::optional<Pase> paseKick;
    Tiempos tiempos;
    std::shared_ptr<Hijo> proceso;
    // The audio FIFO now receiving audio: nothing while a handover waits for the new one to open.
    std::shared_ptr<TuboAudio> tuboA;
    bool audioAbierto = false;  // tuboA is open (the first encoder's opens on escA after its start)
    int serie = 0;
    int kbpsEnUso = 0;
    Progreso progreso;
    bool cortoElServidor = false;
    std::int64_t bytesPrevios = 0;
    int cambiosCalidad = 0;
    std::shared_ptr<Reparto> reparto;
    std::shared_ptr<Publicador> publicador;  // the RTMP output when there is no relay
    std::shared_ptr<Relevo> relevoPend;
    std::shared_ptr<TuboAudio> tuboRelevo;  // the pending handover's audio FIFO, once opened
    double desfase = 0;            // output time offset of the current encoder
    std::int64_t cuadroBase = 0;   // frame index at which the current encoder started
    bool vivo = false;

    // What the main thread's frequent reads see: a copy made at the end of every hold of candado,
    // so those reads never wait for candado's holders.
    struct Vista {
        Figuras figuras;
        bool enPausa = false;
        std::shared_ptr<Reparto> reparto;
    };
    mutable std::mutex candadoVista;  // guards vista; taken inside candado only to copy
    Vista vista;
    void publicar();  // candado held
    // Holds candado and publishes the view when it lets go.
    class Cambio {
    public:
        explicit Cambio(Motor& m) : m_(m), l_(m.candado) {}
        ~Cambio() { m_.publicar(); }
        Cambio(const Cambio&) = delete;
        Cambio& operator=(const Cambio&) = delete;

    private:
        Motor& m_;
        std::lock_guard<std::mutex> l_;
    };

    mutable std::mutex candadoCaptura;  // guards the capture's fields below; never held with candado
    bool microfonoAbierto = false;
    std::optional<Cuadro> ultimaCamara;
    double ultimoVideoEn = 0;
    double picoAudio_ = 0;
    std::string formatoTexto_, salidaTexto_;
    bool falsaActiva = false;
    std::atomic<int> videoPendiente{0};  // camera frames waiting on colaV

    // Lets callbacks from the encoder's watcher thread and the main thread see that the engine is
    // gone: they run under its lock and only while `sigue` holds.
    struct Presencia {
        std::mutex candado;
        bool sigue = true;
    };
    std::shared_ptr<Presencia> presencia = std::make_shared<Presencia>();
    void abrirRelevo(std::shared_ptr<Relevo> r, std::shared_ptr<Hijo> hijo, std::string fifo, std::weak_ptr<Presencia> p);
    template <class F>
    auto siSigue(F fn) {
        return [p = std::weak_ptr<Presencia>(presencia), fn = std::move(fn)](auto&&... args) {
            auto vivo = p.lock();
            if (!vivo) return;
            std::lock_guard l(vivo->candado);
            if (vivo->sigue) fn(std::forward<decltype(args)>(args)...);
        };
    }

    // Every write into the encoder's pipes, and the blocking open of the audio FIFO.
    Cola escV{"tm.escribe.video"};
    std::shared_ptr<const std::uint8_t> ultimoV;  // escV's: the last frame written, and its size
    std::size_t bytesUltimoV = 0;
    Cola escA{"tm.escribe.audio"};
    // The threads of the transmissions: encoder watchers, handover audio openers, output readers.
    Hilos hilos{&recogida};
    Lectores lectores{8.0, &recogida};
    PruebaAv1 av1;
    // Starts the encoders (the first of each transmission and those of its handovers), so no frame
    // and no window waits for them.
    Cola colaArranque{"tm.arranque"};

    // Main thread.
    std::unique_ptr<Captura> captura;
    std::unique_ptr<VigiaDispositivos> vigia;
    // Created on the main thread, then touched only on colaV.
    std::unique_ptr<CamaraFalsa> falsa;
    // Main thread: lets a late answer of the capture session see that the engine is gone.
    std::shared_ptr<bool> presente = std::make_shared<bool>(true);
};

}  // namespace tt
