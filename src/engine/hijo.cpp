#include "engine/hijo.h"

#include "comun/bitacora.h"
#include "engine/hilos.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tt {

struct Hijo::Estado {
    std::mutex candado;  // guards the fields below
    std::condition_variable fin;
    bool terminado = false;
    int estado = -1;
    bool vigilado = false;
    // When the watcher sends SIGKILL to a child asked to end that has not ended yet.
    std::optional<std::chrono::steady_clock::time_point> matarEn;
};

namespace {
int estadoDe(int s) {
    if (WIFEXITED(s)) return WEXITSTATUS(s);
    if (WIFSIGNALED(s)) return 128 + WTERMSIG(s);
    return -1;
}
void cerrar(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}
}  // namespace

std::shared_ptr<Hijo> Hijo::lanzar(const Arranque& a, std::string* error) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    auto fallar = [&](const std::string& texto) -> std::shared_ptr<Hijo> {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1]}) cerrar(*fd);
        if (error) *error = texto;
        return nullptr;
    };
    if (a.conEntrada && ::pipe2(in, O_CLOEXEC) != 0) return fallar(std::strerror(errno));
    if (::pipe2(out, O_CLOEXEC) != 0) return fallar(std::strerror(errno));
    // Raw video goes in by megabytes per frame: a larger pipe means far fewer switches between this
    // process and the child for each frame. Best effort: the default size still works.
    if (a.conEntrada) ::fcntl(in[1], F_SETPIPE_SZ, 1 << 20);

    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    if (a.conEntrada) posix_spawn_file_actions_adddup2(&acciones, in[0], 0);
    else posix_spawn_file_actions_addopen(&acciones, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&acciones, out[1], 1);
    // Opened here rather than by the child, so a log that cannot be opened leaves standard error
    // as it is instead of failing the launch. 0600 even when an older file was readable by others.
    int errores = -1;
    if (!a.errores.empty()) {
        errores = ::open(a.errores.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (a.anexarErrores ? O_APPEND : O_TRUNC), 0600);
        if (errores >= 0) {
            ::fchmod(errores, 0600);
            posix_spawn_file_actions_adddup2(&acciones, errores, 2);
        }
    }
    posix_spawnattr_t atributos;
    posix_spawnattr_init(&atributos);
    // The child starts with default signal handling: it must die of SIGPIPE like any ffmpeg.
    sigset_t defecto;
    sigemptyset(&defecto);
    sigaddset(&defecto, SIGPIPE);
    posix_spawnattr_setsigdefault(&atributos, &defecto);
    posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(a.ejecutable.c_str()));
    for (auto& s : a.argumentos) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int r = posix_spawn(&pid, a.ejecutable.c_str(), &acciones, &atributos, argv.data(), environ);
    if (errores >= 0) ::close(errores);
    posix_spawn_file_actions_destroy(&acciones);
    posix_spawnattr_destroy(&atributos);
    if (r != 0) return fallar(std::strerror(r));

    auto h = std::shared_ptr<Hijo>(new Hijo());
    h->pid_ = pid;
    h->estado_ = std::make_shared<Estado>();
    cerrar(in[0]);
    cerrar(out[1]);
    h->entrada_ = in[1];
    h->salida_ = out[0];
    return h;
}

Hijo::~Hijo() {
    cerrar(entrada_);
    bool vigilado;
    {
        std::lock_guard l(estado_->candado);
        vigilado = estado_->vigilado;
    }
    if (!vigilado) {
        // Nobody reads its end or reaps it: it ends here, so it never stays a zombie.
        cerrar(salida_);
        int s;
        if (::waitpid(pid_, &s, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &s, 0) < 0 && errno == EINTR) {}
        }
    }
}

void Hijo::cerrarEntrada() { cerrar(entrada_); }

namespace {
using Reloj = std::chrono::steady_clock;

// SIGKILL once the grace given by terminar has passed.
void matarSiToca(Hijo::Estado& e, pid_t pid) {
    std::lock_guard l(e.candado);
    if (e.matarEn && Reloj::now() >= *e.matarEn) {
        ::kill(pid, SIGKILL);
        e.matarEn.reset();
    }
}
}  // namespace

