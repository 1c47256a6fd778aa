#pragma once

#include "pantallas/pantalla.h"
#include "quality/aviso.h"
#include "quality/escalera.h"
#include "quality/tablero.h"

#include <QObject>
#include <QPointer>
#include <QSettings>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tt {

class Motor;
class Redes;
class Canales;
class Almacen;
class VentanaPrincipal;
class Compositor;
class Editor;
class HojaCanales;
class Tarjeta;
class Remoto;
class Actualizador;
class Bienvenida;
class HojaCelular;
struct Pase;
struct PedidoCuenta;
struct SesionGuardada;
namespace pendiente {
class Charlas;
}

// The application object: it owns the engine, the network watch, the channels, the screen store
// and the main window, and coordinates them. Lives on the main thread.
class App : public QObject {
    Q_OBJECT
public:
    App();
    ~App() override;

    void lanzado();  // the application finished launching
    void abrirPrincipal();
    // The sign-in window in place of the main window (bienvenida.cpp).
    void mostrarBienvenida();
    Bienvenida* bienvenidaAbierta() const;

    VentanaPrincipal* ventanaPrincipal() const { return ventana.get(); }

    // The life of one transmission (transmision.cpp).
    void pulsar();
    void empezar(bool enSeco, std::optional<std::string> destino, std::optional<std::string> respaldo,
                 std::optional<Pase> pase);
    void alDetener(bool cortoElServidor);
    void decir(const QString& texto, bool error = false);
    void latidoSalud();  // every second: the health report to the control service
    static int memoriaMB();

    // The open-transmission record, its checks with the relay and the quit path (pendiente.cpp).
    void revisarPendiente(int intento, std::function<void()> siNoHay);
    void retomar(const SesionGuardada& s, long long segundos, int intento);
    // Quitting (menu, signals, TM_SALIR): while on air, asks unless told not to, stops, tells the
    // relay to close ("TM4") and quits on its answer or 4 s later.
    void pedirSalida(bool preguntar);
    bool eventFilter(QObject* objeto, QEvent* evento) override;

    // Devices (dispositivos.cpp).
    void pedirPermisos();
    void listar(bool reabrir);
    void abrirElegidos();
    void cambioDispositivo();
    void cambioMono(bool mono);
    // The channel menu and the channel sheet.
    void pintarCanales();
    void cambioCanal(const QString& id);
    void abrirCanales();
    HojaCanales* hojaCanales() const;
    std::pair<std::optional<std::string>, std::optional<std::string>> elegidos() const;

    // The screen on air (the compositor's and the one the application remembers).
    const std::string& pantallaAlAire() const { return programa; }
    void ponerPantalla(const std::string& id);  // the program: on air at once while streaming
    Compositor& compositor();
    Almacen& pantallas() { return *almacen; }

    // The strip of screen cards and the editor (tira.cpp).
    void pintarTira();
    void pintarFotos(bool soloConCamara);
    void editar(const std::string& id);
    void duplicar(const std::string& id);
    void eliminar(const std::string& id, bool preguntar);
    Editor* editorAbierto() const;
    const std::vector<QPointer<Tarjeta>>& tarjetasTira() const { return tarjetas; }

    // The quality ladder and the live status display (estado.cpp).
    bool ponerEscalon(int i);
    bool soloAudio() const { return escalera.soloAudio(); }
    std::optional<std::string> calidadTexto() const { return escalera.calidadTexto(); }
    void refrescar();  // every 0.25 s
    void pintarEstado();
    void pintarEstados();

    // The account and the phones (celular.cpp).
    Remoto& cuentaRemota() const { return *remoto; }
    // The account is present and in use (the offline test mode behaves as signed out).
    bool conCuenta() const;
    void pedirSaldo();
    void pintarSaldo();
    void cerrarSesion();
    // The phone sheet over the main window.
    void abrirCelular();
    HojaCelular* hojaDelCelular() const;
    void mandarAlCelular(bool todo);
    void latidoRemoto();  // every second

