#include "engine/motor.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "engine/camara_falsa.h"
#include "engine/captura.h"

#include <algorithm>
#include <cmath>

namespace tt {

Motor::Motor() = default;

Motor::~Motor() {
    {
        std::lock_guard l(presencia->candado);
        presencia->sigue = false;
    }
    // A start waiting for the AV1 check gives up; one under way finds the transmission gone and
    // undoes itself.
    av1.cerrar();
    detener(true);
    colaArranque.sincrono([] {});
    // No platform callback after this: the camera and microphone are closed first.
    vigia.reset();
    captura.reset();
    // The synthetic camera's timer runs on colaV: stop it there, after the frames already queued,
    // so every queued job finishes while the fields it touches still exist.
    colaV.sincrono([this] { falsa.reset(); });
    colaA.sincrono([] {});
}

std::vector<Dispositivo> Motor::camaras() const { return Captura::camaras(); }
std::vector<Dispositivo> Motor::microfonos() const { return Captura::microfonos(); }

Acceso Motor::acceso() const {
    Acceso a;
    a.camara = accesoCamara(camaras(), &Captura::puedeAbrir);
    return a;
}

void Motor::usar(std::optional<std::string> camara, std::optional<std::string> microfono,
                 std::function<void(std::optional<std::string>)> listo) {
    if (!captura) {
        captura = std::make_unique<Captura>();
        captura->alVideo = [this](const QVideoFrame& f, double hora, double duracion) {
            // Converted here, on the platform's thread: a frame's memory is the capture's only
            // until this returns (PipeWire's buffers are reused behind a kept frame). Late frames
            // are dropped rather than queued: at most two wait for the engine.
            if (videoPendiente.load() >= 2) return;
            auto c = cuadroDe(f);
            if (!c) return;
            c->hora = hora;
            c->duracion = duracion;
            ++videoPendiente;
            colaV.asincrono([this, c = std::move(*c)] {
                --videoPendiente;
                video(c);
            });
        };
        captura->alAudio = [this](BloqueAudio b) {
            colaA.asincrono([this, b = std::move(b)] { audio(b); });
        };
    }
    // The encoder will be needed soon: whether it puts AV1 into FLV is found in the background now.
    av1.empezar((recursos() / "ffmpeg").string());
    captura->usar(std::move(camara), std::move(microfono),
                  [this, presente = std::weak_ptr<bool>(presente), listo = std::move(listo)](
                      std::optional<std::string> error) {
                      if (presente.expired()) return;  // the engine went while the camera opened
                      {
                          std::lock_guard l(candadoCaptura);
                          if (captura) {
                              formatoTexto_ = captura->formatoTexto();
                              salidaTexto_ = captura->salidaTexto();
                          }
                          microfonoAbierto = captura && captura->hayMicrofono();
                      }
                      if (listo) listo(error);
                  });
}

bool Motor::simular(const std::string& ruta) {
    const QImage imagen = leerImagenFalsa(ruta);
    auto cuadros = cuadrosFalsos(imagen, entorno().tiene(Tm::ruido));
    if (cuadros.empty()) {
        bitacora("cámara falsa: no se pudo leer la imagen");
        return false;
    }
    const int ritmo = ritmoFalso(entorno().texto(Tm::ruido));
    av1.empezar((recursos() / "ffmpeg").string());
    {
        std::lock_guard l(candadoCaptura);
        if (falsaActiva) return true;
        falsaActiva = true;
        formatoTexto_ = tt::formatoTexto(1920, 1080, ritmo);
        salidaTexto_ = tt::salidaTexto(1920, 1080);
    }
    bitacora("cámara falsa: " + std::to_string(cuadros.size()) + " cuadros a " + std::to_string(ritmo) + " por segundo");
    colaV.sincrono([&] {
        falsa = std::make_unique<CamaraFalsa>(std::move(cuadros), ritmo);
        falsa->arrancar(colaV, [this](const Cuadro& c) { video(c); });
    });
    return true;
}

bool Motor::simulando() const {
    std::lock_guard l(candadoCaptura);
    return falsaActiva;
}

void Motor::vigilarDispositivos(std::function<void()> alCambiar) {
    vigia = std::make_unique<VigiaDispositivos>(std::move(alCambiar));
}

std::string Motor::formatoTexto() const {
    std::lock_guard l(candadoCaptura);
    return formatoTexto_;
}

std::string Motor::salidaTexto() const {
    std::lock_guard l(candadoCaptura);
    return salidaTexto_;
}

std::optional<Cuadro> Motor::camaraActual() const {
    std::lock_guard l(candadoCaptura);
    return ultimaCamara;
}

double Motor::sinImagen() const {
    std::lock_guard l(candadoCaptura);
    return ultimoVideoEn > 0 ? ahora() - ultimoVideoEn : 0;
}

bool Motor::estaVivo() const {
    std::lock_guard l(candadoVista);
    return vista.figuras.vivo;
}

double Motor::picoAudio() const {
    std::lock_guard l(candadoCaptura);
    return picoAudio_;
}

bool Motor::hayMicrofono() const { return captura && captura->hayMicrofono(); }

void Motor::video(const Cuadro& camara) {
    const Cuadro programa = compositor.cuadro(camara);
    bool simulada;
    {
        std::lock_guard l(candadoCaptura);
        ultimaCamara = camara;
        ultimoVideoEn = ahora();
        simulada = falsaActiva;
    }
    if (alCamara) alCamara(camara);
    if (alComponer) {
        if (simulada || !programa.mismaImagen(camara)) alComponer(programa);
        else alComponer(std::nullopt);
    }
    transmitirCuadro(programa);
}

void Motor::audio(const BloqueAudio& bloque) {
    const double p = pico(bloque);
    Tiempos::Audio a;
    int bytesCuadro = 0;
    {
        std::lock_guard l(candadoCaptura);
        picoAudio_ = std::max(p, picoAudio_ * 0.6);
    }
    {
        Cambio l(*this);
        if (!vivo) return;
        const bool puede = (tuboA && audioAbierto) || (relevoPend && relevoPend->guardaAudio());
        a = tiempos.audio(bloque.hora, bloque.cuadros(), bloque.formato, ahora(), arrancado,
                          !tiempos.enPausa && puede, entorno().tiene(Tm::depurar), bloque.marca);
        if (a.escribir) bytesCuadro = tiempos.formato.bytesMuestra * tiempos.formato.canales;
    }
    for (auto& linea : a.bitacora) bitacora(linea);
    if (a.microVolvio) avisarMicrofono(false);
    if (!a.escribir) return;
    // Silence for the gap, then the part of the buffer that was not written already.
    const std::size_t corte = std::min(bloque.bytes.size(), std::size_t(a.corte) * std::size_t(bytesCuadro));
    std::vector<std::uint8_t> bytes(std::size_t(a.silencio) * std::size_t(bytesCuadro), 0);
    bytes.insert(bytes.end(), bloque.bytes.begin() + std::ptrdiff_t(corte), bloque.bytes.end());
    if (bytes.empty()) return;
    compositor.mezclar(bytes, a.mezclaSimple);
    Cambio l(*this);
    encaminarMuestras(std::move(bytes), a.inicio, std::size_t(bytesCuadro));
}

void Motor::encaminarMuestras(std::vector<std::uint8_t> bytes, std::int64_t inicio, std::size_t bytesCuadro) {
    const auto total = std::int64_t(bytes.size() / bytesCuadro);
    std::optional<std::size_t> antes;
    if (relevoPend && relevoPend->antesDelCorte() && relevoPend->muestra < inicio + total)
        antes = std::size_t(antesDelRelevo(relevoPend->muestra, inicio, total)) * bytesCuadro;
    encaminarAudio(std::move(bytes), antes);
}

}  // namespace tt
