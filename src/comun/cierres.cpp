#include "comun/cierres.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt {

namespace {

// Everything the handler needs is fixed at installation: inside it only async-signal-safe calls
// (open, write, close, clock_gettime, raise) and arithmetic on these buffers.
constexpr std::size_t topeCarpeta = 400;  // leaves room for the name in a Linea
char carpeta[topeCarpeta];
std::size_t largoCarpeta = 0;
char version[256];
std::atomic<int> escribiendo{0};
alignas(16) char pilaAlterna[64 * 1024];

constexpr int senales[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

const char* nombreSenal(int s) {
    switch (s) {
        case SIGSEGV: return "SIGSEGV";
        case SIGABRT: return "SIGABRT";
        case SIGBUS: return "SIGBUS";
        case SIGFPE: return "SIGFPE";
        case SIGILL: return "SIGILL";
    }
    return "?";
}

// A fixed buffer filled without allocating; what does not fit is dropped.
struct Linea {
    char b[512];
    std::size_t n = 0;

    Linea& operator<<(const char* s) {
        while (*s && n < sizeof b) b[n++] = *s++;
        return *this;
    }
    Linea& decimal(std::uint64_t v, int ancho = 1) {
        char d[24];
        int k = 0;
        do {
            d[k++] = char('0' + v % 10);
            v /= 10;
        } while (v && k < 24);
        while (k < ancho && k < 24) d[k++] = '0';
        while (k > 0 && n < sizeof b) b[n++] = d[--k];
        return *this;
    }
    Linea& hexadecimal(std::uintptr_t v) {
        *this << "0x";
        char d[2 * sizeof v];
        int k = 0;
        do {
            d[k++] = "0123456789abcdef"[v & 0xF];
            v >>= 4;
        } while (v);
        while (k > 0 && n < sizeof b) b[n++] = d[--k];
        return *this;
    }
};

void escribirTodo(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return;
        p += k;
        n -= std::size_t(k);
    }
}
void escribirTodo(int fd, const Linea& l) { escribirTodo(fd, l.b, l.n); }

// Days since 1970-01-01 to year, month, day (proleptic Gregorian; no library call, no locale).
void fecha(std::int64_t dias, std::int64_t& anio, unsigned& mes, unsigned& dia) {
    dias += 719468;
    const std::int64_t era = (dias >= 0 ? dias : dias - 146096) / 146097;
    const unsigned doe = unsigned(dias - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    dia = doy - (153 * mp + 2) / 5 + 1;
    mes = mp < 10 ? mp + 3 : mp - 9;
    anio = std::int64_t(yoe) + era * 400 + (mes <= 2);
}

// "2026-12-09-090233" (with `nombre`) or "2026-12-09 09:02:33".
void ponerHora(Linea& l, std::int64_t segundos, bool nombre) {
    std::int64_t anio;
    unsigned mes, dia;
    fecha(segundos / 86400, anio, mes, dia);
    const std::int64_t s = segundos % 86400;
    l.decimal(std::uint64_t(anio), 4) << "-";
    l.decimal(mes, 2) << "-";
    l.decimal(dia, 2) << (nombre ? "-" : " ");
    l.decimal(std::uint64_t(s / 3600), 2) << (nombre ? "" : ":");
    l.decimal(std::uint64_t(s / 60 % 60), 2) << (nombre ? "" : ":");
    l.decimal(std::uint64_t(s % 60), 2);
}

// A new file, never an existing one: a second report in the same second gets "-2", "-3", ….
int abrirInforme(std::int64_t segundos) {
    for (unsigned intento = 1; intento <= 9; ++intento) {
        Linea ruta;
        ruta.n = largoCarpeta;
        std::memcpy(ruta.b, carpeta, largoCarpeta);
        ruta << "/Tremolante-";
        ponerHora(ruta, segundos, true);
        if (intento > 1) {
            ruta << "-";
            ruta.decimal(intento);
        }
        ruta << ".crash";
        if (ruta.n >= sizeof ruta.b) return -1;
        ruta.b[ruta.n] = '\0';
        int fd = ::open(ruta.b, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

void escribirInforme(int senal, const siginfo_t* info) {
    timespec ahora{};
    ::clock_gettime(CLOCK_REALTIME, &ahora);
    const std::int64_t segundos = ahora.tv_sec > 0 ? std::int64_t(ahora.tv_sec) : 0;
    const int fd = abrirInforme(segundos);
    if (fd < 0) return;

    Linea l;
    l << "Tremolante Transmitir: cierre inesperado\n";
    l << "señal: " << nombreSenal(senal) << " (";
    l.decimal(unsigned(senal)) << "), código ";
    l.decimal(std::uint64_t(info ? std::uint32_t(info->si_code) : 0u)) << "\n";
    if (info && info->si_code <= 0) {
        // Sent by kill or raise: there is no faulting address, only the sender.
        l << "enviada por el proceso ";
        l.decimal(std::uint64_t(info->si_pid)) << "\n";
    } else {
        l << "dirección: ";
        l.hexadecimal(info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0u) << "\n";
    }
    l << "versión: " << version << "\n";
    l << "fecha (UTC): ";
    ponerHora(l, segundos, false);
    l << "\n";
    char hilo[17] = {};
    ::prctl(PR_GET_NAME, hilo, 0, 0, 0);
    l << "proceso: ";
    l.decimal(std::uint64_t(::getpid())) << ", hilo: ";
    l.decimal(std::uint64_t(::gettid())) << " \"" << hilo << "\"\n";
    l << "pila:\n";
    escribirTodo(fd, l);

    void* marcos[128];
    const int n = ::backtrace(marcos, 128);
    ::backtrace_symbols_fd(marcos, n, fd);
    ::close(fd);
}

void manejar(int senal, siginfo_t* info, void*) {
    const int errnoAntes = errno;
    if (escribiendo.exchange(1) == 0) {
        escribirInforme(senal, info);
    } else {
        // Another thread is writing the report: it ends the process when done.
        timespec espera{2, 0};
        ::nanosleep(&espera, nullptr);
    }
    errno = errnoAntes;
    // SA_RESETHAND put the default action back; the signal, blocked while this handler runs, is
    // delivered with it as soon as the handler returns, also when it came from kill or abort.
    ::raise(senal);
}

}  // namespace

bool instalarCierres(const std::filesystem::path& ruta, const std::string& textoVersion) {
    static std::atomic<bool> instalado{false};
    const std::string texto = ruta.string();
    if (texto.empty() || texto.size() > topeCarpeta) return false;
    if (instalado.exchange(true)) return false;

    std::error_code ec;
    std::filesystem::create_directories(ruta.parent_path(), ec);
    ::mkdir(texto.c_str(), 0700);
    std::memcpy(carpeta, texto.data(), texto.size());
    largoCarpeta = texto.size();
    const std::size_t nv = std::min(textoVersion.size(), sizeof version - 1);
    std::memcpy(version, textoVersion.data(), nv);
    version[nv] = '\0';

    // The first backtrace loads the unwinder library, which allocates: done here, not in the handler.
    void* marcos[4];
    ::backtrace(marcos, 4);

    stack_t actual{};
    if (::sigaltstack(nullptr, &actual) == 0 && (actual.ss_flags & SS_DISABLE)) {
        stack_t pila{};
        pila.ss_sp = pilaAlterna;
        pila.ss_size = sizeof pilaAlterna;
        ::sigaltstack(&pila, nullptr);
    }

    struct sigaction accion{};
    accion.sa_sigaction = manejar;
    accion.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&accion.sa_mask);
    for (int s : senales) ::sigaction(s, &accion, nullptr);
    return true;
}

}  // namespace tt
