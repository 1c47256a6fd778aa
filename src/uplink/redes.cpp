#include "uplink/redes.h"

#include <filesystem>
#include <fstream>

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

}  // namespace tt
