#pragma once

// The life of a transmission as one pure core: the button, the permission, the engine's start and
// stop, the open-transmission record and its checks with the relay, the recovery question, quitting
// and the balance. Events come in with the time (seconds of a steady clock); each answers the
// orders the shell carries out, in order. Nothing here touches a file, a socket, a widget or a
// clock: the record on disk is written only through the orders, and this class keeps the copy the
// decisions read. Lives on the main thread.

#include "sesion/sesion_guardada.h"
#include "protocolo/pase.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tt {

namespace orden {
struct PedirPase {  // ask the control service for a permission
    std::string destino, canal;
};
struct Empezar {  // start the engine
    std::optional<std::string> destino;
    std::optional<Pase> pase;
    bool retomada = false;  // the transmission left open, resumed
};
struct Detener {};   // stop the engine
struct Detenida {};  // the transmission is over: the window goes back to idle
struct Guardar {
    SesionGuardada s;
};
struct Borrar {
    std::string sid;
};
struct MarcarDetenida {
    std::string sid;
};
struct Tocar {};  // a sign of life on the record
struct Hablar {   // a conversation with the relay ("TM3" is it open?, "TM4" close it)
    int charla = 0;
    SesionGuardada s;
    std::string tipo;
};
struct PreguntarAbierta {  // "Seguir transmitiendo" or "Terminar transmisión"
    long long segundos = 0;
    std::string canal;
};
struct PreguntarCierre {};  // on air: "Cortar y cerrar"?
struct Avisar {
    std::string texto;
    bool error = false;
};
struct Anotar {  // a line for the log
    std::string linea;
};
struct PedirSaldo {};
struct MedirRedes {};
struct Salir {};
}  // namespace orden

using Orden = std::variant<orden::PedirPase, orden::Empezar, orden::Detener, orden::Detenida, orden::Guardar,
                           orden::Borrar, orden::MarcarDetenida, orden::Tocar, orden::Hablar,
                           orden::PreguntarAbierta, orden::PreguntarCierre, orden::Avisar, orden::Anotar,
                           orden::PedirSaldo, orden::MedirRedes, orden::Salir>;
using Ordenes = std::vector<Orden>;

class Sesion {
public:
    struct Opciones {
        bool enSeco = false;  // recording to a file instead of going to Kick
        bool seco = false;    // permissions that spend no hours
    };
    // What a press of the button brings once the shell checked the channel.
    struct Pedido {
        bool conPermiso = false;  // the mode signs in: a transmission to Kick needs a permission
        std::optional<std::string> destino;  // the channel's ingest address (holds the key)
        std::string canal;                   // its name
    };
    enum class Fase {
        quieta,
        revisando,  // asking the relay about an earlier transmission, or its question is open
        pidiendo,   // a permission request is outstanding
        alAire,
        saliendo,   // quitting: waiting for the relay's answer
    };
    struct Estado {
        Fase fase = Fase::quieta;
        bool alAire = false;
        bool conPase = false;  // on air under a permission that spends hours
        std::optional<std::string> sid;
        bool sinDestino = false;  // the relay says the platform is not taking the stream
        double inicio = 0;        // on air since (earlier than the start for a resumed one)
        std::optional<long long> saldo;
        bool avisoSaldo = false;  // the five-minute warning was given
        bool cerrando = false;    // a close with the relay is still to be confirmed
        bool listo = false;       // the devices are open: the button can start
    };

    // `registro` is what the record held at launch and `silencio` its age; `pared` the wall clock
    // at `t` (the record's dates are wall-clock ones).
    Sesion(Opciones o, std::optional<SesionGuardada> registro, double silencio, double t, double pared);

    // The account's room while signed in; nothing signed out (no checks with the relay then).
    void ponerCuenta(std::optional<std::string> sala) { sala_ = std::move(sala); }
    // The devices are open (or not): a start, and a resume waiting for them, can go ahead.
    Ordenes ponerListo(double t, bool listo);
    // The main window opened: the record is checked 2.5 s later.
    Ordenes alAbrir(double t);

