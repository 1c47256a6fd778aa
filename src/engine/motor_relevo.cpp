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
    PlanRelevo plan;
    {
        Cambio l(*this);
        if (mismaTasa) kbps = kbpsEnUso;
        if (!vivo || !arrancado || tiempos.enPausa || !reparto || relevoPend || (kbps == kbpsEnUso && !mismaTasa) ||
            !tiempos.t0 || !proceso || kbps <= 0)
            return false;
        plan.serie = ++serie;
        plan.transmision = transmision;
        plan.formato = tiempos.formato;
        plan.kbps = kbps;
        plan.kbpsAntes = kbpsEnUso;
        plan.urgente = urgente;
        plan.mismaTasa = mismaTasa;
        const int cps = plan.formato.cps;
        const auto punto = cuadroDeRelevo(tiempos.escritosV, ahora(), *tiempos.t0, cps);
        const std::int64_t o = punto.cuadro;
        tiempos.escritosV = o;
        plan.relleno = urgente ? 0 : punto.relleno;
        plan.anterior = lectores.actual();
        std::optional<std::uint32_t> ultimoMs;
        if (plan.anterior) ultimoMs = plan.anterior->ultimoMs.load();
        // The first encoder's picture starts wherever its muxer put it (off zero when the audio's
        // priming frame would be negative); later ones start exactly at their offset.
        if (cuadroBase == 0 && plan.anterior && plan.anterior->primerVideoMs.load() >= 0)
            desfase = double(plan.anterior->primerVideoMs.load()) / 1000;
        desfase = desfaseDeRelevo(urgente, ultimoMs, o, cuadroBase, cps, desfase);
        cuadroBase = o;
        plan.desfase = desfase;
        // Urgent: everything from now on is the new encoder's; the old one's audio ends at the launch.
        plan.r = std::make_shared<Relevo>(o, muestraDeRelevo(plan.formato.hz, o, cps), urgente);
        relevoPend = plan.r;
        plan.uplink = reparto;
    }
    // FIFOs and a process launch are system calls that may take long on a loaded machine: frames
    // past the switch wait in the handover meanwhile, and no caller waits.
    colaArranque.asincrono([this, plan] { lanzarRelevo(plan); });
    return true;
}

