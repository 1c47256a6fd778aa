// The engine's uplink: creating it for a transmission, the readers that feed it, the relay's cut,
// and the handover to a new encoder at another bit rate without a gap or a second header.
#include "engine/motor.h"

#include "comun/bitacora.h"
#include "comun/config.h"
#include "principal/principal.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "protocolo/protocolo.h"
#include "uplink/publicador.h"
#include "uplink/reparto.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tt {

// The relay's cut of this transmission's uplink. Compared by address, so the callback never holds
// the uplink it belongs to.
std::function<void(const std::string&)> Motor::alCortarDe(const Reparto* cual) {
    return siSigue([this, cual](const std::string& razon) {
        {
            Cambio l(*this);
            if (!vivo || !reparto || reparto.get() != cual) return;
            cortoElServidor = true;
        }
        detener();
        fallar(protocolo::textoCorte(razon));
    });
}

Salida Motor::salidaHacia(const std::shared_ptr<Reparto>& r) {
    Salida s;
    s.enviar = [r](std::string pieza) { r->enviar(std::move(pieza)); };
    s.terminar = [r] { r->terminar(); };
    return s;
}

Salida Motor::salidaHacia(const std::shared_ptr<Publicador>& p) {
    Salida s;
    s.enviar = [p](std::string pieza) { p->poner(pieza); };
    s.terminar = [p] { p->terminar(); };
    return s;
}

bool Motor::cambiarCalidad(int kbps, bool urgente) { return relevar(kbps, urgente, false); }

bool Motor::renovarCompresor() { return relevar(0, false, true); }

bool Motor::relevar(int kbps, bool urgente, bool mismaTasa) {
    // Decided under the lock: the switch frame, the new encoder's time offset, and what the audio
    // and video paths do until it runs.
    std::shared_ptr<Relevo> r;
    std::shared_ptr<Reparto> uplink;
    std::shared_ptr<Lector> anterior;
    FormatoFlujo formato;
    int esta, suSerie;
    double suDesfase;
    {
        Cambio l(*this);
        if (mismaTasa) kbps = kbpsEnUso;
        if (!vivo || !arrancado || tiempos.enPausa || !reparto || relevoPend || (kbps == kbpsEnUso && !mismaTasa) ||
            !tiempos.t0 || !proceso || kbps <= 0)
            return false;
        suSerie = ++serie;
        esta = transmision;
        formato = tiempos.formato;
        const std::int64_t o = cuadroDeRelevo(tiempos.escritosV, ahora(), *tiempos.t0, formato.cps);
        tiempos.escritosV = o;
        anterior = lectores.actual();
        std::optional<std::uint32_t> ultimoMs;
        if (anterior) ultimoMs = anterior->ultimoMs.load();
        // The first encoder's picture starts wherever its muxer put it (off zero when the audio's
        // priming frame would be negative); later ones start exactly at their offset.
        if (cuadroBase == 0 && anterior && anterior->primerVideoMs.load() >= 0)
            desfase = double(anterior->primerVideoMs.load()) / 1000;
        desfase = desfaseDeRelevo(urgente, ultimoMs, o, cuadroBase, formato.cps, desfase);
        cuadroBase = o;
        suDesfase = desfase;
        r = std::make_shared<Relevo>();
        r->cuadro = o;
        r->muestra = muestraDeRelevo(formato.hz, o, formato.cps);
        // Urgent: everything from now on is the new encoder's; the old one's audio ends at the launch.
        r->retenido = urgente;
        relevoPend = r;
        uplink = reparto;
    }

    // Done without the lock, on this thread.
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(suSerie);
    const std::string fifoA = nuevaFifo(prefijo + "-audio.fifo");
    const std::string fifoS = nuevaFifo(prefijo + "-salida.fifo");
    std::shared_ptr<Hijo> hijo;
    std::string error = fifoA.empty() || fifoS.empty() ? "no se pudo crear una FIFO" : "";
    if (error.empty()) {
        const std::string ffmpeg = (recursos() / "ffmpeg").string();
        Hijo::Arranque a;
        a.ejecutable = ffmpeg;
        // The uplink's first encoder waited for the answer, so it is known here.
        a.argumentos = ordenCompleta(formato, kbps, leerConfig().preset, fifoA, {SalidaCompresor::fifo, fifoS, suDesfase},
                                     av1.resultado().value_or(false));
        a.errores = (carpetaLog() / "ffmpeg.log").string();  // appended to; left out if it cannot be opened
        a.anexarErrores = true;
        hijo = Hijo::lanzar(a, &error);
    }
    if (!hijo) {
        for (auto& ruta : {fifoA, fifoS})
            if (!ruta.empty()) ::unlink(ruta.c_str());
        {
            Cambio l(*this);
            if (relevoPend == r) abandonarRelevo(*r);
        }
        bitacora("calidad: no arrancó el compresor nuevo: " + error);
        return false;
    }
    auto lector = lectores.arrancar(fifoS, salidaHacia(uplink), true);

    // Published under the lock, if the transmission did not stop meanwhile.
    std::shared_ptr<Hijo> viejo;
    bool suyo;
    {
        Cambio l(*this);
        suyo = vivo && transmision == esta && relevoPend == r;
        if (suyo) {
            viejo = std::move(proceso);
            proceso = hijo;
            bytesPrevios += progreso.totalBytes;
            Progreso nuevo;
            nuevo.ritmo = progreso.ritmo;
            nuevo.cps = progreso.cps;
            progreso = nuevo;
            kbpsEnUso = kbps;
            if (!mismaTasa) ++cambiosCalidad;
            r->lanzado = true;
            if (urgente && anterior) anterior->cortar = true;  // stops before its next tag
            // The old encoder sees the end of its input after the frames already queued for it.
            escV.asincrono([viejo] { viejo->cerrarEntrada(); });
            if (r->retenido) {
                // What waited goes to the new encoder once its FIFO opens; the old one's audio ends.
                r->retenido = false;
                cerrarAudio(pasarAudio(*r), nullptr);
            }
        }
    }
    vigilarHijo(hijo, esta);
    if (!suyo) {
        // Stopped while launching: nothing of it stays.
        hijo->cerrarEntrada();
        hijo->terminar(1);
        lector->cortar = true;
        ::unlink(fifoA.c_str());
        return false;
    }
    if (urgente) viejo->terminar(2);
    if (!urgente) {
        // Without a microphone the video path switches the audio at the switch frame itself, in
        // order with the silence it makes; a microphone's audio switches at the matching sample,
        // and a silent microphone cannot hold the handover open for more than a second.
        std::weak_ptr<Relevo> debil = r;
        enGlobalDespues(1, siSigue([this, debil] {
            Cambio l(*this);
            auto r = debil.lock();
            if (r && relevoPend == r && r->antesDelCorte()) cerrarAudio(pasarAudio(*r), nullptr);
        }));
    }
    if (!hilos.lanzar(esta, [this, r, hijo, fifoA, p = std::weak_ptr<Presencia>(presencia)] {
            abrirRelevo(r, hijo, fifoA, p);
        })) {
        bitacora("calidad: no se pudo crear el hilo del audio nuevo");
        ::unlink(fifoA.c_str());
    }

    if (mismaTasa)
        bitacora("compresor nuevo en el cuadro " + std::to_string(r->cuadro) + ": el flujo sigue desde un cuadro clave");
    else
        bitacora("calidad: relevo de compresor en el cuadro " + std::to_string(r->cuadro) + "; ahora " +
                 std::to_string(kbps) + " kbps" + (urgente ? " (lo atorado del anterior se tira)" : ""));
    return true;
}

