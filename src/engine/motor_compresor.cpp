// The encoder side of the engine: arming a transmission, starting the encoder on the first usable
// frame, placing frames and samples on the stream's clock, writing the pipes, and stopping.
#include "engine/motor.h"

#include "comun/config.h"
#include "comun/bitacora.h"
#include "principal/principal.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "comun/sin_clave.h"
#include "uplink/publicador.h"
#include "uplink/reparto.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace tt {

namespace {

std::string textoFormato(const FormatoFlujo& f) {
    return f.flotante ? "f32le" : f.bytesMuestra == 4 ? "s32le" : "s16le";
}

}  // namespace

void Motor::transmitir(bool mono_, bool aArchivo, std::optional<std::string> destino,
                       std::optional<std::string> respaldo, std::optional<Pase> pase) {
    Cambio l(*this);
    ++transmision;
    paseKick = std::move(pase);
    cortoElServidor = false;
    bytesPrevios = 0;
    cambiosCalidad = 0;
    vivo = true;
    arrancado = false;
    arrancando = false;
    mono = mono_;
    destinoArchivo = aArchivo;
    destinoKick = std::move(destino);
    respaldoKick = std::move(respaldo);
    tiempos.formato.mono = mono_;
    tiempos.armar(ahora());
    progreso = Progreso();
}

TuboAudio::~TuboAudio() { cerrar(); }

void TuboAudio::cerrar() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!fifo.empty()) ::unlink(fifo.c_str());
    fifo.clear();
}

void Motor::fallar(const std::string& texto) {
    enPrincipal(siSigue([this, texto] {
        if (alFallar) alFallar(texto);
    }));
}

// On colaArranque, without the lock: everything that touches the system, then the result is
// published under the lock only if the transmission it was made for is still on.
void Motor::arrancarFfmpeg(const PlanArranque& plan) {
    const Config config = leerConfig();
    const std::string ffmpeg = (recursos() / "ffmpeg").string();
    bool av1Flv = true;
    if (!plan.aArchivo) {
        auto r = av1.esperar(ffmpeg);
        if (!r) return;  // the engine is going
        av1Flv = *r;
    }
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(plan.serie);
    auto tubo = std::make_shared<TuboAudio>(nuevaFifo(prefijo + "-audio.fifo"));

    std::string error, entrada;
    std::shared_ptr<Reparto> r;
    SalidaCompresor salida;
    if (plan.aArchivo) {
        salida.caso = SalidaCompresor::archivo;
    } else {
        entrada = plan.pase ? plan.pase->entrada : config.entrada.value_or("");
        if (!entrada.empty()) r = Reparto::crear(entrada, config.clave.value_or(""), plan.destino, plan.respaldo, plan.pase);
        if (r) r->fijarAlCortar(alCortarDe(r.get()));
        // Without a relay the stream is published from here too: the key never reaches a command line.
        salida = {SalidaCompresor::fifo, nuevaFifo(prefijo + "-salida.fifo"), std::nullopt};
        if (salida.ruta.empty()) error = "no se pudo crear la FIFO de salida";
    }
    if (tubo->fifo.empty()) error = "no se pudo crear la FIFO de audio";

    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = ordenCompleta(plan.formato, config.kbps, config.preset, tubo->fifo, salida, av1Flv);
    a.errores = (carpetaLog() / "ffmpeg.log").string();  // emptied first; left out if it cannot be opened
    auto hijo = error.empty() ? Hijo::lanzar(a, &error) : nullptr;
    if (!hijo) {
        bitacora("no arrancó ffmpeg: " + error);
        tubo->cerrar();
        if (!salida.ruta.empty()) ::unlink(salida.ruta.c_str());
        if (r) r->terminar();
        bool suyo;
        {
            Cambio l(*this);
            suyo = vivo && transmision == plan.transmision;
            if (suyo) {
                vivo = false;
                arrancando = false;
            }
        }
        if (suyo) fallar("No arrancó el compresor.");
        return;
    }
    std::shared_ptr<Publicador> p;
    if (!r && !plan.aArchivo) {
        auto anotar = [](const std::string& linea) { bitacora("salida: " + linea); };
        p = std::make_shared<Publicador>(config.servidor, anotar, alNoPublicar(plan.transmision));
    }
    std::shared_ptr<Lector> lector;
    if (r) lector = lectores.arrancar(salida.ruta, salidaHacia(r), false);
    else if (p) lector = lectores.arrancar(salida.ruta, salidaHacia(p), false);

    bool suyo;
    {
        Cambio l(*this);
        suyo = vivo && transmision == plan.transmision;
        if (suyo) {
            arrancando = false;
            arrancado = true;
            proceso = hijo;
            reparto = r;
            publicador = p;
            tuboA = tubo;
            audioAbierto = false;
            kbpsEnUso = config.kbps;
            desfase = 0;
            cuadroBase = 0;
            progreso = Progreso();
        }
    }
    // Watched only now, so a child that ended at once is still seen as this transmission's.
    vigilarHijo(hijo, plan.transmision);
    if (!suyo) {
        // Stopped while starting: nothing of it stays.
        hijo->cerrarEntrada();
        hijo->terminar(1);
        if (lector) lector->cortar = true;
        else if (!salida.ruta.empty()) ::unlink(salida.ruta.c_str());
        tubo->cerrar();
        if (r) r->terminar();
        if (p) p->terminar();
        return;
    }
    escA.asincrono([this, hijo, tubo] { abrirAudio(hijo, tubo); });

    const auto& f = plan.formato;
    char linea[256];
    std::snprintf(linea, sizeof linea, "transmisión: %dx%d@%d, audio %g Hz %d canales %s, %d kbps preset %d → ",
                  f.ancho, f.alto, f.cps, f.hz, f.canales, textoFormato(f).c_str(), config.kbps, config.preset);
    std::string destino = plan.aArchivo ? "archivo"
                          : r           ? "reparto a " + entrada + (plan.pase ? " (con pase)" : "")
                                        : sinClave(config.servidor);
    bitacora(linea + destino);
}

