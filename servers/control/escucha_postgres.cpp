#include "escucha_postgres.h"

#include <libpq-fe.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tt::control {

EscuchaPostgres::EscuchaPostgres(std::string conexion, std::string canal)
    : conexion_(std::move(conexion)), canal_(std::move(canal)) {}

EscuchaPostgres::~EscuchaPostgres() {
    parar_ = true;
    if (despertar_[1] >= 0) {
        const char x = 1;
        [[maybe_unused]] auto n = ::write(despertar_[1], &x, 1);
    }
    if (hilo_.joinable()) hilo_.join();
    PQfinish(c_);
    for (int fd : despertar_)
        if (fd >= 0) ::close(fd);
}

std::optional<std::string> EscuchaPostgres::iniciar() {
    if (::pipe2(despertar_, O_CLOEXEC | O_NONBLOCK) != 0) return std::string("sin tubo");
    if (auto e = conectar()) return e;
    hilo_ = std::thread([this] { correr(); });
    return std::nullopt;
}

std::optional<std::string> EscuchaPostgres::conectar() {
    PQfinish(c_);
    // Keep-alives: a server that vanished without closing is noticed within about 20 s.
    const char* claves[] = {"application_name", "connect_timeout", "keepalives_idle", "keepalives_interval",
                            "keepalives_count", "dbname", nullptr};
    const char* valores[] = {"tremolante-control-avisos", "10", "10", "3", "3", conexion_.c_str(), nullptr};
    c_ = PQconnectdbParams(claves, valores, 1);
    std::string error;
    if (PQstatus(c_) != CONNECTION_OK) {
        error = PQerrorMessage(c_);
    } else {
        char* canal = PQescapeIdentifier(c_, canal_.c_str(), canal_.size());
        PGresult* r = PQexec(c_, ("LISTEN " + std::string(canal ? canal : "\"\"")).c_str());
        PQfreemem(canal);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) error = PQresultErrorMessage(r);
        PQclear(r);
    }
    while (!error.empty() && error.back() == '\n') error.pop_back();
    if (error.empty()) return std::nullopt;
    return "no se pudo escuchar los avisos de la base: " + error;
}

bool EscuchaPostgres::esperar(int fd, int ms) {
    pollfd p[2] = {{despertar_[0], POLLIN, 0}, {fd, POLLIN, 0}};
    ::poll(p, fd >= 0 ? 2 : 1, ms);
    return !parar_;
}

void EscuchaPostgres::correr() {
    while (!parar_) {
        if (!esperar(PQsocket(c_), -1)) return;
        if (PQconsumeInput(c_) == 1) {
            while (PGnotify* n = PQnotifies(c_)) {
                std::string texto = n->extra ? n->extra : "";
                PQfreemem(n);
                if (alRecibir) alRecibir(std::move(texto));
            }
            if (PQstatus(c_) == CONNECTION_OK) continue;
        }
        if (alAnotar) alAnotar("control: se perdió la escucha de avisos de la base; se reintenta cada segundo");
        while (conectar()) {
            if (!esperar(-1, 1000)) return;
        }
        if (alAnotar) alAnotar("control: la escucha de avisos de la base volvió (los de mientras tanto se perdieron)");
    }
}

}  // namespace tt::control
