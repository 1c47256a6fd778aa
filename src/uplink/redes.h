#pragma once

#include "uplink/medicion.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tt {

class MedidorSubida;

// Watch over the usable networks and their upload speed. Owned by the main thread: every field is
// read and written there; the watch runs on "tm.redes" and each measurement on its own queue, and
// their results reach the main thread through `alPrincipal` (which runs a function there, later).
class Redes {
public:
    using AlPrincipal = std::function<void(std::function<void()>)>;
    explicit Redes(AlPrincipal alPrincipal);
    ~Redes();
    Redes(const Redes&) = delete;
    Redes& operator=(const Redes&) = delete;

    // Starts the watch of link and address changes; the first update follows at once.
    void arrancar();
    // Measures every usable network not being measured yet, then calls alCambiar.
    void medir();

    const std::vector<std::string>& nombres() const { return nombres_; }  // display names, path order
    const std::map<std::string, double>& sube() const { return sube_; }   // Mbit/s by display name
    const std::set<std::string>& midiendo() const { return midiendo_; }
    const std::map<std::string, std::string>& interfaces() const { return interfaces_; }  // name → interface

    std::function<void()> alCambiar;       // after every update, medir() and finished measurement
    std::function<void()> alCambiarRedes;  // after an update that changed nombres()

    // One path update, on the main thread.
    void recibir(Camino c);
    // The usable networks now, in interface index order (read from `Interfaces`).
    static Camino caminoActual();


    struct Vigia;

private:
    AlPrincipal alPrincipal_;
    void terminada(const std::string& nombre, const Medicion::Resultado& r);

    std::unique_ptr<Vigia> vigia_;
    std::vector<std::string> nombres_;
    std::map<std::string, std::string> interfaces_;
    std::map<std::string, double> sube_;
    std::set<std::string> midiendo_;
    std::map<std::string, std::unique_ptr<MedidorSubida>> medidores_;
    std::shared_ptr<int> vida_ = std::make_shared<int>(0);  // work handed to the main thread checks it
};

}  // namespace tt