    Ordenes pulsar(double t, const Pedido& p);
    Ordenes alPase(double t, std::optional<Pase> pase, std::optional<std::string> error);
    Ordenes alCortar(double t, bool cortoElServidor, const std::string& texto);  // the engine gave up
    Ordenes alCharla(double t, int charla, const std::optional<std::string>& respuesta);
    Ordenes alResponderAbierta(double t, std::optional<bool> seguir);  // nothing: closed without a choice
    Ordenes alResponderCierre(double t, bool cortar);
    // Quitting (menu, signals): asks first while on air when `preguntar`.
    Ordenes pedirSalida(double t, bool preguntar);
    // The main window is closing: true lets it close; on air it asks instead.
    bool alCerrarVentana(double t, Ordenes& ordenes);
    // The process is ending without waiting (the last window went by other means): the record is
    // marked stopped, so the next start has the relay close it.
    Ordenes alTerminarProceso(double t);
    Ordenes alSaldo(double t, long long segundos);  // pushed by the service
    Ordenes alSaldoLeido(double t, std::optional<long long> segundos);  // the answer to PedirSaldo
    Ordenes alDestino(double t, const std::string& sid, bool publicando);
    // Once a second on air; `enPausa` while the uplink has no network.
    Ordenes latido(double t, bool enPausa);
    // The timers it asked for: call at or after despertar().
    Ordenes tic(double t);
    std::optional<double> despertar() const;

    Estado estado() const;
    std::optional<long long> saldoRestante(double t) const;
    const std::optional<SesionGuardada>& registro() const { return registro_; }

private:
    enum class Para { nada, terminar };
    struct Cierre {
        SesionGuardada s;
        int intento = 0;
        bool aunqueNoEste = false;     // told even when the record no longer holds it
        bool soloSiDetenida = false;  // the first time, only if the record still holds it stopped
        Para para = Para::nada;
        std::optional<double> en;  // when to ask; nothing while a conversation runs
        int charla = 0;
    };
    struct Consulta {  // "TM3"
        SesionGuardada s;
        int intento = 0;
        std::optional<Pedido> paraEmpezar;  // the press waiting for this check
        int charla = 0;
    };
    struct Pregunta {
        SesionGuardada s;
        long long segundos = 0;  // on air when the relay answered
        double desde = 0;
    };
    struct Tarea {
        enum class Que { revisar, pedirSaldo, medirRedes } que;
        double en = 0;
        int intento = 0;
    };
    struct Retomada {
        SesionGuardada s;
        long long segundos = 0;
        double desde = 0, hasta = 0;
    };

    double silencio(double t) const;
    bool tieneSid(const std::string& sid) const { return registro_ && registro_->sid == sid; }
    void revisar(double t, int intento, std::optional<Pedido> paraEmpezar, Ordenes& o);
    void seguirPulso(double t, const std::optional<Pedido>& p, Ordenes& o);
    void empezar(double t, const Pedido& p, std::optional<Pase> pase, Ordenes& o);
    void retomar(double t, const SesionGuardada& s, long long segundos, Ordenes& o);
    void terminar(double t, bool cortoElServidor, Ordenes& o);
    void cerrar(double t, Cierre c, Ordenes& o);
    void mandarCierres(double t, Ordenes& o);
    void alCerrar(double t, Cierre c, bool cerrada, Ordenes& o);
    void salir(double t, Ordenes& o);
    void terminarSalida(Ordenes& o);
    void avisarSaldo(double t, Ordenes& o);
    void despues(Tarea::Que que, double en, int intento = 0) { tareas_.push_back({que, en, intento}); }

    Opciones opciones_;
    std::optional<SesionGuardada> registro_;
    double vida_ = 0;  // the record's last sign of life, on this clock
    double paredMenosT_ = 0;
    std::optional<std::string> sala_;
    bool listo_ = false;

    Fase fase_ = Fase::quieta;
    Pedido pedido_;  // of the transmission asking for a permission or on air
    bool conPase_ = false;
    std::optional<std::string> sid_;
    bool sinDestino_ = false;
    double inicio_ = 0;
    long long saldoAlEmpezar_ = 0;
    std::optional<long long> saldo_;
    bool avisoSaldo_ = false;

    std::optional<Consulta> consulta_;
    std::optional<Pregunta> pregunta_;  // the recovery question while it is open
    std::optional<Retomada> retomada_;
    std::vector<Cierre> cierres_;
    std::vector<Tarea> tareas_;
    bool preguntandoCierre_ = false;
    bool cierreConfirmado_ = false;
    int charlaSalida_ = 0;
    std::optional<double> salirEn_;
    int charlas_ = 0;
};

}  // namespace tt
