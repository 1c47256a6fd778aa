#pragma once

// The accounts side of the control service: every HTTP request of the app and the phone page,
// the permissions the relay checks on its own, and the relay's usage reports. No sockets: a body
// and the wall-clock time go in, an answer comes out; what the rooms must learn goes out through
// `alAviso`, and codes to mail through `alMandar`.

#include "base.h"

#include "comun/json.h"
#include "uplink/destino.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tt::control {

struct Ajustes {
    bool prueba = false;           // codes in the answers and the log; the built-in account exists
    long long saldoInicial = 0;    // seconds a new account gets in test mode
    // The relays a permission may name as its "entrada": with several, the least loaded of those
    // that reported lately.
    std::vector<std::string> relays{"127.0.0.1:7935"};
    std::string secreto;           // shared with the relay
    std::string cuentaPrueba = "piloto@tremolante.test";
    double vidaPase = 300;         // a permission not used within this long is refused
    double vidaCodigo = 600;
    int intentosCodigo = 5;
    int codigosPorHora = 10;       // per e-mail and client address: a new code also gives new tries
    int codigosPorCorreo = 30;     // per e-mail from every address together
    int fallosPorCliente = 30;     // wrong codes and passwords from one address in 15 minutes
    int fallosTodos = 1000;        // …from all of them: then an address that failed a few times waits
    double vidaVinculo = 600;
    int fallosClave = 10;          // wrong passwords per e-mail and address in 15 minutes before a pause
    ReglasDestino destinos;        // which channel servers a permission may name
};

struct Respuesta {
    int estado = 200;
    Json cuerpo;
};

// Something the rooms must act on, in the room `sala`.
struct Aviso {
    std::string sala;
    std::optional<long long> saldo;       // push "saldo"
    std::optional<int> vinculados;        // signed-in phones changed
    std::vector<std::string> revocadas;   // tokens (their digests) no longer valid: close their sockets
    // The relay says whether the destination takes this transmission now: push "destino".
    std::optional<std::pair<std::string, bool>> destino;  // sid, publishing
};

// Who a token belongs to.
struct Acceso {
    std::string correo, sala, tipo;  // tipo "mac" or "celular"
    std::string resumen;             // digest of the token
    int vinculados = 0;
};

// Owner: none of its own state beyond the base's lock; callable from any thread.
class Cuentas {
public:
    Cuentas(Base& b, Ajustes a);

    std::function<std::optional<std::string>(const std::string& correo, const std::string& codigo,
                                             const std::string& modo)>
        alMandar;                          // an error text when the mail did not go
    std::function<void(Aviso)> alAviso;
    std::function<void(const std::string&)> alAnotar;

    // `cliente`: the address the request came from (what guessing budgets count).
    Respuesta atender(std::string_view ruta, const Json& cuerpo, double ahora, const std::string& cliente = {});
    // The relay's report of the seconds used by a permission: body signed with the secret.
    Respuesta uso(const std::string& cuerpo, std::string_view firma, double ahora);
    // A relay's report of how many transmissions it holds open, signed the same way.
    Respuesta carga(const std::string& cuerpo, std::string_view firma, double ahora);

    static constexpr double vidaCarga = 15;  // a relay not heard from this long gets no permissions

    std::optional<Acceso> autorizar(std::string_view sala, std::string_view ficha, double ahora);
    void vincular(const std::string& sala, const std::string& ficha, double ahora);
    void desvincular(const std::string& sala);
    // The built-in test account: present in test mode, gone otherwise.
    void prepararPrueba(double ahora);

    static constexpr const char* clavePrueba = "Piloto#4821";

private:
    Respuesta registrar(const Json& c, double ahora, const std::string& cliente);
    Respuesta pedirCodigo(const Json& c, double ahora, const std::string& cliente);
    Respuesta verificar(const Json& c, double ahora, const char* modo, const std::string& cliente);
    Respuesta conClave(const Json& c, double ahora, const std::string& cliente);
    Respuesta restablecer(const Json& c, double ahora, const std::string& cliente);
    Respuesta saldo(const Json& c, double ahora);
    Respuesta pase(const Json& c, double ahora);
    Respuesta salir(const Json& c, double ahora);
    Respuesta reporte(const Json& c, double ahora);
    Respuesta entrarConVinculo(const Json& c, double ahora);
    std::string elegirRelay(double ahora);

    // `clave`: the password digest of the registration the code is for.
    std::optional<Respuesta> emitirCodigo(const std::string& correo, const std::string& modo, double ahora,
                                          const std::string& cliente, Json& respuesta, const std::string& clave = {});
    // On success `clave` gets the password of the registration the code belongs to, if any.
    std::optional<Respuesta> revisarCodigo(const std::string& correo, const std::string& modo,
                                           const std::string& codigo, double ahora, const std::string& cliente,
                                           std::string* clave = nullptr);
    // Under the lock: a refusal when this address has failed too often; noting one more failure.
    std::optional<Respuesta> frenar(const std::string& cliente, double ahora);
    void fallar(const std::string& correo, const std::string& cliente, double ahora);
    void revocarTodo(const std::string& correo, Aviso& a);
    Respuesta dentro(const std::string& correo, const std::string& tipo, double ahora);
    std::optional<Acceso> autenticar(const Json& c, double ahora, bool celularVale = false);
    void anotar(const std::string& t) {
        if (alAnotar) alAnotar(t);
    }
    void avisar(Aviso a) {
        if (alAviso) alAviso(std::move(a));
    }

    Base& b_;
    Ajustes a_;
};

Respuesta fallo(int estado, const std::string& texto);

}  // namespace tt::control
