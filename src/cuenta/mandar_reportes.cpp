#include "cuenta/mandar_reportes.h"

#include "comun/bitacora.h"
#include "principal/principal.h"
#include "comun/proceso.h"
#include "cuenta/reportes.h"

#include <QSettings>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

namespace {

const char* const claveMandados = "reportesMandados";

// What only the main thread may touch: the request function and the end callback. The upload
// thread carries it along and hands it back to the main thread to be called and released there.
struct DelPrincipal {
    Pedir pedir;
    std::function<void()> alTerminar;
};

struct Trabajo {
    CuentaReporte cuenta;
    std::set<std::string> mandados;  // the setting as read at the call
    double espera = 30;
    std::shared_ptr<DelPrincipal> principal;
};

// Shared with the completions, which may arrive after the thread stopped waiting.
struct Estado {
    std::mutex candado;  // guards everything below
    std::condition_variable cambio;
    std::deque<Trabajo> trabajos;
    bool terminar = false;
    std::uint64_t esperado = 0;  // the request waited for; answers to others are too late
    std::optional<std::string> respuesta;  // "" accepted, else the error text
};

// At most `tope` bytes from the start of a regular file; nothing when unreadable. O_NONBLOCK: a
// FIFO with a report's name must not hold the thread.
std::optional<std::string> leerInicio(const std::filesystem::path& ruta, std::size_t tope) {
    const int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string datos(tope, '\0');
    std::size_t hecho = 0;
    while (hecho < tope) {
        const ssize_t n = ::read(fd, datos.data() + hecho, tope - hecho);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        hecho += std::size_t(n);
    }
    ::close(fd);
    datos.resize(hecho);
    return datos;
}

// The last `tope` bytes of the log, without reading the rest of it; empty when unreadable.
std::string leerFinal(const std::filesystem::path& ruta, std::size_t tope) {
    const int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat st{};
    std::string datos;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t desde = st.st_size > off_t(tope) ? st.st_size - off_t(tope) : 0;
        datos.resize(tope);
        std::size_t hecho = 0;
        while (hecho < tope) {
            const ssize_t n = ::pread(fd, datos.data() + hecho, tope - hecho, desde + off_t(hecho));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            hecho += std::size_t(n);
        }
        datos.resize(hecho);
    }
    ::close(fd);
    return datos;
}

std::vector<std::string> listar(const std::filesystem::path& carpeta) {
    std::vector<std::string> nombres;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(carpeta, ec), fin; !ec && it != fin; it.increment(ec))
        if (it->symlink_status(ec).type() == std::filesystem::file_type::regular)
            nombres.push_back(it->path().filename().string());
    return nombres;
}

// Owner of the upload thread: jobs run one after another, so one upload is in flight at a time.
// The names sent by this process are its thread's own (the setting may not be updated yet when the
// next job reads it).
class Mandadero {
public:
    Mandadero() : hilo_([this] { correr(); }) {}
    ~Mandadero() { parar(); }

    void encargar(Trabajo t) {
        {
            std::lock_guard l(estado_->candado);
            if (estado_->terminar) return;
            estado_->trabajos.push_back(std::move(t));
        }
        estado_->cambio.notify_all();
    }

    void parar() {
        {
            std::lock_guard l(estado_->candado);
            estado_->terminar = true;
        }
        estado_->cambio.notify_all();
        if (hilo_.joinable()) hilo_.join();
    }

private:
    void correr() {
        for (;;) {
            Trabajo t;
            {
                std::unique_lock l(estado_->candado);
                estado_->cambio.wait(l, [&] { return estado_->terminar || !estado_->trabajos.empty(); });
                if (estado_->terminar) return;
                t = std::move(estado_->trabajos.front());
                estado_->trabajos.pop_front();
            }
            hacer(t);
            enPrincipal([p = std::move(t.principal)] {
                if (p->alTerminar) p->alTerminar();
            });
        }
    }

