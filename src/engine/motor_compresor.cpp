// The encoder side of the engine: arming a transmission, starting the encoder on the first usable
// frame, placing frames and samples on the stream's clock, writing the pipes, and stopping.
#include "engine/motor.h"

#include "comun/config.h"
#include "comun/bitacora.h"
#include "comun/principal.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "comun/sin_clave.h"
#include "uplink/reparto.h"

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
    std::lock_guard l(candado);
    paseKick = std::move(pase);
    cortoElServidor = false;
    bytesPrevios = 0;
    cambiosCalidad = 0;
    vivo = true;
    arrancado = false;
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

void Motor::arrancarFfmpeg() {
    Config config = leerConfig();
    kbpsEnUso = config.kbps;
    ++serie;
    desfase = 0;
    cuadroBase = 0;
    progreso = Progreso();
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(serie);
    auto tubo = std::make_shared<TuboAudio>(nuevaFifo(prefijo + "-audio.fifo"));

    std::string error, entrada;
    std::shared_ptr<Reparto> r;
    SalidaCompresor salida;
    if (destinoArchivo) {
        salida.caso = SalidaCompresor::archivo;
    } else if ((r = crearReparto(config, &entrada))) {
        salida = {SalidaCompresor::fifo, nuevaFifo(prefijo + "-salida.fifo"), std::nullopt};
        if (salida.ruta.empty()) error = "no se pudo crear la FIFO de salida";
    } else {
        salida = {SalidaCompresor::servidor, config.servidor, std::nullopt};
    }
    if (tubo->fifo.empty()) error = "no se pudo crear la FIFO de audio";
    const std::string ffmpeg = (recursos() / "ffmpeg").string();
    const bool av1 = salida.caso == SalidaCompresor::archivo || av1EnFlv(ffmpeg);

    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = ordenCompleta(tiempos.formato, kbpsEnUso, config.preset, tubo->fifo, salida, av1);
    // The encoder's own messages go to ffmpeg.log, emptied first; without it they are not kept.
    const std::string log = (carpetaLog() / "ffmpeg.log").string();
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        a.errores = log;
    }
    auto hijo = error.empty() ? lanzar(a, &error) : nullptr;
    if (!hijo) {
        bitacora("no arrancó ffmpeg: " + error);
        tubo->cerrar();
        if (salida.caso == SalidaCompresor::fifo && !salida.ruta.empty()) ::unlink(salida.ruta.c_str());
        if (r) r->terminar();
        vivo = false;
        enPrincipal(siSigue([this] {
            if (alFallar) alFallar("No arrancó el compresor.");
        }));
        return;
    }
    proceso = hijo;
    arrancado = true;
    reparto = r;
    tuboA = tubo;
    audioAbierto = false;
    if (r) lectores.arrancar(salida.ruta, salidaHacia(r), false);
    escA.asincrono([this, hijo, tubo] { abrirAudio(hijo, tubo); });

    const auto& f = tiempos.formato;
    char linea[256];
    std::snprintf(linea, sizeof linea, "transmisión: %dx%d@%d, audio %g Hz %d canales %s, %d kbps preset %d → ",
                  f.ancho, f.alto, f.cps, f.hz, f.canales, textoFormato(f).c_str(), kbpsEnUso, config.preset);
    std::string destino = destinoArchivo ? "archivo"
                          : r            ? "reparto a " + entrada + (paseKick ? " (con pase)" : "")
                                         : sinClave(config.servidor);
    bitacora(linea + destino);
}

std::shared_ptr<Hijo> Motor::lanzar(Hijo::Arranque a, std::string* error) {
    auto hijo = Hijo::lanzar(a, error);
    if (!hijo) return nullptr;
    std::weak_ptr<Hijo> debil = hijo;
    hijo->vigilar(siSigue([this, debil](std::string_view datos) {
                      std::lock_guard l(candado);
                      if (proceso && proceso == debil.lock()) progreso.datos(datos, ahora());
                  }),
                  siSigue([this, debil](int estado) {
                      if (auto h = debil.lock()) vigilar(h, estado);
                      else bitacora("ffmpeg terminó (" + std::to_string(estado) + ")");
                  }));
    return hijo;
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
            std::lock_guard l(candado);
            if (proceso != hijo || tuboA != tubo) return;
        }
        if (hijo->terminado()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    tubo->fd = fd;  // written here, on escA, before any write job that names this handle
    std::lock_guard l(candado);
    if (tuboA == tubo) audioAbierto = true;
}

void Motor::vigilar(const std::shared_ptr<Hijo>& hijo, int estado) {
    bitacora("ffmpeg terminó (" + std::to_string(estado) + ")");
    bool suyo;
    {
        std::lock_guard l(candado);
        suyo = vivo && proceso == hijo;
    }
    if (!suyo) return;  // replaced or stopped: ends silently
    detener();
    std::string texto = estado != 0 ? "No se pudo conectar con el servidor." : "La transmisión terminó.";
    enPrincipal(siSigue([this, texto] {
        if (alFallar) alFallar(texto);
    }));
}

