#include "uplink/interfaces.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tt {

namespace fs = std::filesystem;
namespace asio = boost::asio;

namespace {

struct Direccion {
    std::string nombre;
    unsigned flags = 0;
    bool ipv4 = false;
    unsigned long direccion = 0;  // host order, IPv4 only
};

// One walk of the system's address list; empty when it cannot be read.
std::vector<Direccion> direcciones() {
    std::vector<Direccion> v;
    ifaddrs* lista = nullptr;
    if (getifaddrs(&lista) != 0) return v;
    for (ifaddrs* i = lista; i; i = i->ifa_next) {
        if (!i->ifa_name) continue;
        Direccion d{i->ifa_name, i->ifa_flags};
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET) {
            d.ipv4 = true;
            d.direccion = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        }
        v.push_back(std::move(d));
    }
    freeifaddrs(lista);
    return v;
}

}  // namespace

std::set<std::string> Interfaces::conIPv4() {
    std::set<std::string> r;
    for (auto& d : direcciones())
        if (d.ipv4 && (d.flags & IFF_UP) && !(d.flags & IFF_LOOPBACK) && direccionUtil(d.direccion)) r.insert(d.nombre);
    return r;
}

std::map<std::string, std::string> Interfaces::usables() {
    const auto lista = direcciones();
    std::set<std::string> corriendo, ipv4, ipv4Loopback;
    for (auto& d : lista) {
        if (!(d.flags & IFF_UP)) continue;
        if (d.flags & IFF_RUNNING) corriendo.insert(d.nombre);
        if (!d.ipv4) continue;
        ipv4Loopback.insert(d.nombre);
        if (!(d.flags & IFF_LOOPBACK) && direccionUtil(d.direccion)) ipv4.insert(d.nombre);
    }
    const auto nombres = amigables();
    std::map<std::string, std::string> r;
    if (auto elegidas = entorno().variable("TM_INTERFACES")) {
        std::stringstream ss(*elegidas);
        std::string n;
        while (std::getline(ss, n, ','))
            if (!n.empty() && ipv4Loopback.count(n) && corriendo.count(n)) {
                auto it = nombres.find(n);
                r[n] = it != nombres.end() ? it->second : n;
            }
        return r;
    }
    for (auto& n : ipv4) {
        auto it = nombres.find(n);
        if (it != nombres.end() && corriendo.count(n)) r[n] = it->second;
    }
    return r;
}

std::vector<std::string> Interfaces::orden() {
    std::vector<std::string> v;
    if (auto* lista = if_nameindex()) {
        for (auto* i = lista; i->if_index != 0; ++i) v.push_back(i->if_name);
        if_freenameindex(lista);
    }
    return v;
}

bool Interfaces::direccionUtil(unsigned long a) { return ((a >> 16) & 0xFFFF) != 0xA9FE; }  // link-local

std::string Interfaces::tipoDe(const std::string& carpeta) {
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

std::map<std::string, std::string> Interfaces::numerar(const std::map<std::string, std::string>& tipos) {
    std::map<std::string, std::string> r;
    std::map<std::string, int> vistos;
    for (auto& [bsd, tipo] : tipos) {  // std::map walks names in ascending order
        if (tipo.empty()) continue;
        int n = ++vistos[tipo];
        r[bsd] = n == 1 ? tipo : tipo + " " + std::to_string(n);
    }
    return r;
}

std::map<std::string, std::string> Interfaces::amigables() {
    std::map<std::string, std::string> tipos;
    std::error_code ec;
    for (auto& e : fs::directory_iterator("/sys/class/net", ec))
        tipos[e.path().filename().string()] = tipoDe(e.path().string());
    return numerar(tipos);
}

struct VigiaInterfaces::Estado : std::enable_shared_from_this<Estado> {
    Estado(asio::io_context& io, double pausa, std::function<void()> fn)
        : descriptor(io), temporizador(io), pausa(pausa), alCambiar(std::move(fn)) {}
    asio::posix::stream_descriptor descriptor;
    asio::steady_timer temporizador;
    double pausa;
    std::function<void()> alCambiar;
    bool pendiente = false;
    std::array<char, 16384> buffer{};

    void leer() {
        auto yo = shared_from_this();
        descriptor.async_read_some(asio::buffer(buffer), [yo](const boost::system::error_code& ec, std::size_t) {
            if (ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor || !yo->alCambiar) return;
            // Contents do not matter: any link or address event, or an overflow (ENOBUFS) that
            // lost some, means the interfaces are read again.
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
        temporizador.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(pausa)));
        auto yo = shared_from_this();
        temporizador.async_wait([yo](const boost::system::error_code& ec) {
            if (ec || !yo->alCambiar) return;
            yo->pendiente = false;
            yo->alCambiar();
        });
    }
};

VigiaInterfaces::VigiaInterfaces(asio::io_context& io, double pausa, std::function<void()> alCambiar)
    : e_(std::make_shared<Estado>(io, pausa, std::move(alCambiar))) {}

VigiaInterfaces::~VigiaInterfaces() { cerrar(); }

bool VigiaInterfaces::abrir(std::string* error) {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl dir{};
    dir.nl_family = AF_NETLINK;
    dir.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&dir), sizeof dir) != 0) {
        if (error) *error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    e_->descriptor.assign(fd);
    e_->leer();
    return true;
}

void VigiaInterfaces::cerrar() {
    // Pending handlers still hold the state; without the callback they end quietly.
    e_->alCambiar = nullptr;
    e_->temporizador.cancel();
    boost::system::error_code ec;
    e_->descriptor.close(ec);
}

}  // namespace tt