// A publication that fails ends the transmission as an encoder that could not reach the server did.
// Called on the publisher's thread; detener hands the engine's reference to it on to recogida.
std::function<void()> Motor::alNoPublicar(int deTransmision) {
    return siSigue([this, deTransmision] {
        {
            Cambio l(*this);
            if (!vivo || !publicador || transmision != deTransmision) return;
        }
        detener();
        fallar("No se pudo conectar con el servidor.");
    });
}

void Motor::vigilarHijo(const std::shared_ptr<Hijo>& hijo, int grupo) {
    std::weak_ptr<Hijo> debil = hijo;
    hijo->vigilar(hilos, grupo,
                  siSigue([this, debil](std::string_view datos) {
                      auto h = debil.lock();
                      Cambio l(*this);
                      if (proceso && proceso == h) progreso.datos(datos, ahora());
                  }),
                  siSigue([this, debil](int estado) {
                      if (auto h = debil.lock()) vigilar(h, estado);
                      else bitacora("ffmpeg terminó (" + std::to_string(estado) + ")");
                  }));
}

// On escA: opens the audio FIFO once the encoder reads it. Never blocks for good: it gives up when
// the encoder ends or is no longer this transmission's.
void Motor::abrirAudio(std::shared_ptr<Hijo> hijo, std::shared_ptr<TuboAudio> tubo) {
    int fd = -1;
    while (fd < 0) {
        fd = ::open(tubo->fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) break;
        if (errno != ENXIO && errno != EINTR) return;
        {
            Cambio l(*this);
            if (proceso != hijo || tuboA != tubo) return;
        }
        if (hijo->terminado()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    tubo->fd = fd;  // written here, on escA, before any write job that names this handle
    Cambio l(*this);
    if (tuboA == tubo) audioAbierto = true;
}

void Motor::vigilar(const std::shared_ptr<Hijo>& hijo, int estado) {
    bitacora("ffmpeg terminó (" + std::to_string(estado) + ")");
    bool suyo;
    {
        Cambio l(*this);
        suyo = vivo && proceso == hijo;
    }
    if (!suyo) return;  // replaced or stopped: ends silently
    detener();
    fallar(estado != 0 ? "No se pudo conectar con el servidor." : "La transmisión terminó.");
}

void Motor::detener() { detener(false); }

// yaMismo: the engine is going: the encoder and the uplink end now instead of after their delays.
void Motor::detener(bool yaMismo) {
    std::shared_ptr<Hijo> hijo;
    std::shared_ptr<TuboAudio> audio;
    std::shared_ptr<Reparto> r;
    std::shared_ptr<Publicador> p;
    bool estaba;
    {
        Cambio l(*this);
        estaba = vivo;
        vivo = false;
        arrancado = false;
        arrancando = false;
        cancelarRelevo();
        hijo = std::move(proceso);
        proceso.reset();
        audio = std::move(tuboA);
        tuboA.reset();
        audioAbierto = false;
        r = std::move(reparto);
        reparto.reset();
        p = std::move(publicador);
        publicador.reset();
    }
    if (r || p) {
        // The encoder normally ends the uplink through its reader; this is the backstop for a
        // reader still waiting on an encoder that never finishes.
        auto backstop = [r, p, enMarcha = lectores.enMarcha()] {
            for (auto& lector : enMarcha) lector->cortar = true;
            if (r) r->terminar();
            if (p) p->terminar();
        };
        if (yaMismo) backstop();
        else enGlobalDespues(9, backstop);
    }
    // Whoever drops the publisher last joins its thread: never the caller's (the main thread).
    if (p) recogida.asincrono([p = std::move(p)]() mutable { p.reset(); });
    if (!estaba) return;
    bitacoraDepurar(depuracion());
    escV.asincrono([this, hijo] {
        if (hijo) hijo->cerrarEntrada();  // end of video for the encoder
        ultimoV.reset();
    });
    cerrarAudio(audio, nullptr);
    if (hijo) {
        if (yaMismo) hijo->terminar(1);
        else enGlobalDespues(6, [hijo] { hijo->terminar(2); });
    }
    bitacora("transmisión detenida");
}

namespace {

// The frame as the encoder reads it: its own planes when they are laid out that way (they are never
// written again once handed out), else packed.
std::shared_ptr<const std::uint8_t> comoLoLee(const Cuadro& programa, int ancho, int alto) {
    const std::size_t bytes = bytesNv12(ancho, alto);
    if (programa.ancho == ancho && programa.alto == alto && programa.pasoY == ancho && programa.pasoUV == ancho &&
        programa.memoria->size() >= bytes)
        return std::shared_ptr<const std::uint8_t>(programa.memoria, programa.memoria->data());
    // Every byte is written by the packing: no need to clear megabytes first.
    auto nuevo = std::make_shared_for_overwrite<std::uint8_t[]>(bytes);
    empacarNv12(programa.y(), programa.pasoY, programa.alto, programa.uv(), programa.pasoUV, programa.alto / 2, ancho,
                alto, nuevo.get());
    const std::uint8_t* datos = nuevo.get();
    return std::shared_ptr<const std::uint8_t>(std::move(nuevo), datos);
}

}  // namespace

void Motor::transmitirCuadro(const Cuadro& programa) {
    Tiempos::Colocacion c;
    Tiempos::Origen o;
    std::optional<PlanArranque> plan;
    std::int64_t primero = 0;
    int cps = 0;
    bool hayMicro;
    {
        std::lock_guard l(candadoCaptura);
        hayMicro = microfonoAbierto;
    }
    {
        Cambio l(*this);
        if (!vivo || !std::isfinite(programa.hora)) return;
        o = tiempos.origen(programa.hora, programa.duracion, programa.ancho, programa.alto, programa.planos(),
                           hayMicro, ahora(), entorno().tiene(Tm::depurar));
        if (o.arrancar && !arrancando && !arrancado) {
            arrancando = true;
            plan = PlanArranque{transmision, ++serie,     tiempos.formato, destinoArchivo,
                                destinoKick, respaldoKick, paseKick};
        }
        if (!o.soltar) {
            // Frames past a handover's switch wait until its encoder runs (repeats then fill the gap).
            const bool relevando = relevoPend && !relevoPend->lanzado();
            c = tiempos.colocar(programa.hora, arrancado, proceso != nullptr && !relevando,
                                reparto && reparto->cortado(), ahora());
            if (c.copias > 0) {
                primero = tiempos.escritosV - c.copias;
                cps = tiempos.formato.cps;
                // Queued while the frame's place is taken, so a handover decided after it closes the
                // old encoder's input behind it (queued later, it would find that input closed).
                escV.asincrono([this, hijo = proceso, programa, ancho = tiempos.formato.ancho,
                                alto = tiempos.formato.alto, copias = c.copias] {
                    escribirVideo(hijo, comoLoLee(programa, ancho, alto), bytesNv12(ancho, alto), copias);
                });
            }
        }
    }
    for (auto& linea : o.bitacora) bitacora(linea);
    for (auto& linea : c.bitacora) bitacora(linea);
    if (plan) colaArranque.asincrono([this, plan = *plan] { arrancarFfmpeg(plan); });
    if (c.volvio) enPrincipal(siSigue([this] { renovarCompresor(); }));
    if (c.microCallo) avisarMicrofono(true);
    if (c.copias <= 0) return;
    if (c.callado > 0) callarMicrofono(c.callado, c.inicioCallado);
    if (!c.silencio) return;
    // No microphone: silence for each copy, carrying the screen's own sound. It goes straight to the
    // audio queue, behind the FIFO's opening: the encoder reads its inputs' first packets in turn,
    // so silence held back until a frame's write ended could leave the encoder and this writer
    // waiting on each other.
    const std::size_t porCopia = std::size_t(48000 / cps) * 4;
    std::vector<std::uint8_t> silencio(std::size_t(c.copias) * porCopia);
    compositor.mezclar(silencio, true);
    Cambio l(*this);
    std::optional<std::size_t> antes;
    // A handover switches this audio at its switch frame: the copies before it are the old encoder's.
    if (relevoPend && relevoPend->antesDelCorte() && relevoPend->cuadro < primero + c.copias)
        antes = std::size_t(std::clamp<std::int64_t>(relevoPend->cuadro - primero, 0, c.copias)) * porCopia;
    encaminarAudio(std::move(silencio), antes);
}

// The silence that takes a silent microphone's place, in its format, with the screen's own sound.
void Motor::callarMicrofono(std::int64_t muestras, std::int64_t inicio) {
    std::size_t bytesCuadro;
    bool simple;
    {
        Cambio l(*this);
        bytesCuadro = std::size_t(tiempos.formato.bytesMuestra) * std::size_t(tiempos.formato.canales);
        simple = tiempos.mezclaSimple();
    }
    std::vector<std::uint8_t> silencio(std::size_t(muestras) * bytesCuadro, 0);
    compositor.mezclar(silencio, simple);
    Cambio l(*this);
    encaminarMuestras(std::move(silencio), inicio, bytesCuadro);
}

void Motor::avisarMicrofono(bool callado) {
    enPrincipal(siSigue([this, callado] {
        if (alMicrofono) alMicrofono(callado);
    }));
}

void Motor::escribirVideo(std::shared_ptr<Hijo> hijo, std::shared_ptr<const std::uint8_t> cuadro, std::size_t bytes,
                          int copias) {
    ultimoV = cuadro;
    bytesUltimoV = bytes;
    std::string error;
    for (int i = 0; i < copias && hijo->entrada() >= 0; ++i) {
        if (!escribirTodo(hijo->entrada(), cuadro.get(), bytes, &error)) {
            bitacoraDepurar("escritura de video falló: " + error);
            break;
        }
    }
    Cambio l(*this);
    tiempos.videoEscrito();
}

void Motor::encaminarAudio(std::vector<std::uint8_t> bytes, std::optional<std::size_t> antes) {
    if (relevoPend) return cumplirRelevo(relevoPend->audio(std::move(bytes), antes));
    if (tuboA && !bytes.empty())
        escA.asincrono([tubo = tuboA, b = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes))] {
            if (tubo->fd >= 0) escribirTodo(tubo->fd, b->data(), b->size(), nullptr);  // errors are ignored
        });
}