void Hijo::vigilar(Hilos& hilos, int grupo, std::function<void(std::string_view)> alLeer,
                   std::function<void(int)> alTerminar) {
    {
        std::lock_guard l(estado_->candado);
        if (estado_->vigilado) return;
        estado_->vigilado = true;
    }
    int fd = salida_;
    salida_ = -1;
    auto vigia = [fd, pid = pid_, estado = estado_, alLeer = std::move(alLeer), alTerminar = std::move(alTerminar)] {
        // Looks at the kill deadline between reads, so a child that ignores SIGTERM with its
        // output still open is ended all the same.
        char buf[4096];
        for (;;) {
            pollfd pf{fd, POLLIN, 0};
            const int r = ::poll(&pf, 1, 100);
            matarSiToca(*estado, pid);
            if (r < 0 && errno == EINTR) continue;
            if (r == 0) continue;
            if (r < 0) break;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (alLeer) alLeer(std::string_view(buf, std::size_t(n)));
        }
        ::close(fd);
        int s = 0;
        for (;;) {
            const pid_t r = ::waitpid(pid, &s, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR)) break;
            matarSiToca(*estado, pid);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int codigo = estadoDe(s);
        {
            std::lock_guard l(estado->candado);
            estado->terminado = true;
            estado->estado = codigo;
        }
        estado->fin.notify_all();
        if (alTerminar) alTerminar(codigo);
    };
    if (!hilos.lanzar(grupo, std::move(vigia))) {
        // No thread: the child cannot be watched; end it so it does not run unseen.
        bitacora("proceso: no se pudo crear el hilo que lo vigila");
        ::close(fd);
        ::kill(pid_, SIGKILL);
        int s;
        while (::waitpid(pid_, &s, 0) < 0 && errno == EINTR) {}
        std::lock_guard l(estado_->candado);
        estado_->terminado = true;
        estado_->estado = estadoDe(s);
    }
}

bool Hijo::terminado() const {
    std::lock_guard l(estado_->candado);
    return estado_->terminado;
}

std::optional<int> Hijo::esperar(double segundos) {
    std::unique_lock l(estado_->candado);
    estado_->fin.wait_for(l, std::chrono::duration<double>(segundos), [&] { return estado_->terminado; });
    if (!estado_->terminado) return std::nullopt;
    return estado_->estado;
}

void Hijo::terminar(double gracia) {
    if (terminado()) return;  // its pid may belong to another process by now
    ::kill(pid_, SIGTERM);
    // Some encoders ignore SIGTERM while stuck in their own shutdown: the watcher makes sure it ends.
    const auto hasta = Reloj::now() + std::chrono::duration_cast<Reloj::duration>(std::chrono::duration<double>(gracia));
    std::lock_guard l(estado_->candado);
    if (!estado_->matarEn || hasta < *estado_->matarEn) estado_->matarEn = hasta;
}

namespace {
// Removed with whatever it holds when the process ends normally.
struct CarpetaPrivada {
    std::string ruta;
    CarpetaPrivada() {
        const char* tmp = std::getenv("TMPDIR");
        std::string plantilla = std::string(tmp && *tmp ? tmp : "/tmp") + "/tremolante-XXXXXX";
        if (::mkdtemp(plantilla.data())) ruta = plantilla;
    }
    ~CarpetaPrivada() {
        std::error_code ec;
        if (!ruta.empty()) std::filesystem::remove_all(ruta, ec);
    }
};
}  // namespace

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

const std::string& carpetaFifos() {
    static const CarpetaPrivada carpeta;
    return carpeta.ruta;
}

std::string nuevaFifo(const std::string& nombre) {
    if (carpetaFifos().empty()) return {};
    std::string ruta = carpetaFifos() + "/" + nombre;
    if (::mkfifo(ruta.c_str(), 0600) != 0) return {};  // EEXIST included: a path is never reused
    return ruta;
}

}  // namespace tt
