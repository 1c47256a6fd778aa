#include "uplink/interfaces.h"
#include "uplink/redes.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tt;
namespace fs = std::filesystem;

TEST(Redes, nombresRepetidosLlevanNumeroEnOrdenDeInterfaz) {
    auto r = Interfaces::numerar({{"enx2", "USB"}, {"eth1", "Ethernet"}, {"eth0", "Ethernet"}, {"veth0", ""},
                             {"wlan0", "Wi-Fi"}});
    EXPECT_EQ(r.at("eth0"), "Ethernet");
    EXPECT_EQ(r.at("eth1"), "Ethernet 2");
    EXPECT_EQ(r.at("enx2"), "USB");
    EXPECT_EQ(r.at("wlan0"), "Wi-Fi");
    EXPECT_EQ(r.count("veth0"), 0u);  // virtual: no display name, never a link
}

TEST(Redes, tipoSegunSysfs) {
    prueba::CarpetaTemporal c;
    auto hacer = [&](const std::string& n) {
        fs::create_directories(c / n / "device");
        return (c / n).string();
    };
    fs::create_directories(c / "veth0");
    EXPECT_EQ(Interfaces::tipoDe((c / "veth0").string()), "");
    EXPECT_EQ(Interfaces::tipoDe(hacer("eth0")), "Ethernet");
    auto w = hacer("wlan0");
    fs::create_directories(fs::path(w) / "wireless");
    EXPECT_EQ(Interfaces::tipoDe(w), "Wi-Fi");
    auto m = hacer("wwan0");
    prueba::escribir(fs::path(m) / "uevent", "INTERFACE=wwan0\nDEVTYPE=wwan\n");
    EXPECT_EQ(Interfaces::tipoDe(m), "Celular");
    auto u = hacer("enx0");
    fs::create_directories(c / "bus" / "usb");
    fs::create_directory_symlink(c / "bus" / "usb", fs::path(u) / "device" / "subsystem");
    EXPECT_EQ(Interfaces::tipoDe(u), "USB");
}

TEST(Redes, direccionesDeEnlaceLocalNoSirven) {
    EXPECT_FALSE(Interfaces::direccionUtil(0xA9FE0102));  // 169.254.1.2
    EXPECT_TRUE(Interfaces::direccionUtil(0xC0A80102));   // 192.168.1.2
    EXPECT_TRUE(Interfaces::direccionUtil(0xA9FF0001));   // 169.255.0.1
}

TEST(Redes, loopbackNoTieneIPv4Usable) {
    EXPECT_EQ(Interfaces::conIPv4().count("lo"), 0u);
    EXPECT_EQ(Interfaces::amigables().count("lo"), 0u);
}

TEST(Redes, actualizacionDelCaminoAvisaSoloCuandoCambiaLaLista) {
    Redes r([](std::function<void()>) {});  // nothing runs on another thread here
    int cambios = 0, redes = 0;
    r.alCambiar = [&] { ++cambios; };
    r.alCambiarRedes = [&] { ++redes; };
    r.recibir(armarCamino({"eth0", "wlan0"}, {{"eth0", "Ethernet"}, {"wlan0", "Wi-Fi"}}));
    EXPECT_EQ(r.nombres(), (std::vector<std::string>{"Ethernet", "Wi-Fi"}));
    EXPECT_EQ(r.interfaces().at("Wi-Fi"), "wlan0");
    EXPECT_EQ(cambios, 1);
    EXPECT_EQ(redes, 1);
    r.recibir(armarCamino({"eth0", "wlan0"}, {{"eth0", "Ethernet"}, {"wlan0", "Wi-Fi"}}));
    EXPECT_EQ(cambios, 2);
    EXPECT_EQ(redes, 1);  // same list: no new measurement is asked for
    r.recibir(armarCamino({"wlan0", "eth0"}, {{"eth0", "Ethernet"}, {"wlan0", "Wi-Fi"}}));
    EXPECT_EQ(redes, 2);  // the order is part of the list
    r.recibir({});        // unsatisfied
    EXPECT_TRUE(r.nombres().empty());
    EXPECT_TRUE(r.interfaces().empty());
    EXPECT_EQ(redes, 3);
}
