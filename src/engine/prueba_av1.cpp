#include "engine/prueba_av1.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "engine/hijo.h"
#include "engine/hilos.h"

#include <atomic>
#include <chrono>
#include <unistd.h>
#include <vector>

namespace tt {

namespace {

std::atomic<int> conocido{-1};  // -1 not known yet, else 0 or 1: a fact of the installed ffmpeg

// Runs ffmpeg with these arguments; true when it ends with status 0 within the time given. A stop
// request ends the child at once.
bool correBien(const std::string& ffmpeg, std::vector<std::string> argumentos, double segundos, std::stop_token parar) {
    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = std::move(argumentos);
    a.conEntrada = false;
    // Its complaints (an encoder FLV cannot carry) are expected: a log file, not the terminal.
    a.errores = (carpetaLog() / "prueba-av1.log").string();
    auto h = Hijo::lanzar(a);
    if (!h) return false;
    Hilos hilos;  // after h: the watcher is joined before the handle goes
    h->vigilar(hilos, 0, nullptr, nullptr);
    const auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
    std::optional<int> estado;
    while (!(estado = h->esperar(0.1)) && !parar.stop_requested() && std::chrono::steady_clock::now() < hasta) {}
    if (!estado) h->terminar(0.5);
    hilos.esperar(5);
    return estado && *estado == 0;
}

}  // namespace

void PruebaAv1::empezar(const std::string& ffmpeg) {
    std::lock_guard l(m_);
    if (cerrada_ || conocido.load() >= 0 || hilo_.joinable()) return;
    hilo_ = std::jthread([this, ffmpeg](std::stop_token parar) {
        // One AV1 frame into Matroska, then copied into FLV: the copy fails at once when FLV cannot
        // carry AV1 (an encoder refused by its muxer can hang instead of ending).
        const std::string muestra = carpetaFifos() + "/prueba-av1-" + std::to_string(::getpid()) + ".mkv";
        const std::vector<std::string> comun = {"-hide_banner", "-nostdin", "-loglevel", "error"};
        auto con = [&](std::vector<std::string> resto) {
            auto a = comun;
            a.insert(a.end(), resto.begin(), resto.end());
            return a;
        };
        const bool puede =
            !carpetaFifos().empty() &&
            correBien(ffmpeg, con({"-f", "lavfi", "-i", "color=black:size=64x64:rate=10", "-frames:v", "1", "-c:v",
                                   "libsvtav1", "-preset", "12", "-y", muestra}), 30, parar) &&
            correBien(ffmpeg, con({"-i", muestra, "-c", "copy", "-f", "flv", "-y", "/dev/null"}), 10, parar);
        ::unlink(muestra.c_str());
        if (parar.stop_requested()) return;  // cut short: not an answer
        int nadie = -1;
        if (conocido.compare_exchange_strong(nadie, puede ? 1 : 0) && !puede)
            bitacora("compresor: este ffmpeg no pone AV1 en FLV; las salidas FLV usan H.264");
        std::lock_guard l(m_);
        cv_.notify_all();
    });
}

std::optional<bool> PruebaAv1::resultado() const {
    const int c = conocido.load();
    if (c < 0) return std::nullopt;
    return c == 1;
}

std::optional<bool> PruebaAv1::esperar(const std::string& ffmpeg) {
    empezar(ffmpeg);
    std::unique_lock l(m_);
    cv_.wait(l, [&] { return cerrada_ || conocido.load() >= 0; });
    return resultado();
}

void PruebaAv1::cerrar() {
    std::jthread hilo;
    {
        std::lock_guard l(m_);
        cerrada_ = true;
        hilo = std::move(hilo_);
    }
    cv_.notify_all();
    // The jthread asks its check to stop and joins it when it goes.
}

}  // namespace tt
