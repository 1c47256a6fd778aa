// The engine's uplink: creating it for a transmission, the readers that feed it, the relay's cut,
// and the handover to a new encoder at another bit rate without a gap or a second header.
#include "engine/motor.h"

#include "comun/bitacora.h"
#include "comun/config.h"
#include "comun/principal.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "uplink/protocolo.h"
#include "uplink/reparto.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace tt {

std::shared_ptr<Reparto> Motor::crearReparto(const Config& config, std::string* entrada) {
    *entrada = paseKick ? paseKick->entrada : config.entrada.value_or("");
    if (entrada->empty()) return nullptr;
    auto r = Reparto::crear(*entrada, config.clave.value_or(""), destinoKick, respaldoKick, paseKick);
    if (!r) return nullptr;
    std::weak_ptr<Reparto> debil = r;
    r->fijarAlCortar(siSigue([this, debil](const std::string& razon) {
        {
            std::lock_guard l(candado);
            if (!vivo || !reparto || reparto != debil.lock()) return;
            cortoElServidor = true;
        }
        detener();
        enPrincipal(siSigue([this, texto = protocolo::textoCorte(razon)] {
            if (alFallar) alFallar(texto);
        }));
    }));
    return r;
}

Salida Motor::salidaHacia(const std::shared_ptr<Reparto>& r) {
    Salida s;
    s.enviar = [r](std::string pieza) { r->enviar(std::move(pieza)); };
    s.terminar = [r] { r->terminar(); };
    return s;
}

bool Motor::cambiarCalidad(int kbps, bool urgente) {
    std::lock_guard l(candado);
    if (!vivo || !arrancado || tiempos.enPausa || !reparto || relevoPend || kbps == kbpsEnUso || !tiempos.t0 ||
        !proceso || kbps <= 0)
        return false;
    ++serie;
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(serie);
    const std::string fifoA = nuevaFifo(prefijo + "-audio.fifo");
    const std::string fifoS = nuevaFifo(prefijo + "-salida.fifo");
    auto fallar = [&](const std::string& error) {
        for (auto& ruta : {fifoA, fifoS})
            if (!ruta.empty()) ::unlink(ruta.c_str());
        bitacora("calidad: no arrancó el compresor nuevo: " + error);
        return false;
    };
    if (fifoA.empty() || fifoS.empty()) return fallar("no se pudo crear una FIFO");

    const FormatoFlujo& f = tiempos.formato;
    const std::int64_t o = cuadroDeRelevo(tiempos.escritosV, ahora(), *tiempos.t0, f.cps);
    tiempos.escritosV = o;
    auto anterior = lectores.actual();
    std::optional<std::uint32_t> ultimoMs;
    if (anterior) ultimoMs = anterior->ultimoMs.load();
    // The first encoder's picture starts wherever its muxer put it (off zero when the audio's
    // priming frame would be negative); later ones start exactly at their offset.
    if (cuadroBase == 0 && anterior && anterior->primerVideoMs.load() >= 0)
        desfase = double(anterior->primerVideoMs.load()) / 1000;
    desfase = desfaseDeRelevo(urgente, ultimoMs, o, cuadroBase, f.cps, desfase);
    cuadroBase = o;

    const std::string ffmpeg = (recursos() / "ffmpeg").string();
    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = ordenCompleta(f, kbps, leerConfig().preset, fifoA, {SalidaCompresor::fifo, fifoS, desfase},
                                 av1EnFlv(ffmpeg));
    a.errores = (carpetaLog() / "ffmpeg.log").string();
    a.anexarErrores = true;
    std::string error;
    auto hijo = lanzar(a, &error);
    if (!hijo) return fallar(error);

    lectores.arrancar(fifoS, salidaHacia(reparto), true);
    auto viejo = std::move(proceso);
    proceso = hijo;
    bytesPrevios += progreso.totalBytes;
    Progreso nuevo;
    nuevo.ritmo = progreso.ritmo;
    nuevo.cps = progreso.cps;
    progreso = nuevo;
    kbpsEnUso = kbps;
    ++cambiosCalidad;
    if (urgente) {
        if (anterior) anterior->cortar = true;  // stops before its next tag
        viejo->terminar(2);
    }
    // The old encoder sees the end of its input after the frames already queued for it.
    escV.asincrono([viejo] { viejo->cerrarEntrada(); });

    auto r = std::make_shared<Relevo>();
    r->fifoA = fifoA;
    r->cuadro = o;
    r->muestra = muestraDeRelevo(f.hz, o, f.cps);
    relevoPend = r;
    // Without a microphone the video path switches the audio at the switch frame itself, in order
    // with the silence it makes; a microphone's audio switches at the matching sample.
    if (urgente) {
        cerrarAudio(pasarAudio(*r), nullptr);
    } else {
        // A silent microphone cannot hold the handover open.
        std::weak_ptr<Relevo> debil = r;
        enGlobalDespues(1, siSigue([this, debil] {
            std::lock_guard l(candado);
            auto r = debil.lock();
            if (r && relevoPend == r && !r->audioPaso) cerrarAudio(pasarAudio(*r), nullptr);
        }));
    }
    try {
        std::thread([this, r, hijo, p = std::weak_ptr<Presencia>(presencia)] { abrirRelevo(r, hijo, p); }).detach();
    } catch (const std::system_error&) {
        bitacora("calidad: no se pudo crear el hilo del audio nuevo");
    }

    bitacora("calidad: relevo de compresor en el cuadro " + std::to_string(o) + "; ahora " + std::to_string(kbps) +
             " kbps" + (urgente ? " (lo atorado del anterior se tira)" : ""));
    return true;
}

