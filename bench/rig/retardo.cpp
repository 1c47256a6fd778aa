// tremolante-retardo: delays, jitters and drops the packets of one NFQUEUE queue, for the rig
// (these kernels have no netem). Packets keep their order; each waits demora ± variacion ms, and
// a share given by --perdida is dropped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>

#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>

namespace {

struct Estado {
    nfq_q_handle* cola = nullptr;
    double demora = 0, variacion = 0, perdida = 0;
    std::mt19937 azar{12345};
    std::deque<std::pair<double, std::uint32_t>> espera;  // (due, packet id), due ascending
    double ultimo = 0;
};

volatile std::sig_atomic_t salir = 0;

double ahora() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int alLlegar(nfq_q_handle* q, nfgenmsg*, nfq_data* nfa, void* dato) {
    auto* e = static_cast<Estado*>(dato);
    auto* h = nfq_get_msg_packet_hdr(nfa);
    if (!h) return 0;
    std::uint32_t id = ntohl(h->packet_id);
    if (std::uniform_real_distribution<double>(0, 100)(e->azar) < e->perdida)
        return nfq_set_verdict(q, id, NF_DROP, 0, nullptr);
    double d = e->demora + std::uniform_real_distribution<double>(-e->variacion, e->variacion)(e->azar);
    double debido = std::max(ahora() + std::max(d, 0.0) / 1000, e->ultimo);  // no reordering
    e->ultimo = debido;
    e->espera.emplace_back(debido, id);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int numero = 0;
    Estado e;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        double v = std::atof(argv[i + 1]);
        if (a == "--cola") numero = int(v);
        else if (a == "--demora") e.demora = v;
        else if (a == "--variacion") e.variacion = v;
        else if (a == "--perdida") e.perdida = v;
    }
    std::signal(SIGTERM, [](int) { salir = 1; });
    std::signal(SIGINT, [](int) { salir = 1; });
    nfq_handle* h = nfq_open();
    if (!h) {
        std::perror("nfq_open");
        return 1;
    }
    e.cola = nfq_create_queue(h, std::uint16_t(numero), &alLlegar, &e);
    if (!e.cola) {
        std::perror("nfq_create_queue");
        return 1;
    }
    nfq_set_mode(e.cola, NFQNL_COPY_META, 0);
    nfq_set_queue_maxlen(e.cola, 20000);
    int fd = nfq_fd(h);
    int grande = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &grande, sizeof grande);
    char bufer[65536] __attribute__((aligned));
    while (!salir) {
        int espera = 50;
        if (!e.espera.empty()) espera = std::max(0, int((e.espera.front().first - ahora()) * 1000));
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, std::min(espera, 50)) > 0) {
            ssize_t n = recv(fd, bufer, sizeof bufer, MSG_DONTWAIT);
            if (n > 0) nfq_handle_packet(h, bufer, int(n));
        }
        const double t = ahora();
        while (!e.espera.empty() && e.espera.front().first <= t) {
            nfq_set_verdict(e.cola, e.espera.front().second, NF_ACCEPT, 0, nullptr);
            e.espera.pop_front();
        }
    }
    for (auto& [t, id] : e.espera) nfq_set_verdict(e.cola, id, NF_ACCEPT, 0, nullptr);
    nfq_destroy_queue(e.cola);
    nfq_close(h);
    return 0;
}