    void hacer(const Trabajo& t) {
        std::set<std::string> excluidos = t.mandados;
        excluidos.insert(mandados_.begin(), mandados_.end());
        const auto carpeta = carpetaInformes();
        const auto nombres = elegirReportes(listar(carpeta), excluidos);
        if (nombres.empty()) return;
        const std::string cola = leerFinal(carpetaLog() / "app.log", topeColaBitacora);
        const std::string version = versionApp();
        for (const auto& nombre : nombres) {
            auto informe = leerInicio(carpeta / nombre, topeInforme);
            if (!informe) continue;
            auto error = pedirYEsperar(t, cuerpoReporte(t.cuenta, nombre, version, *informe, cola));
            if (error && error->empty()) return;  // stopping
            if (error) {
                bitacora("reportes: " + nombre + " no se pudo mandar: " + *error);
                continue;
            }
            mandados_.insert(nombre);
            bitacora("reportes: " + nombre + " mandado");
            enPrincipal([nombre] {
                QSettings preferidas;
                QStringList lista = preferidas.value(claveMandados).toStringList();
                const QString n = QString::fromStdString(nombre);
                if (!lista.contains(n)) lista.append(n);
                preferidas.setValue(claveMandados, lista);
            });
        }
    }

    // Nothing when an answer object arrived in time; else why not ("" when stopping).
    std::optional<std::string> pedirYEsperar(const Trabajo& t, nlohmann::json cuerpo) {
        std::uint64_t id;
        {
            std::lock_guard l(estado_->candado);
            id = ++pedidos_;
            estado_->esperado = id;
            estado_->respuesta.reset();
        }
        auto fin = [estado = estado_, id](std::optional<nlohmann::json> respuesta, std::optional<std::string> error) {
            {
                std::lock_guard l(estado->candado);
                if (estado->esperado != id || estado->respuesta) return;  // too late, or a second call
                if (respuesta && respuesta->is_object()) estado->respuesta = std::string();
                else estado->respuesta = error.value_or("respuesta sin objeto");
            }
            estado->cambio.notify_all();
        };
        enPrincipal([p = t.principal, cuerpo = std::move(cuerpo), fin = std::move(fin)] {
            p->pedir("/reporte", cuerpo, fin);
        });
        std::unique_lock l(estado_->candado);
        const bool llego = estado_->cambio.wait_for(l, std::chrono::duration<double>(t.espera), [&] {
            return estado_->terminar || estado_->respuesta.has_value();
        });
        estado_->esperado = 0;
        if (estado_->terminar) return std::string();
        if (!llego) return "sin respuesta en " + std::to_string(int(t.espera)) + " s";
        if (!estado_->respuesta->empty()) return *estado_->respuesta;
        return std::nullopt;
    }

    std::shared_ptr<Estado> estado_ = std::make_shared<Estado>();
    std::set<std::string> mandados_;  // upload thread only
    std::uint64_t pedidos_ = 0;       // upload thread only
    std::thread hilo_;                // last: starts once the rest exists
};

// Created at the first upload, stopped by pararReportes or at exit; main thread only.
std::unique_ptr<Mandadero>& mandadero() {
    static std::unique_ptr<Mandadero> m;
    return m;
}

}  // namespace

void mandarReportes(EnvioReportes envio) {
    if (envio.sala.empty() || envio.ficha.empty() || !envio.pedir) return;
    Trabajo t;
    t.cuenta = {std::move(envio.sala), std::move(envio.ficha), std::move(envio.correo)};
    for (const auto& n : QSettings().value(claveMandados).toStringList()) t.mandados.insert(n.toStdString());
    t.espera = envio.espera;
    t.principal = std::make_shared<DelPrincipal>(DelPrincipal{std::move(envio.pedir), std::move(envio.alTerminar)});
    auto& m = mandadero();
    if (!m) m = std::make_unique<Mandadero>();
    m->encargar(std::move(t));
}

void mandarReportes(const std::string& sala, const std::string& ficha, const std::string& correo, Pedir pedir) {
    mandarReportes(EnvioReportes{sala, ficha, correo, std::move(pedir), 30, {}});
}

void pararReportes() { mandadero().reset(); }

}  // namespace tt
