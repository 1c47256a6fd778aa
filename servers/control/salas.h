#pragma once

// The rooms of the live channel: one per account, with the desktop app ("mac") and the phones
// signed in to it. Who gets which message, decided without sockets: a member's message goes in,
// the texts to send and the sockets to close come out.

#include "cuentas.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tt::control {

using Id = std::uint64_t;
using Texto = std::shared_ptr<const std::string>;  // one copy, shared by every socket it goes to

struct Envio {
    Id a;
    Texto texto;
};

struct Pedido {  // work for the accounts side
    bool vincular = false;  // else: sign every phone of the room out
    std::string sala, ficha;
};

struct Salida {
    std::vector<Envio> envios;
    std::vector<Id> cerrar;  // at once: the peer broke the rules
    std::vector<Id> fuera;   // told "fuera" (signed out), then closed
    std::vector<Pedido> pedidos;
};

// Owner: the network thread.
class Salas {
public:
    Salida entrar(Id id, const Acceso& a);
    Salida salir(Id id);
    Salida recibir(Id id, std::string_view texto, double ahora);
    Salida aviso(const Aviso& a);

    std::size_t miembros() const { return miembros_.size(); }

    static constexpr std::size_t maxMacs = 4, maxCelulares = 20;
    static constexpr std::size_t maxOrden = 4096;  // a phone's message beyond this is ignored
    static constexpr int ordenesPorSegundo = 10;    // a phone's orders beyond this are ignored

private:
    struct Miembro {
        std::string sala;
        bool mac = false;
        std::string resumen;
        double desde = 0;  // a phone's orders in the second that began then
        int ordenes = 0;
    };
    struct Sala {
        std::set<Id> macs, celulares;
        int vinculados = 0;
        Texto estado, vista;  // the last ones, for a phone that arrives
    };
    void contar(const Sala& s, Salida& r) const;
    void aMacs(const Sala& s, const Texto& t, Salida& r) const;
    void aCelulares(const Sala& s, const Texto& t, Salida& r) const;
    void olvidarSiVacia(const std::string& sala);

    std::map<Id, Miembro> miembros_;
    std::map<std::string, Sala> salas_;
};

}  // namespace tt::control
