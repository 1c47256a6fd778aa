#pragma once

#include "uplink/publicador.h"
#include "uplink/rearmado.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace tt::relay {

struct Opciones {
    std::string host = "127.0.0.1";
    std::uint16_t puerto = 7935;
    std::string clave;    // for "TM1" answers (no permission)
    std::string secreto;  // shared with the control service: llave = HMAC(secreto, "llave|" + sid)
    std::optional<std::string> salida;   // file for the reassembled FLV; "{sesion}" is replaced
    std::optional<std::string> destino;  // RTMP destination when the client sends none
    std::optional<std::string> razon;    // for tests: answer this instead of "OK"…
    int tras = 0;                        // …after this many admissions
    double silencio = 330;               // a transmission silent this long is closed
    double esperaSaludo = 10;            // time allowed for the answer line
};

class Conexion;

// One transmission: its reassembly, its outputs and its links. Owner: the server's thread.
struct Transmision {
    std::string sesion;
    std::string epoca;  // the uplink instance in charge; an older one is told "RELEVADA"
    std::set<std::string> relevadas;
    bool abierta = true;
    double inicio = 0;
    double ultimo = 0;
    std::unique_ptr<Rearmado> rearmado = std::make_unique<Rearmado>();
    bool flvVisto = false;  // the output already carries an FLV header
    std::FILE* archivo = nullptr;
    std::unique_ptr<Publicador> publicador;
    std::set<Conexion*> conexiones;
    std::string respaldo;
    double primerDato = 0;
    double ultimoAvance = 0;  // when the output last grew
    double huecoMax = 0;      // longest wait for the next sequence number
    std::int64_t bytes = 0;
    ~Transmision();
};

// The relay stand-in: challenge, answer check, admission, acknowledgements, reassembly and
// output. Single-threaded on its io_context.
class Servidor {
public:
    Servidor(boost::asio::io_context& io, Opciones o);
    ~Servidor();
    // Binds and starts accepting; the bound port (useful with port 0) or nothing with an error.
    std::optional<std::uint16_t> iniciar(std::string& error);

    // Called by connections.
    const Opciones& opciones() const { return o_; }
    std::string admitir(Conexion* c, const std::string& sesion, const std::string& epoca,
                        const std::optional<std::string>& destino);
    void datos(Conexion* c, std::uint32_t seq, std::string payload, bool& cerrar);
    std::string charla(const std::string& tipo, const std::string& sesion);
    void olvidar(Conexion* c);

private:
    void aceptar();
    void revisar();
    void cerrarTransmision(Transmision& t, const std::string& porque);
    void abrirSalidas(Transmision& t, const std::optional<std::string>& destino);

    boost::asio::io_context& io_;
    Opciones o_;
    boost::asio::ip::tcp::acceptor aceptor_;
    boost::asio::steady_timer reloj_;
    std::map<std::string, Transmision> transmisiones_;
    std::map<Conexion*, std::string> deConexion_;  // admitted connection → its session
    int admisiones_ = 0;
};

}  // namespace tt::relay