// On colaArranque, without the lock; published under it if the handover is still the pending one.
void Motor::lanzarRelevo(const PlanRelevo& plan) {
    const auto& r = plan.r;
    const bool urgente = plan.urgente;
    const std::string prefijo = "tm-" + std::to_string(::getpid()) + "-" + std::to_string(plan.serie);
    const std::string fifoA = nuevaFifo(prefijo + "-audio.fifo");
    const std::string fifoS = nuevaFifo(prefijo + "-salida.fifo");
    std::shared_ptr<Hijo> hijo;
    std::string error = fifoA.empty() || fifoS.empty() ? "no se pudo crear una FIFO" : "";
    if (error.empty()) {
        const std::string ffmpeg = (recursos() / "ffmpeg").string();
        Hijo::Arranque a;
        a.ejecutable = ffmpeg;
        // The uplink's first encoder waited for the answer, so it is known here.
        a.argumentos = ordenCompleta(plan.formato, plan.kbps, leerConfig().preset, fifoA,
                                     {SalidaCompresor::fifo, fifoS, plan.desfase}, av1.resultado().value_or(false));
        a.errores = (carpetaLog() / "ffmpeg.log").string();  // appended to; left out if it cannot be opened
        a.anexarErrores = true;
        hijo = Hijo::lanzar(a, &error);
    }
    if (!hijo) {
        for (auto& ruta : {fifoA, fifoS})
            if (!ruta.empty()) ::unlink(ruta.c_str());
        bool suyo;
        {
            Cambio l(*this);
            suyo = relevoPend == r;
            // The old encoder keeps the stream, with the audio held for the new one handed back.
            if (suyo) {
                cumplirRelevo(r->alFallar());
                relevoPend.reset();
                tuboRelevo.reset();
            }
        }
        bitacora("calidad: no arrancó el compresor nuevo: " + error);
        if (suyo && !plan.mismaTasa)
            enPrincipal(siSigue([this, k = plan.kbpsAntes] {
                if (alNoRelevar) alNoRelevar(k);
            }));
        return;
    }
    auto lector = lectores.arrancar(fifoS, salidaHacia(plan.uplink), true);

    // Published under the lock, if the transmission did not stop meanwhile.
    std::shared_ptr<Hijo> viejo;
    bool suyo;
    {
        Cambio l(*this);
        suyo = vivo && transmision == plan.transmision && relevoPend == r;
        if (suyo) {
            viejo = std::move(proceso);
            proceso = hijo;
            bytesPrevios += progreso.totalBytes;
            Progreso nuevo;
            nuevo.ritmo = progreso.ritmo;
            nuevo.cps = progreso.cps;
            progreso = nuevo;
            kbpsEnUso = plan.kbps;
            if (!plan.mismaTasa) ++cambiosCalidad;
            if (urgente && plan.anterior) plan.anterior->cortar = true;  // stops before its next tag
            // The old encoder sees the end of its input after the frames already queued for it and
            // the repeats that carry its picture to the switch.
            const std::size_t bytes = bytesNv12(plan.formato.ancho, plan.formato.alto);
            escV.asincrono([this, viejo, bytes, n = plan.relleno] {
                for (int i = 0; i < n && ultimoV && bytesUltimoV == bytes && viejo->entrada() >= 0; ++i)
                    if (!escribirTodo(viejo->entrada(), ultimoV.get(), bytes, nullptr)) break;
                viejo->cerrarEntrada();
            });
            cumplirRelevo(r->alLanzar());
        }
    }
    vigilarHijo(hijo, plan.transmision);
    if (!suyo) {
        // Stopped while launching: nothing of it stays.
        hijo->cerrarEntrada();
        hijo->terminar(1);
        lector->cortar = true;
        ::unlink(fifoA.c_str());
        return;
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
            if (r && relevoPend == r) cumplirRelevo(r->alVencer());
        }));
    }
    if (!hilos.lanzar(plan.transmision, [this, r, hijo, fifoA, p = std::weak_ptr<Presencia>(presencia)] {
            abrirRelevo(r, hijo, fifoA, p);
        })) {
        bitacora("calidad: no se pudo crear el hilo del audio nuevo");
        ::unlink(fifoA.c_str());
    }

    if (plan.mismaTasa)
        bitacora("compresor nuevo en el cuadro " + std::to_string(r->cuadro) + ": el flujo sigue desde un cuadro clave");
    else
        bitacora("calidad: relevo de compresor en el cuadro " + std::to_string(r->cuadro) + "; ahora " +
                 std::to_string(plan.kbps) + " kbps" + (urgente ? " (lo atorado del anterior se tira)" : ""));
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
        tuboRelevo = tubo;
        cumplirRelevo(r->alAbrir());
        return true;
    });
    // Cancelled, the encoder gone, or the engine gone: nothing is left open or on disk.
    if (!tomado) tubo->cerrar();
}

// The old encoder's audio is tuboA until the switch; from the switch tuboA is the new FIFO, which
// is nothing until it opens (the handover holds the audio meanwhile).
void Motor::cumplirRelevo(Relevo::Paso p) {
    auto aParte = [](std::vector<std::uint8_t>& v) {
        return v.empty() ? nullptr : std::make_shared<std::vector<std::uint8_t>>(std::move(v));
    };
    auto escribir = [this](const std::shared_ptr<TuboAudio>& tubo, std::shared_ptr<std::vector<std::uint8_t>> b) {
        if (tubo && b) escA.asincrono([tubo, b] {
            if (tubo->fd >= 0) escribirTodo(tubo->fd, b->data(), b->size(), nullptr);
        });
    };
    if (p.cerrarViejo) {
        cerrarAudio(std::move(tuboA), aParte(p.alViejo));
        tuboA = tuboRelevo;
        audioAbierto = tuboRelevo != nullptr;
    } else {
        escribir(tuboA, aParte(p.alViejo));
    }
    escribir(tuboRelevo, aParte(p.alNuevo));
    if (!p.completo) return;
    tuboA = std::move(tuboRelevo);
    tuboRelevo.reset();
    audioAbierto = true;
    relevoPend.reset();
}

void Motor::cancelarRelevo() {
    auto r = std::move(relevoPend);
    relevoPend.reset();
    auto tubo = std::move(tuboRelevo);
    tuboRelevo.reset();
    // An opened FIFO whose audio never moved is closed here; one not opened yet is closed by its
    // opening thread, which sees the handover is gone.
    if (r && r->cerrarNuevoAlParar()) cerrarAudio(tubo, nullptr);
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
    return r->tomarPresion();  // published by the uplink's checks: no wait
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
