#pragma once

#include "emision.h"
#include "guardado.h"
#include "informes.h"
#include "saludos.h"
#include "uplink/destino.h"
#include "uplink/publicador.h"
#include "uplink/rearmado.h"

#include "comun/cola.h"
#include "comun/permiso.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace tt::relay {

struct Opciones {
    std::string host = "127.0.0.1";
    std::uint16_t puerto = 7935;
    std::string clave;    // for "TM1" answers (no permission); empty: "TM1" is refused
    std::string secreto;  // shared with the control service: llave = HMAC(secreto, "llave|" + sid)
    std::optional<std::string> salida;   // file for the reassembled FLV; "{sesion}" is replaced
    std::optional<std::string> destino;  // RTMP destination when the client sends none
    ReglasDestino destinos;              // what any destination must be before librtmp sees it
    std::optional<std::string> razon;    // for tests: answer this instead of "OK"…
    int tras = 0;                        // …after this many admissions
    std::optional<std::string> control;  // HOST:PUERTO of the control service, told the seconds used
    std::optional<std::string> nombre;   // HOST:PUERTO the apps reach this relay at (default: where it listens)
    double informeCada = 15;             // how often an open transmission's seconds are reported
    double silencio = 330;               // a transmission silent this long is closed
    double plazoDestino = 15;            // a destination that took nothing this long ends it, "CERRADA" (0: never)
    double respaldoTras = 1.5;           // data stopped this long: the fallback picture is published
    double esperaSaludo = 10;            // time allowed for the answer line
    double mudoSaludo = 2;               // …and for its first byte (the app answers in milliseconds)
    double inactividad = 10;             // an admitted link that sends nothing this long is closed
    std::optional<std::string> estado;   // folder for what must survive a restart (see Guardado)
    // What an unauthenticated or misbehaving peer can make the relay hold.
    int maxSaludos = 512;        // connections still in the handshake, all addresses together
    int maxSaludosPorIp = 32;    // …from one network (/24 for IPv4, /64 for IPv6)
    int maxEnlaces = 8;          // links of one transmission at once (the app opens one per network)
    int maxTransmisiones = 100;  // open transmissions
    std::size_t maxEspera = 32u << 20;       // memory for chunks past a gap or half received, per transmission
    std::size_t maxEsperaTotal = 512u << 20;  // …all transmissions together
};

class Conexion;

// One transmission: its reassembly, its outputs and its links. A closed one keeps only its
// identity (to answer "CERRADA") for an hour. Owner: the server's thread.
struct Transmision {
    std::string sesion;
    std::string tipo;   // "TM1" (shared key) or "TM2" (permission): only that key may use the sid
    std::string epoca;  // the uplink instance in charge; an older one is told "RELEVADA"
    std::deque<std::string> relevadas;  // the latest instances relieved, newest last
    bool abierta = true;
    double inicio = 0;
    double ultimo = 0;
    std::unique_ptr<Rearmado> rearmado;
    std::optional<std::string> destino;  // deciphered from the "TM1" answer, or the permission's
    std::optional<Permiso> permiso;      // "TM2": what the control service granted
    double entregado = 0;                // seconds the destination was taking the stream (or the picture)
    long long informados = 0;            // seconds used already handed to the reports
    double finAire = 0;                  // wall clock at the end of the stream: no more seconds count
    double emisionDesde = 0;             // relay clock when the publication began
    double sinSalidaDesde = -1;          // relay clock since the destination took nothing (-1: it takes)
    bool sinSalidaDicha = false;         // the control service was told nothing goes out
    std::string razon = "CERRADA";       // what later handshakes of a closed transmission are told
    bool salidasAbiertas = false;        // file and publication started (at the first data chunk), not ended
    bool flvVisto = false;               // the output already carries an FLV header
    std::FILE* archivo = nullptr;
    std::unique_ptr<Emision> emision;  // the RTMP publication, fallback picture included
    std::set<Conexion*> conexiones;
    std::size_t parcial = 0;  // bytes of chunks its links have only partly received
    std::string respaldo;
    double primerDato = 0;
    double ultimoAvance = 0;  // when the output last grew
    double huecoMax = 0;      // longest wait for the next sequence number
    std::int64_t bytes = 0;
};

