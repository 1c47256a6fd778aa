#include "engine/lector.h"

#include "comun/bitacora.h"
#include "engine/cortador.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace tt {

void Senal::senalar() {
    {
        std::lock_guard l(m_);
        hecha_ = true;
    }
    cv_.notify_all();
}

bool Senal::esperar(double segundos) {
    std::unique_lock l(m_);
    return cv_.wait_for(l, std::chrono::duration<double>(segundos), [&] { return hecha_; });
}

bool Senal::senalada() {
    std::lock_guard l(m_);
    return hecha_;
}

struct Lectores::Estado {
    mutable std::mutex m;
    std::condition_variable cv;
    double esperaAnterior = 8.0;
    int serie = 0;                         // lectorSerie
    int vigente = 0;                       // lectorVigente
    std::shared_ptr<Senal> listo;          // lectorListo
    std::shared_ptr<Lector> actual;        // lectorActual
    std::optional<std::uint32_t> ultimoAudioMs;  // last audio frame handed on by a reader that ended
    std::map<int, std::weak_ptr<Lector>> enMarcha;  // readers whose thread has not ended, by number
    int enCurso = 0;
    bool sinMotor = false;                 // the owner is gone: every reader's end ends its uplink
};

namespace {

constexpr int pasoEspera = 100;  // ms between looks at `cortar` while nothing arrives
constexpr std::size_t tamLectura = 65536;

// The FIFO is opened without blocking, so a reader whose encoder never opens the other end is
// still released by `cortar`; readability is then waited for with poll(). On Linux a FIFO opened
// this way reports a hang-up only after a writer has come and gone, so "no writer yet" is not
// mistaken for the end of the stream.
void leerSalida(std::shared_ptr<Lectores::Estado> e, std::string ruta, Salida salida, int id, bool quitar,
                std::shared_ptr<Senal> antes, std::shared_ptr<Senal> listo, std::shared_ptr<Lector> estado) {
    const int fd = ::open(ruta.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        bitacora("salida: no se pudo abrir la salida del compresor");
    } else {
        Cortador c(quitar);
        bool primero = true;
        const Cortador::Entregar entregar = [&](std::string pieza) {
            estado->ultimoMs.store(c.ultimoMs());
            if (auto v = c.primerVideoMs(); v && estado->primerVideoMs.load() < 0) estado->primerVideoMs.store(*v);
            if (salida.enviar) salida.enviar(std::move(pieza));
        };
        const Cortador::Cortar cortar = [&] { return estado->cortar.load(); };
        for (;;) {
            pollfd pf{fd, POLLIN, 0};
            const int r = ::poll(&pf, 1, pasoEspera);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) break;
            if (r == 0) {
                if (estado->cortar.load()) break;
                continue;
            }
            if (!(pf.revents & POLLIN)) break;  // hang-up with nothing left, or an error
            char* destino = c.espacio(tamLectura);
            const ssize_t n = ::read(fd, destino, tamLectura);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                c.agregados(0, {});
                continue;
            }
            if (n <= 0) break;  // end of file (or a read error): what is left is discarded
            if (primero && antes) {
                // Then go on either way; a cut ends the wait too.
                for (double espera = 0; espera < e->esperaAnterior && !estado->cortar.load(); espera += 0.1)
                    if (antes->esperar(std::min(0.1, e->esperaAnterior - espera))) break;
                std::lock_guard l(e->m);
                if (e->ultimoAudioMs) c.audioDespuesDe(*e->ultimoAudioMs);
            }
            primero = false;
            const auto paso = c.agregados(std::size_t(n), entregar, cortar);
            if (paso == Cortador::Paso::cortado) break;
            if (paso == Cortador::Paso::danado) {
                bitacora("salida: " + c.error() + "; se deja de leer");
                if (salida.alDanar) salida.alDanar(c.error());
                break;
            }
        }
        ::close(fd);
        if (auto ms = c.ultimoAudioMs()) {
            std::lock_guard l(e->m);
            e->ultimoAudioMs = ms;
        }
    }
    ::unlink(ruta.c_str());
    bool terminar;
    {
        std::lock_guard l(e->m);
        terminar = e->sinMotor || id == e->vigente;
        listo->senalar();
    }
    // Only the current reader's end ends the uplink: an older one was followed by a newer reader.
    if (terminar && salida.terminar) salida.terminar();
    {
        std::lock_guard l(e->m);
        e->enMarcha.erase(id);
        --e->enCurso;
    }
    e->cv.notify_all();
}

}  // namespace

Lectores::Lectores(double esperaAnterior, Cola* recogida) : e_(std::make_shared<Estado>()), hilos_(recogida) {
    e_->esperaAnterior = esperaAnterior;
}

Lectores::~Lectores() {
    {
        std::lock_guard l(e_->m);
        e_->sinMotor = true;
        for (auto& [id, w] : e_->enMarcha)
            if (auto lector = w.lock()) lector->cortar = true;
    }
    hilos_.esperar(1e9);
}

std::shared_ptr<Lector> Lectores::arrancar(const std::string& ruta, Salida salida, bool relevo) {
    auto lector = std::make_shared<Lector>();
    auto listo = std::make_shared<Senal>();
    std::shared_ptr<Senal> antes;
    int id;
    {
        std::lock_guard l(e_->m);
        id = ++e_->serie;
        if (relevo) antes = e_->listo;
        else e_->ultimoAudioMs.reset();  // a new stream: nothing before it to stay behind
        e_->vigente = id;
        e_->listo = listo;
        e_->actual = lector;
        e_->enMarcha[id] = lector;
        ++e_->enCurso;
    }
    if (!hilos_.lanzar(id, [e = e_, ruta, salida, id, relevo, antes, listo, lector] {
            leerSalida(e, ruta, salida, id, relevo, antes, listo, lector);
        })) {
        // No thread: end as a reader that could not open its FIFO.
        bitacora("salida: no se pudo crear el hilo lector");
        ::unlink(ruta.c_str());
        bool terminar;
        {
            std::lock_guard l(e_->m);
            terminar = id == e_->vigente;
            listo->senalar();
            e_->enMarcha.erase(id);
            --e_->enCurso;
        }
        if (terminar && salida.terminar) salida.terminar();
    }
    return lector;
}

std::shared_ptr<Lector> Lectores::actual() const {
    std::lock_guard l(e_->m);
    return e_->actual;
}

int Lectores::serie() const {
    std::lock_guard l(e_->m);
    return e_->serie;
}

int Lectores::vigente() const {
    std::lock_guard l(e_->m);
    return e_->vigente;
}

void Lectores::cortarTodos() {
    for (auto& lector : enMarcha()) lector->cortar = true;
}

std::vector<std::shared_ptr<Lector>> Lectores::enMarcha() const {
    std::vector<std::shared_ptr<Lector>> v;
    std::lock_guard l(e_->m);
    for (auto& [id, w] : e_->enMarcha)
        if (auto lector = w.lock()) v.push_back(lector);
    return v;
}

bool Lectores::esperar(double segundos) { return hilos_.esperar(segundos); }

int Lectores::enCurso() const {
    std::lock_guard l(e_->m);
    return e_->enCurso;
}

}  // namespace tt