// On its own thread: opens the new encoder's audio FIFO once it reads it. The open is retried
// without blocking, so a stop, an encoder that ends or an engine that goes releases this thread at
// once; the engine is touched only while it still exists.
void Motor::abrirRelevo(std::shared_ptr<Relevo> r, std::shared_ptr<Hijo> hijo, std::string fifo,
                        std::weak_ptr<Presencia> p) {
    auto conMotor = [&](auto fn) {
        auto vivo = p.lock();
        if (!vivo) return false;
        std::lock_guard lp(vivo->candado);
        if (!vivo->sigue) return false;
        Cambio l(*this);
        return fn();
    };
    auto tubo = std::make_shared<TuboAudio>(fifo);
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

// The new encoder could not be launched: the old one keeps the stream, with the audio held for the
// new one handed back in order.
void Motor::abandonarRelevo(Relevo& r) {
    relevoPend.reset();
    if (!r.retenido || r.colaA.empty() || !tuboA) return;
    auto cola = std::make_shared<std::vector<std::uint8_t>>(std::move(r.colaA));
    escA.asincrono([tubo = tuboA, cola] {
        if (tubo->fd >= 0) escribirTodo(tubo->fd, cola->data(), cola->size(), nullptr);
    });
}

std::shared_ptr<Reparto> Motor::repartoActual() const {
    std::lock_guard l(candadoVista);
    return vista.reparto;
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
    std::lock_guard l(candadoVista);
    return vista.figuras.vivo && vista.enPausa;
}

int Motor::kbps() const {
    std::lock_guard l(candadoVista);
    return vista.figuras.kbpsEnUso;
}

}  // namespace tt
