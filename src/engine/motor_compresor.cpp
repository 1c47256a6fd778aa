// The encoder side of the engine: arming a transmission, starting the encoder on the first usable
// frame, placing frames and samples on the stream's clock, writing the pipes, and stopping.
#include "engine/motor.h"

#include "comun/config.h"
#include "comun/bitacora.h"
#include "comun/principal.h"
#include "comun/proceso.h"
#include "comun/reloj.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace tt {

namespace {

// An RTMP URL's last path element is the stream key: never write it to the log.
std::string sinClave(const std::string& url) {
    auto barra = url.rfind('/');
    auto esquema = url.find("://");
    if (barra == std::string::npos || esquema == std::string::npos || barra <= esquema + 2) return url;
    return url.substr(0, barra + 1) + "…";
}

bool escribirTodo(int fd, const std::uint8_t* datos, std::size_t n, std::string* error) {
    std::size_t hecho = 0;
    while (hecho < n) {
        ssize_t r = ::write(fd, datos + hecho, n - hecho);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (error) *error = std::strerror(errno);
            return false;
        }
        hecho += std::size_t(r);
    }
    return true;
}

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

void Motor::arrancarFfmpeg() {
    Config config = leerConfig();
    kbpsEnUso = config.kbps;
    ++serie;
    progreso = Progreso();
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(serie);
    fifo = nuevaFifo(prefijo + "-audio.fifo");

    SalidaCompresor salida;
    if (destinoArchivo) salida.caso = SalidaCompresor::archivo;
    else salida = {SalidaCompresor::servidor, config.servidor};  // the uplink's FIFO case comes with the uplink
    const std::string ffmpeg = (recursos() / "ffmpeg").string();
    const bool av1 = salida.caso == SalidaCompresor::archivo || av1EnFlv(ffmpeg);

    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = ordenCompleta(tiempos.formato, kbpsEnUso, config.preset, fifo, salida, av1);
    // The encoder's own messages go to ffmpeg.log, emptied first; without it they are not kept.
    const std::string log = (carpetaLog() / "ffmpeg.log").string();
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        a.errores = log;
    }
    std::string error;
    auto hijo = fifo.empty() ? nullptr : Hijo::lanzar(a, &error);
    if (!hijo) {
        if (fifo.empty()) error = "no se pudo crear la FIFO de audio";
        bitacora("no arrancó ffmpeg: " + error);
        if (!fifo.empty()) ::unlink(fifo.c_str());
        fifo.clear();
        vivo = false;
        enPrincipal(siSigue([this] {
            if (alFallar) alFallar("No arrancó el compresor.");
        }));
        return;
    }
    proceso = hijo;
    arrancado = true;
    std::weak_ptr<Hijo> debil = hijo;
    hijo->vigilar(siSigue([this, debil](std::string_view datos) {
                      std::lock_guard l(candado);
                      if (proceso && proceso == debil.lock()) progreso.datos(datos, ahora());
                  }),
                  siSigue([this, debil](int estado) {
                      if (auto h = debil.lock()) vigilar(h, estado);
                      else bitacora("ffmpeg terminó (" + std::to_string(estado) + ")");
                  }));
    escA.asincrono([this, hijo, ruta = fifo] { abrirAudio(hijo, ruta); });

    const auto& f = tiempos.formato;
    char linea[256];
    std::snprintf(linea, sizeof linea, "transmisión: %dx%d@%d, audio %g Hz %d canales %s, %d kbps preset %d → ",
                  f.ancho, f.alto, f.cps, f.hz, f.canales, textoFormato(f).c_str(), kbpsEnUso, config.preset);
    bitacora(linea + (destinoArchivo ? std::string("archivo") : sinClave(config.servidor)));
}