// On its own thread: opens the new encoder's audio FIFO once it reads it. The open is retried
// without blocking, so a stop, an encoder that ends or an engine that goes releases this thread at
// once; the engine is touched only while it still exists.
void Motor::abrirRelevo(std::shared_ptr<Relevo> r, std::shared_ptr<Hijo> hijo, std::weak_ptr<Presencia> p) {
    auto conMotor = [&](auto fn) {
        auto vivo = p.lock();
        if (!vivo) return false;
        std::lock_guard lp(vivo->candado);
        if (!vivo->sigue) return false;
        std::lock_guard l(candado);
        return fn();
    };
    auto tubo = std::make_shared<TuboAudio>(r->fifoA);
    for (;;) {
        tubo->fd = ::open(tubo->fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (tubo->fd >= 0 || (errno != ENXIO && errno != EINTR) || hijo->terminado()) break;
        if (!conMotor([&] { return relevoPend == r; })) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (tubo->fd >= 0) ::fcntl(tubo->fd, F_SETFL, ::fcntl(tubo->fd, F_GETFL) & ~O_NONBLOCK);
    const bool tomado = tubo->fd >= 0 && conMotor([&] {
        if (relevoPend != r) return false;
        r->tuboA = tubo;
        r->abierto = true;
        if (r->audioPaso) {
            // Audio already moved: what waited goes first, then the handover is complete.
            tuboA = tubo;
            audioAbierto = true;
            relevoPend.reset();
            auto cola = std::make_shared<std::vector<std::uint8_t>>(std::move(r->colaA));
            if (!cola->empty()) escA.asincrono([tubo, cola] { escribirTodo(tubo->fd, cola->data(), cola->size(), nullptr); });
        }
        return true;
    });
    // Cancelled, the encoder gone, or the engine gone: nothing is left open or on disk.
    if (!tomado) tubo->cerrar();
}

std::shared_ptr<TuboAudio> Motor::pasarAudio(Relevo& r) {
    auto viejo = std::move(tuboA);
    tuboA = r.tuboA;  // nothing until the new FIFO opens; audio waits in the handover meanwhile
    audioAbierto = r.abierto;
    r.audioPaso = true;
    if (r.abierto) relevoPend.reset();
    return viejo;
}

void Motor::cancelarRelevo() {
    auto r = std::move(relevoPend);
    relevoPend.reset();
    // An opened FIFO whose audio never moved is closed here; one not opened yet is closed by its
    // opening thread, which sees the handover is gone.
    if (r && r->abierto && !r->audioPaso) cerrarAudio(r->tuboA, nullptr);
}

std::shared_ptr<Reparto> Motor::repartoActual() const {
    std::lock_guard l(candado);
    return reparto;
}

std::optional<Resumen> Motor::redesUnidas() {
    auto r = repartoActual();
    if (!r) return std::nullopt;
    return r->resumen();
}

std::vector<Json> Motor::enlaces() {
    auto r = repartoActual();
    return r ? r->detalle() : std::vector<Json>{};
}

std::optional<Presion> Motor::tomarPresion() {
    auto r = repartoActual();
    if (!r) return std::nullopt;
    return r->tomarPresion();
}

void Motor::sondear(int kbps, double segundos) {
    if (auto r = repartoActual()) r->sondear(kbps, segundos);
}

std::optional<Sondeo> Motor::sondeo() {
    auto r = repartoActual();
    if (!r) return std::nullopt;
    return r->sondeo();
}

bool Motor::hayReparto() const { return repartoActual() != nullptr; }

bool Motor::cortado() const {
    std::lock_guard l(candado);
    return vivo && tiempos.enPausa;
}

int Motor::kbps() const {
    std::lock_guard l(candado);
    return kbpsEnUso;
}

}  // namespace tt