// Joins finished publishers on its own thread: ending an RTMP session may wait for a slow
// destination, which the network thread must never do. Owner: the server; its thread only joins.
class Segador {
public:
    Segador() = default;
    ~Segador();
    Segador(const Segador&) = delete;
    Segador& operator=(const Segador&) = delete;
    void entregar(std::unique_ptr<Publicador> p);  // already told to finish
    void parar();                                   // joins everything handed over, then its thread

private:
    std::unique_ptr<Cola> cola_;  // made with the first publisher
};

// The relay stand-in: challenge, answer check, admission, acknowledgements, reassembly and
// output. Single-threaded on the io_context it owns, which outlives everything that uses it.
class Servidor {
public:
    explicit Servidor(Opciones o);
    ~Servidor();
    Servidor(const Servidor&) = delete;
    Servidor& operator=(const Servidor&) = delete;
    // Binds and starts accepting; the bound port (useful with port 0) or nothing with an error.
    std::optional<std::uint16_t> iniciar(std::string& error);
    // Serves until SIGINT or SIGTERM, then closes every connection and output.
    void correr();

    // Called by connections.
    const Opciones& opciones() const { return o_; }
    std::string admitir(Conexion* c, const std::string& tipo, const std::string& sesion, const std::string& epoca,
                        const std::optional<std::string>& destino, const std::optional<Permiso>& permiso = {});
    void datos(Conexion* c, std::uint32_t seq, std::string payload, bool& cerrar);
    std::string charla(const std::string& tipo, const std::string& sesion);
    void finSaludo(Conexion* c);  // the connection leaves the handshake
    // An admitted link holds `bytes` of a chunk not complete yet; false when that is past the
    // memory caps and the link must go.
    bool retener(Conexion* c, std::size_t bytes);
    void soltar(Conexion* c);   // the connection closed: it no longer counts for its transmission
    void olvidar(Conexion* c);  // from its destructor
    void anotarCallada() { ++calladas_; }

private:
    void aceptar();
    void revisar();
    void cerrarTransmision(Transmision& t, const std::string& porque, const std::string& razon = "CERRADA");
    std::optional<std::string> admitirPermiso(const std::string& sesion, const Permiso& p, bool antes);
    void informar(Transmision& t, bool final, bool cambioSalida = false);
    void cerrarSalidas(Transmision& t);
    void abrirSalidas(Transmision& t);
    void soltarEspera(Transmision& t);
    void detener();
    void despedirse();  // on SIGTERM: the final reports, waited for a moment, then stop
    void esperarInformes(double hasta);
    void recordar(const Transmision& t);  // what a restart must know of it, saved within a second
    void avisarRechazos(double t);

    boost::asio::io_context io_;  // first: destroyed last
    Opciones o_;
    boost::asio::ip::tcp::acceptor aceptor_;
    boost::asio::steady_timer reloj_, reintento_;
    boost::asio::signal_set senales_;
    Taller taller_;  // before the transmissions: their publications use it
    std::map<std::string, Transmision> transmisiones_;
    std::map<std::string, std::string> salaViva_;  // room → the sid on air for it (permissions only)
    std::unique_ptr<Informes> informes_;
    std::deque<std::string> cerradas_;  // closed transmissions, oldest first
    int abiertas_ = 0;
    std::map<Conexion*, std::string> deConexion_;  // admitted connection → its session
    std::set<Conexion*> conexiones_;               // every live connection
    Saludos saludos_;
    std::size_t esperaTotal_ = 0;
    std::size_t parcialTotal_ = 0;  // all transmissions' partly received chunks
    Guardado guardado_;
    int guardadoSucio_ = 0;  // 1: to save; 2: the last save failed (and was logged)
    double ultimoGuardado_ = 0;
    std::size_t picoConexiones_ = 0;  // since memory was last given back to the system
    bool soltarMemoria_ = false;
    double ultimoRecorte_ = 0;
    double ultimaRevision_ = 0;  // relay clock of the previous check: the delivered time's step
    double ultimaCarga_ = -1e9;  // relay clock of the last load report
    // Refusals and cuts not yet logged: one line for a burst of them.
    long rechazadas_ = 0;   // connections refused by the handshake caps
    long calladas_ = 0;     // …cut for saying nothing after the challenge
    long inactivos_ = 0;    // admitted links closed for sending nothing
    long desplazados_ = 0;  // …replaced by a newer one past the transmission's cap
    long excedidos_ = 0;    // …holding more of a partial chunk than the memory caps allow
    double ultimoAvisoRechazo_ = 0;
    int admisiones_ = 0;
    bool parando_ = false;
    Segador segador_;
};

}  // namespace tt::relay