// On escA: opens the audio FIFO once the encoder reads it. Never blocks for good: it gives up when
// the encoder ends or is no longer this transmission's.
void Motor::abrirAudio(std::shared_ptr<Hijo> hijo, std::string ruta) {
    int fd = -1;
    while (fd < 0) {
        fd = ::open(ruta.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) break;
        if (errno != ENXIO && errno != EINTR) return;
        {
            std::lock_guard l(candado);
            if (proceso != hijo) return;
        }
        if (hijo->terminado()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::lock_guard l(candado);
    if (proceso == hijo && tuboA < 0) tuboA = fd;
    else ::close(fd);
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
    int audio = -1;
    std::string ruta;
    bool estaba;
    {
        std::lock_guard l(candado);
        estaba = vivo;
        vivo = false;
        arrancado = false;
        hijo = std::move(proceso);
        proceso.reset();
        audio = tuboA;
        tuboA = -1;
        ruta = std::move(fifo);
        fifo.clear();
    }
    if (!estaba) return;
    bitacoraDepurar(depuracion());
    escV.asincrono([hijo] {
        if (hijo) hijo->cerrarEntrada();  // end of video for the encoder
    });
    escA.asincrono([audio, ruta] {
        if (audio >= 0) ::close(audio);
        if (!ruta.empty()) ::unlink(ruta.c_str());
    });
    if (hijo) {
        enGlobalDespues(6, [hijo] { hijo->terminar(2); });
    }
    bitacora("transmisión detenida");
}

void Motor::transmitirCuadro(const Cuadro& programa) {
    const double ahoraMismo = ahora();
    std::shared_ptr<Hijo> hijo;
    Tiempos::Colocacion c;
    int ancho, alto, cps;
    {
        std::lock_guard l(candado);
        if (!vivo || !std::isfinite(programa.hora)) return;
        auto o = tiempos.origen(programa.hora, programa.duracion, programa.ancho, programa.alto, programa.planos(),
                                microfonoAbierto, ahoraMismo, entorno().tiene(Tm::depurar));
        for (auto& linea : o.bitacora) bitacora(linea);
        if (o.soltar) return;
        if (o.arrancar) arrancarFfmpeg();
        c = tiempos.colocar(programa.hora, ahoraMismo, arrancado, proceso != nullptr, std::nullopt);
        for (auto& linea : c.bitacora) bitacora(linea);
        if (c.copias <= 0) return;
        hijo = proceso;
        ancho = tiempos.formato.ancho;
        alto = tiempos.formato.alto;
        cps = tiempos.formato.cps;
    }
    auto empacado = std::make_shared<std::vector<std::uint8_t>>(std::size_t(ancho) * alto * 3 / 2);
    empacarNv12(programa.y(), programa.pasoY, programa.alto, programa.uv(), programa.pasoUV, programa.alto / 2,
                ancho, alto, empacado->data());
    std::shared_ptr<std::vector<std::uint8_t>> silencio;
    if (c.silencio) {
        // No microphone: silence for each copy, carrying the screen's own sound.
        silencio = std::make_shared<std::vector<std::uint8_t>>(std::size_t(c.copias) * (48000 / cps) * 4);
        compositor.mezclar(*silencio, true);
    }
    escV.asincrono([this, hijo, empacado, copias = c.copias] { escribirVideo(hijo, empacado, copias); });
    // The silence goes straight to the audio queue, behind the FIFO's opening: the encoder reads
    // its inputs' first packets in turn, so silence held back until a frame's write ended could
    // leave the encoder and this writer waiting on each other.
    if (silencio) escA.asincrono([this, silencio] { escribirAudio(silencio); });
}

void Motor::escribirVideo(std::shared_ptr<Hijo> hijo, std::shared_ptr<std::vector<std::uint8_t>> cuadro, int copias) {
    std::string error;
    for (int i = 0; i < copias && hijo->entrada() >= 0; ++i) {
        if (!escribirTodo(hijo->entrada(), cuadro->data(), cuadro->size(), &error)) {
            bitacoraDepurar("escritura de video falló: " + error);
            break;
        }
    }
    std::lock_guard l(candado);
    tiempos.videoEscrito();
}

void Motor::escribirAudio(std::shared_ptr<std::vector<std::uint8_t>> bytes) {
    int fd;
    {
        std::lock_guard l(candado);
        fd = tuboA;  // only escA closes it, so it stays open while this job runs
    }
    if (fd >= 0) escribirTodo(fd, bytes->data(), bytes->size(), nullptr);  // audio errors are ignored
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
