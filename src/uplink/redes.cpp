#include "uplink/redes.h"

#include "comun/bitacora.h"
#include "comun/cola.h"
#include "comun/principal.h"
#include "uplink/medidor.h"
#include "uplink/reparto.h"

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace tt {

namespace fs = std::filesystem;

std::set<std::string> Redes::interfacesConIPv4() {
    std::set<std::string> nombres;
    ifaddrs* lista = nullptr;
    if (getifaddrs(&lista) != 0) return nombres;
    for (ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_name) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        auto* sin = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
        if (!direccionUtil(ntohl(sin->sin_addr.s_addr))) continue;
        nombres.insert(i->ifa_name);
    }
    freeifaddrs(lista);
    return nombres;
}

bool Redes::direccionUtil(unsigned long a) { return ((a >> 16) & 0xFFFF) != 0xA9FE; }  // link-local

std::string Redes::tipoDe(const std::string& carpeta) {
    const fs::path c(carpeta);
    std::error_code ec;
    if (!fs::exists(c / "device", ec)) return "";  // virtual: no hardware behind it
    if (fs::exists(c / "wireless", ec) || fs::exists(c / "phy80211", ec)) return "Wi-Fi";
    std::ifstream uevent(c / "uevent");
    std::string linea;
    while (std::getline(uevent, linea)) {
        if (linea == "DEVTYPE=wlan") return "Wi-Fi";
        if (linea == "DEVTYPE=wwan") return "Celular";
    }
    auto subsistema = fs::read_symlink(c / "device" / "subsystem", ec);
    if (!ec && subsistema.filename() == "usb") return "USB";
    return "Ethernet";
}

std::map<std::string, std::string> Redes::numerar(const std::map<std::string, std::string>& tipos) {
    std::map<std::string, std::string> r;
    std::map<std::string, int> vistos;
    for (auto& [bsd, tipo] : tipos) {  // std::map walks names in ascending order
        if (tipo.empty()) continue;
        int n = ++vistos[tipo];
        r[bsd] = n == 1 ? tipo : tipo + " " + std::to_string(n);
    }
    return r;
}

std::map<std::string, std::string> Redes::amigables() {
    std::map<std::string, std::string> tipos;
    std::error_code ec;
    for (auto& e : fs::directory_iterator("/sys/class/net", ec))
        tipos[e.path().filename().string()] = tipoDe(e.path().string());
    return numerar(tipos);
}

namespace {
namespace asio = boost::asio;
}

// Listens to rtnetlink link and IPv4 address events; a burst of events gives one update.
struct Redes::Vigia {
    struct Estado : std::enable_shared_from_this<Estado> {
        explicit Estado(asio::io_context& io) : descriptor(io), pausa(io) {}
        asio::posix::stream_descriptor descriptor;
        asio::steady_timer pausa;
        bool pendiente = false;
        std::array<char, 16384> buffer{};
        std::function<void(Camino)> alCamino;

        bool abrir() {
            int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
            if (fd < 0) return false;
            sockaddr_nl dir{};
            dir.nl_family = AF_NETLINK;
            dir.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
            if (::bind(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir) != 0) {
                ::close(fd);
                return false;
            }
            descriptor.assign(fd);
            return true;
        }

        void leer() {
            auto yo = shared_from_this();
            descriptor.async_read_some(asio::buffer(buffer), [yo](const boost::system::error_code& ec, std::size_t) {
                if (ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor) return;
                // Contents do not matter: any link or address event, or an overflow (ENOBUFS) that lost
                // some, means the interfaces are read again.
                yo->programar();
                if (ec && ec != asio::error::no_buffer_space) {
                    bitacora("redes: la vigilancia de interfaces se detuvo: " + ec.message());
                    return;
                }
                yo->leer();
            });
        }

        void programar() {
            if (pendiente) return;
            pendiente = true;
            pausa.expires_after(std::chrono::milliseconds(100));
            auto yo = shared_from_this();
            pausa.async_wait([yo](const boost::system::error_code& ec) {
                if (ec) return;
                yo->pendiente = false;
                yo->publicar();
            });
        }

        void publicar() {
            if (alCamino) alCamino(caminoActual());
        }

        void cerrar() {
            pausa.cancel();
            boost::system::error_code ec;
            descriptor.close(ec);
        }
    };

    Cola q{"tm.redes"};
    std::shared_ptr<Estado> s = std::make_shared<Estado>(q.contexto());

    ~Vigia() {
        q.sincrono([e = std::move(s)]() mutable {
            e->alCamino = nullptr;
            e->cerrar();
            e.reset();
        });
    }
};

Redes::Redes() = default;

Redes::~Redes() {
    vida_.reset();
    vigia_.reset();
    medidores_.clear();
}

void Redes::arrancar() {
    if (vigia_) return;
    vigia_ = std::make_unique<Vigia>();
    std::weak_ptr<int> vida = vida_;
    vigia_->s->alCamino = [this, vida](Camino c) {
        enPrincipal([this, vida, c = std::move(c)]() mutable {
            if (vida.lock()) recibir(std::move(c));
        });
    };
    vigia_->q.asincrono([e = vigia_->s] {
        if (!e->abrir()) bitacora("redes: no se pudo vigilar las interfaces: " + std::string(std::strerror(errno)));
        else e->leer();
        e->publicar();
    });
}

Camino Redes::caminoActual() {
    std::vector<std::string> orden;
    if (auto* lista = if_nameindex()) {
        for (auto* i = lista; i->if_index != 0; ++i) orden.push_back(i->if_name);
        if_freenameindex(lista);
    }
    return armarCamino(orden, Reparto::usables());
}

void Redes::recibir(Camino c) {
    const bool cambio = c.nombres != nombres_;
    nombres_ = std::move(c.nombres);
    interfaces_ = std::move(c.interfaces);
    for (auto it = sube_.begin(); it != sube_.end();)
        it = interfaces_.count(it->first) ? std::next(it) : sube_.erase(it);
    if (alCambiar) alCambiar();
    if (cambio && alCambiarRedes) alCambiarRedes();
}

void Redes::medir() {
    const auto destino = DestinoMedicion::configurado();
    std::weak_ptr<int> vida = vida_;
    for (auto& [nombre, interfaz] : interfaces_) {
        if (midiendo_.count(nombre)) continue;
        midiendo_.insert(nombre);
        auto m = std::make_unique<Medidor>(nombre, interfaz, destino,
                                           [this, vida, nombre](const Medicion::Resultado& r) {
                                               enPrincipal([this, vida, nombre, r] {
                                                   if (vida.lock()) terminada(nombre, r);
                                               });
                                           });
        m->arrancar();
        medidores_[nombre] = std::move(m);
    }
    if (alCambiar) alCambiar();
}

void Redes::terminada(const std::string& nombre, const Medicion::Resultado& r) {
    medidores_.erase(nombre);  // its queue has handed over its last result
    midiendo_.erase(nombre);
    if (r.mbps > 0) sube_[nombre] = r.mbps;
    else sube_.erase(nombre);
    if (alCambiar) alCambiar();
}

}  // namespace tt