void Motor::cerrarAudio(std::shared_ptr<TuboAudio> tubo, std::shared_ptr<std::vector<std::uint8_t>> resto) {
    if (!tubo) return;
    escA.asincrono([tubo, resto] {
        if (resto && tubo->fd >= 0) escribirTodo(tubo->fd, resto->data(), resto->size(), nullptr);
        tubo->cerrar();  // end of audio for its encoder
    });
}

void Motor::publicar() {
    Vista v;
    Figuras& f = v.figuras;
    f.vivo = vivo;
    f.arrancado = arrancado;
    f.cortoElServidor = cortoElServidor;
    f.saltados = tiempos.saltados;
    f.escritosV = tiempos.escritosV;
    f.escritasA = tiempos.escritasA;
    f.pendientesV = tiempos.pendientesV;
    f.totalBytesProceso = progreso.totalBytes;
    f.bytesPrevios = bytesPrevios;
    f.kbpsEnUso = kbpsEnUso;
    f.cambiosCalidad = cambiosCalidad;
    f.cps = tiempos.formato.cps;
    f.hz = tiempos.formato.hz;
    f.ritmo = progreso.ritmo;
    f.cpsCompresor = progreso.cps;
    v.enPausa = tiempos.enPausa;
    v.reparto = reparto;
    std::lock_guard l(candadoVista);
    std::swap(vista, v);  // the old view's references go after the copy lock is released
}

Motor::Figuras Motor::figuras() const {
    Figuras f;
    {
        std::lock_guard l(candadoVista);
        f = vista.figuras;
    }
    std::lock_guard l(candadoCaptura);
    f.ultimoVideoEn = ultimoVideoEn;
    return f;
}

std::string Motor::depuracion() {
    Figuras f = figuras();
    char linea[320];
    std::snprintf(linea, sizeof linea,
                  "V escritos %lld pendientes %d saltados %lld | A escritas %lld (%.1f s) | ritmo %.2f cps %.1f bytes %lld | %d kbps | mezcla %.1f ms",
                  (long long)f.escritosV, f.pendientesV, (long long)f.saltados, (long long)f.escritasA,
                  f.hz > 0 ? double(f.escritasA) / f.hz : 0.0, f.ritmo, f.cpsCompresor,
                  (long long)(f.bytesPrevios + f.totalBytesProceso), f.kbpsEnUso, compositor.tardanza());
    return linea;
}

}  // namespace tt
