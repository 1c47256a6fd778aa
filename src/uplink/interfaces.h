#pragma once

#include <boost/asio/io_context.hpp>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tt {

// The one reader of the system's network interfaces: which ones may carry a transmission, their
// display names, their order, and the rtnetlink events that say they changed. Both the network
// watch (`Redes`) and the uplink (`Reparto`) ask here.
class Interfaces {
public:
    // The interfaces a transmission may use now: BSD name → display name. Up, running (carrier
    // present), with an IPv4 address outside 169.254/16 and a display name. With TM_INTERFACES
    // (names separated by commas, loopback allowed) only those, named by their own name when the
    // system gives them none: for tests and the rig.
    static std::map<std::string, std::string> usables();
    // Interface names in index order (the order the system lists them).
    static std::vector<std::string> orden();

    // Names of the interfaces that are up, not loopback, with an IPv4 address outside 169.254/16.
    static std::set<std::string> conIPv4();
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

// Listens to rtnetlink link and IPv4 address events on an io_context; a burst of events within
// `pausa` seconds gives one call of `alCambiar`, as does an overflow that lost some.
// Owner: the thread that runs the io_context; create, use and close it there.
class VigiaInterfaces {
public:
    VigiaInterfaces(boost::asio::io_context& io, double pausa, std::function<void()> alCambiar);
    ~VigiaInterfaces();
    VigiaInterfaces(const VigiaInterfaces&) = delete;
    VigiaInterfaces& operator=(const VigiaInterfaces&) = delete;

    // False with the reason when the events cannot be heard (the caller still polls).
    bool abrir(std::string* error = nullptr);
    void cerrar();

private:
    struct Estado;
    std::shared_ptr<Estado> e_;
};

}  // namespace tt
