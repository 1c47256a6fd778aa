#include "engine/hijo.h"

#include "comun/bitacora.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tt {

struct Hijo::Estado {
    std::mutex candado;  // guards terminado and estado
    std::condition_variable fin;
    bool terminado = false;
    int estado = -1;
    bool vigilado = false;
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
    if (!a.errores.empty())
        posix_spawn_file_actions_addopen(&acciones, 2, a.errores.c_str(),
                                         O_WRONLY | O_CREAT | (a.anexarErrores ? O_APPEND : O_TRUNC), 0644);
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
        // Nobody reads its end: reap it in the background so it never stays a zombie.
        cerrar(salida_);
        std::thread([pid = pid_] {
            int s;
            while (::waitpid(pid, &s, 0) < 0 && errno == EINTR) {}
        }).detach();
    }
}

void Hijo::cerrarEntrada() { cerrar(entrada_); }

void Hijo::vigilar(std::function<void(std::string_view)> alLeer, std::function<void(int)> alTerminar) {
    {
        std::lock_guard l(estado_->candado);
        if (estado_->vigilado) return;
        estado_->vigilado = true;
    }
    int fd = salida_;
    salida_ = -1;
    std::thread([fd, pid = pid_, estado = estado_, alLeer = std::move(alLeer), alTerminar = std::move(alTerminar)] {
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (alLeer) alLeer(std::string_view(buf, std::size_t(n)));
        }
        ::close(fd);
        int s = 0;
        while (::waitpid(pid, &s, 0) < 0 && errno == EINTR) {}
        int codigo = estadoDe(s);
        {
            std::lock_guard l(estado->candado);
            estado->terminado = true;
            estado->estado = codigo;
        }
        estado->fin.notify_all();
        if (alTerminar) alTerminar(codigo);
    }).detach();
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
    if (terminado()) return;
    ::kill(pid_, SIGTERM);
    // Some encoders ignore SIGTERM while stuck in their own shutdown: make sure it ends.
    std::thread([yo = shared_from_this(), gracia] {
        if (!yo->esperar(gracia)) ::kill(yo->pid_, SIGKILL);
    }).detach();
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

namespace {
// Runs ffmpeg with these arguments; true when it ends with status 0 within the time given.
bool correBien(const std::string& ffmpeg, std::vector<std::string> argumentos, double segundos) {
    Hijo::Arranque a;
    a.ejecutable = ffmpeg;
    a.argumentos = std::move(argumentos);
    a.conEntrada = false;
    auto h = Hijo::lanzar(a);
    if (!h) return false;
    h->vigilar(nullptr, nullptr);
    auto estado = h->esperar(segundos);
    if (!estado) h->terminar(0.5);
    return estado && *estado == 0;
}
}  // namespace

bool av1EnFlv(const std::string& ffmpeg) {
    static std::once_flag hecho;
    static bool puede = false;
    std::call_once(hecho, [&] {
        // One AV1 frame into Matroska, then copied into FLV: the copy fails at once when FLV cannot
        // carry AV1 (an encoder refused by its muxer can hang instead of ending).
        const std::string muestra = carpetaFifos() + "/prueba-av1.mkv";
        const std::vector<std::string> comun = {"-hide_banner", "-nostdin", "-loglevel", "error"};
        auto con = [&](std::vector<std::string> resto) {
            auto a = comun;
            a.insert(a.end(), resto.begin(), resto.end());
            return a;
        };
        puede = !carpetaFifos().empty() &&
                correBien(ffmpeg, con({"-f", "lavfi", "-i", "color=black:size=64x64:rate=10", "-frames:v", "1",
                                       "-c:v", "libsvtav1", "-preset", "12", "-y", muestra}), 30) &&
                correBien(ffmpeg, con({"-i", muestra, "-c", "copy", "-f", "flv", "-y", "/dev/null"}), 10);
        ::unlink(muestra.c_str());
        if (!puede) bitacora("compresor: este ffmpeg no pone AV1 en FLV; las salidas FLV usan H.264");
    });
    return puede;
}

}  // namespace tt
