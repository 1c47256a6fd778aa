#pragma once

#include <map>
#include <set>
#include <string>

namespace tt {

// Watch over the usable networks and their upload speed.
class Redes {
public:
    Redes() = default;

    // Names of the interfaces that are up, not loopback, with an IPv4 address outside 169.254/16.
    static std::set<std::string> interfacesConIPv4();
    // An IPv4 address (host order) that can reach beyond the link: not 169.254.x.x.
    static bool direccionUtil(unsigned long direccion);
    // Interface name → display name ("Wi-Fi", "Ethernet", "USB", "Celular"), made unique with
    // " 2", " 3"… in ascending order of interface name. Virtual interfaces (bridges, tunnels,
    // veth pairs, loopback) have none: they never carry a transmission on their own.
    static std::map<std::string, std::string> amigables();
    // The same numbering rule on a given table of kinds, for tests and other sources.
    static std::map<std::string, std::string> numerar(const std::map<std::string, std::string>& tipos);
    // The kind of one interface from its sysfs folder (/sys/class/net/<name>); empty when virtual.
    static std::string tipoDe(const std::string& carpeta);
};

}  // namespace tt