    // The updater (actualizar.cpp): made and started when the main window opens; told of stops.
    void empezarActualizador();
    void actualizadorAlDetener();

private:
    bool tieneCuenta() const;
    void pedirCuenta(const PedidoCuenta& p, std::function<void(std::optional<std::string>)> hecho);
    void sesionDePrueba(const std::string& correo);
    void armarPrincipal();
    void cargarCanal(bool forzar);
    void cambioEnPantalla(const Pantalla& p);
    void pintarFoto(Tarjeta& t, const Pantalla& p);
    void cerrarEditor();
    void alternarRespaldo(const std::string& id);
    void armarTira();
    void abrirPedidas();  // TM_EDITAR, TM_CANALES
    void listoParaTransmitir();
    void programarAuto();
    void programarPrueba();
    void armarEstado();
    void vigilarRedes();
    void pintarRedes();
    void pintarCelular();
    void armarRemoto();
    std::optional<long long> saldoRestante() const;
    void alElegir(const std::string& id);
    void alOrden(bool transmitir);
    void alCamara(const std::string& id);
    void alCambiar();
    void alSaldo(long long segundos);
    void alDestino(const std::string& sid, bool publicando);
    void cuidarCalidad(double t);
    void alCambiarEscalon(int desde);
    void borrarCifras();
    std::optional<std::string> fotoRespaldo();  // the no-internet still, JPEG
    void anotarAlAire();
    void armarPendiente();
    void hablar(const SesionGuardada& s, const std::string& tipo, std::function<void(std::optional<std::string>)> fin);
    // Makes sure the relay closed it; retries every 5 s while the file holds it (or `aunqueNoEste`).
    void asegurarCierre(const SesionGuardada& s, int intento, std::function<void(bool)> alTerminar,
                        bool aunqueNoEste = false);
    void terminarAbierta(const SesionGuardada& s);
    void preguntarAbierta(const SesionGuardada& s, long long segundos);
    bool confirmarCierre();  // on air: "Cortar y cerrar"?
    void cerrarAlSalir(std::function<void()> alTerminar);  // stop, "TM4", quit on the answer or after 4 s

    // Members in order of dependence.
    std::unique_ptr<Motor> motor;
    QSettings preferidas;
    std::unique_ptr<Redes> redes;
    std::unique_ptr<Canales> canales;
    std::unique_ptr<Almacen> almacen;
    std::unique_ptr<Remoto> remoto;
    std::unique_ptr<VentanaPrincipal> ventana;  // built by the first abrirPrincipal
    std::unique_ptr<Actualizador> actualizador;  // made on first use

    std::optional<std::string> canalCargado;
    std::string programa = "camara";
    std::vector<QPointer<Tarjeta>> tarjetas;  // children of the strip, in its order
    QPointer<Editor> editor;                  // at most one, a window of its own
    QPointer<HojaCanales> hoja;               // the channel sheet while it is open
    QPointer<Bienvenida> bienvenida;          // the sign-in window while it is open
    QPointer<HojaCelular> hojaCelular;        // the phone sheet while it is open
    std::pair<std::optional<std::string>, std::optional<std::string>> abiertos;  // camera, microphone
    double inicioVivo = 0;
    bool uiLista = false;

    // The account's balance and the phones' copy of the state.
    std::optional<long long> saldo;
    long long saldoAlEmpezar = 0;
    bool avisoSaldo = false;
    bool paseEnUso = false;    // set by the transmission's start once it runs under a permission
    bool pidiendoPase = false;  // a permission request is outstanding
    bool remotoSucio = true;   // something the phones show changed since the last full snapshot
    long long remotoTic = 0;
    bool enlaceDado = false;
    long long saludTic = 0;
    std::optional<std::string> nombreRespaldo;  // the screen sent as the no-internet still
    std::optional<std::string> sidAlAire;       // the permission's sid while on air under one
    bool sinDestino = false;  // on air, and the relay says the platform is not taking the stream

    // The open-transmission check (main thread).
    bool revisando = false;          // a check with the relay or the recovery dialog is under way
    bool pendienteRevisada = false;  // the pre-start check ran for this press of the button
    bool cierreConfirmado = false;   // the user chose to cut the transmission and quit
    bool saliendo = false;           // quitting: waiting for the relay's answer to "TM4"

    Escalera escalera;
    Tablero tablero;
    // What the window shows and the phones and the health report read: never read back from it.
    CifrasAlAire cifras;   // the status line's figures
    Aviso aviso;           // the notice line
    std::string lineaRedes;  // the network line

    // Last, so it goes first: a conversation still running is dropped before what it reaches.
    std::unique_ptr<pendiente::Charlas> charlas;
};

}  // namespace tt
