#include "uplink/publicador.h"

#include "comun/flv.h"

#include "comun/sin_clave.h"

#include <librtmp/log.h>
#include <librtmp/rtmp.h>

#include <chrono>
#include <cstdarg>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tt {

namespace {
constexpr std::size_t topeCola = 16u << 20;  // beyond this the oldest tags are dropped
constexpr int plazoRed = 3;                   // s for a connection, a handshake step or a write
constexpr auto esperaReintento = std::chrono::seconds(5);

// librtmp's own connect waits as long as the system does (minutes for a host that drops SYNs):
// this one gives up after plazoRed, and the socket keeps that bound for every read and write.
bool conectar(RTMP* r) {
    const std::string host(r->Link.hostname.av_val, std::size_t(r->Link.hostname.av_len));
    if (host.empty()) return false;
    addrinfo pista{};
    pista.ai_socktype = SOCK_STREAM;
    addrinfo* lista = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(r->Link.port ? r->Link.port : 1935).c_str(), &pista, &lista) != 0)
        return false;
    int fd = -1;
    for (addrinfo* a = lista; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int error = 0;
        socklen_t largo = sizeof error;
        pollfd p{fd, POLLOUT, 0};
        const bool hecho = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
                           (errno == EINPROGRESS && ::poll(&p, 1, plazoRed * 1000) == 1 &&
                            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &largo) == 0 && error == 0);
        if (!hecho) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(lista);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval tv{plazoRed, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int uno = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &uno, sizeof uno);
    r->m_sb.sb_socket = fd;
    r->m_bSendCounter = TRUE;
    return RTMP_Connect1(r, nullptr) && RTMP_ConnectStream(r, 0);
}

// librtmp's own lines go straight to standard error and may carry a host or a path from the
// destination: this publisher reports what matters itself, without the key.
void sinRegistro(int, const char*, va_list) {}
}  // namespace

Publicador::Publicador(std::string url, std::function<void(const std::string&)> anotar,
                       std::function<void()> alFallar)
    : url_(std::move(url)), anotar_(std::move(anotar)), alFallar_(std::move(alFallar)) {
    RTMP_LogSetLevel(RTMP_LOGCRIT);
    RTMP_LogSetCallback(sinRegistro);
    hilo_ = std::thread([this] { trabajar(); });
}

Publicador::~Publicador() {
    terminar();
    if (hilo_.joinable()) hilo_.join();
}

void Publicador::terminar() {
    std::lock_guard l(candado_);
    fin_ = true;
    cv_.notify_all();
}

void Publicador::poner(const std::string& bytes) {
    if (roto_) return;
    bufer_ += bytes;
    cortarEtiquetas();
}

void Publicador::cortarEtiquetas() {
    std::size_t i = 0;
    if (!cabeceraVista_) {
        if (bufer_.size() < 13) return;
        if (flv::empiezaFlujo(bufer_)) i = flv::tamCabecera;  // header and the first back-pointer
        cabeceraVista_ = true;
    }
    std::vector<std::pair<flv::Etiqueta, std::string>> nuevas;
    while (bufer_.size() - i >= 11) {
        // A second stream of the same transmission (another window took over) starts with its
        // own header.
        const std::string_view resto = std::string_view(bufer_).substr(i);
        if (flv::empiezaFlujo(resto)) {
            if (resto.size() < flv::tamCabecera) break;
            i += flv::tamCabecera;
            continue;
        }
        const auto e = flv::leer(resto);
        if (!e) {
            // Not FLV: nothing of it can be published, and waiting for a "tag" it announces could
            // hold up to 16 MiB.
            anotar_("el flujo no es FLV; no se publica");
            roto_ = true;
            std::string().swap(bufer_);
            return;
        }
        const std::size_t largo = e->total();
        if (resto.size() < largo) break;
        nuevas.emplace_back(*e, bufer_.substr(i, largo));  // header, body and its back-pointer
        i += largo;
    }
    bufer_.erase(0, i);
    std::lock_guard l(candado_);
    for (auto& [e, t] : nuevas) {
        if (e.tipo == 18 && iniciales_[0].empty()) iniciales_[0] = t;
        if (flv::esConfiguracion(t, e)) iniciales_[e.tipo == 9 ? 1 : 2] = t;  // AVC's, AAC's
        bytesCola_ += t.size();
        cola_.push_back(std::move(t));
    }
    while (bytesCola_ > topeCola && !cola_.empty()) {
        bytesCola_ -= cola_.front().size();
        cola_.pop_front();
    }
    cv_.notify_all();
}

void Publicador::trabajar() {
    pthread_setname_np(pthread_self(), "tm.publicar");
    RTMP* r = nullptr;
    std::vector<char> url(url_.begin(), url_.end());
    url.push_back('\0');
    const std::string visible = sinClave(url_);
    bool avisado = false;
    auto cerrar = [&] {
        if (r) {
            RTMP_Close(r);
            RTMP_Free(r);
            r = nullptr;
        }
    };
    for (;;) {
        std::string tag;
        {
            std::unique_lock l(candado_);
            cv_.wait(l, [&] { return fin_ || !cola_.empty(); });
            if (cola_.empty()) break;  // finished and drained
            tag = std::move(cola_.front());
            cola_.pop_front();
            bytesCola_ -= tag.size();
        }
        if (!r) {
            r = RTMP_Alloc();
            RTMP_Init(r);
            bool ok = RTMP_SetupURL(r, url.data());
            if (ok) {
                RTMP_EnableWrite(r);  // before connecting: we publish
                r->Link.timeout = plazoRed;
                ok = conectar(r);
            }
            if (!ok) {
                if (!avisado) anotar_("no se pudo publicar en " + visible + " (se reintenta cada 5 s)");
                avisado = true;
                cerrar();
                if (alFallar_) alFallar_();
                if (!esperarReintento()) break;
                continue;  // this tag is lost; the stream goes on
            }
            anotar_("publicando en " + visible);
            avisado = false;
            std::string iniciales[3];
            {
                std::lock_guard l(candado_);
                for (int k = 0; k < 3; ++k) iniciales[k] = iniciales_[k];
            }
            for (auto& t : iniciales)
                if (!t.empty() && t != tag) RTMP_Write(r, t.data(), int(t.size()));
        }
        if (RTMP_Write(r, tag.data(), int(tag.size())) <= 0) {
            publicando_ = false;
            anotar_("se perdió la publicación en " + visible);
            cerrar();
            if (alFallar_) alFallar_();
            if (!esperarReintento()) break;
            continue;
        }
        publicando_ = true;
        haPublicado_ = true;
    }
    publicando_ = false;
    cerrar();
}

bool Publicador::esperarReintento() {
    publicando_ = false;
    std::unique_lock l(candado_);
    // What waited is lost: holding it for a destination that may stay away would only grow the
    // queue to its cap, and a live stream goes on from now.
    cola_.clear();
    bytesCola_ = 0;
    cv_.wait_for(l, esperaReintento, [&] { return fin_; });
    return !fin_;
}

}  // namespace tt