void Motor::detener() {
    std::shared_ptr<Hijo> hijo;
    std::shared_ptr<TuboAudio> audio;
    std::shared_ptr<Reparto> r;
    bool estaba;
    {
        std::lock_guard l(candado);
        estaba = vivo;
        vivo = false;
        arrancado = false;
        cancelarRelevo();
        hijo = std::move(proceso);
        proceso.reset();
        audio = std::move(tuboA);
        tuboA.reset();
        audioAbierto = false;
        r = std::move(reparto);
        reparto.reset();
    }
    if (r) {
        // The encoder normally ends the uplink through its reader; this is the backstop for a
        // reader still waiting on an encoder that never finishes.
        enGlobalDespues(9, [r, enMarcha = lectores.enMarcha()] {
            for (auto& lector : enMarcha) lector->cortar = true;
            r->terminar();
        });
    }
    if (!estaba) return;
    bitacoraDepurar(depuracion());
    escV.asincrono([hijo] {
        if (hijo) hijo->cerrarEntrada();  // end of video for the encoder
    });
    cerrarAudio(audio, nullptr);
    if (hijo) {
        enGlobalDespues(6, [hijo] { hijo->terminar(2); });
    }
    bitacora("transmisión detenida");
}

void Motor::transmitirCuadro(const Cuadro& programa) {
    std::shared_ptr<Hijo> hijo;
    Tiempos::Colocacion c;
    std::int64_t primero;
    int ancho, alto, cps;
    {
        std::lock_guard l(candado);
        if (!vivo || !std::isfinite(programa.hora)) return;
        auto o = tiempos.origen(programa.hora, programa.duracion, programa.ancho, programa.alto, programa.planos(),
                                microfonoAbierto, ahora(), entorno().tiene(Tm::depurar));
        for (auto& linea : o.bitacora) bitacora(linea);
        if (o.soltar) return;
        if (o.arrancar) arrancarFfmpeg();
        c = tiempos.colocar(programa.hora, arrancado, proceso != nullptr, reparto && reparto->cortado());
        for (auto& linea : c.bitacora) bitacora(linea);
        if (c.copias <= 0) return;
        hijo = proceso;
        primero = tiempos.escritosV - c.copias;
        ancho = tiempos.formato.ancho;
        alto = tiempos.formato.alto;
        cps = tiempos.formato.cps;
    }
    const std::size_t bytes = std::size_t(ancho) * alto * 3 / 2;
    // Every byte is written by the packing: no need to clear megabytes first.
    std::shared_ptr<std::uint8_t[]> empacado = std::make_shared_for_overwrite<std::uint8_t[]>(bytes);
    empacarNv12(programa.y(), programa.pasoY, programa.alto, programa.uv(), programa.pasoUV, programa.alto / 2,
                ancho, alto, empacado.get());
    escV.asincrono([this, hijo, empacado, bytes, copias = c.copias] { escribirVideo(hijo, empacado, bytes, copias); });
    if (!c.silencio) return;
    // No microphone: silence for each copy, carrying the screen's own sound. It goes straight to the
    // audio queue, behind the FIFO's opening: the encoder reads its inputs' first packets in turn,
    // so silence held back until a frame's write ended could leave the encoder and this writer
    // waiting on each other.
    const std::size_t porCopia = std::size_t(48000 / cps) * 4;
    auto silencio = std::make_shared<std::vector<std::uint8_t>>(std::size_t(c.copias) * porCopia);
    compositor.mezclar(*silencio, true);
    std::lock_guard l(candado);
    std::optional<std::size_t> antes;
    // A handover switches this audio at its switch frame: the copies before it are the old encoder's.
    if (relevoPend && !relevoPend->audioPaso && relevoPend->cuadro < primero + c.copias)
        antes = std::size_t(std::clamp<std::int64_t>(relevoPend->cuadro - primero, 0, c.copias)) * porCopia;
    encaminarAudio(silencio, antes);
}

void Motor::escribirVideo(std::shared_ptr<Hijo> hijo, std::shared_ptr<std::uint8_t[]> cuadro, std::size_t bytes,
                          int copias) {
    std::string error;
    for (int i = 0; i < copias && hijo->entrada() >= 0; ++i) {
        if (!escribirTodo(hijo->entrada(), cuadro.get(), bytes, &error)) {
            bitacoraDepurar("escritura de video falló: " + error);
            break;
        }
    }
    std::lock_guard l(candado);
    tiempos.videoEscrito();
}

void Motor::encaminarAudio(std::shared_ptr<std::vector<std::uint8_t>> bytes, std::optional<std::size_t> antes) {
    if (antes && relevoPend && !relevoPend->audioPaso) {
        auto viejo = pasarAudio(*relevoPend);
        auto resto = std::make_shared<std::vector<std::uint8_t>>(bytes->begin() + std::ptrdiff_t(*antes), bytes->end());
        bytes->resize(*antes);
        cerrarAudio(viejo, bytes);
        bytes = resto;
    }
    if (relevoPend && relevoPend->audioPaso && !relevoPend->abierto) {
        // The new encoder has not opened its audio yet: held until it does.
        relevoPend->colaA.insert(relevoPend->colaA.end(), bytes->begin(), bytes->end());
        return;
    }
    if (tuboA && !bytes->empty()) escA.asincrono([tubo = tuboA, bytes] {
        if (tubo->fd >= 0) escribirTodo(tubo->fd, bytes->data(), bytes->size(), nullptr);  // errors are ignored
    });
}

void Motor::cerrarAudio(std::shared_ptr<TuboAudio> tubo, std::shared_ptr<std::vector<std::uint8_t>> resto) {
    if (!tubo) return;
    escA.asincrono([tubo, resto] {
        if (resto && tubo->fd >= 0) escribirTodo(tubo->fd, resto->data(), resto->size(), nullptr);
        tubo->cerrar();  // end of audio for its encoder
    });
}

Motor::Figuras Motor::figuras() const {
    std::lock_guard l(candado);
    Figuras f;
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
    f.cps = tiempos.formato.cps;
    f.hz = tiempos.formato.hz;
    f.ritmo = progreso.ritmo;
    f.cpsCompresor = progreso.cps;
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
