#pragma once

#include "pantallas/pantalla.h"
#include "quality/aviso.h"
#include "quality/escalera.h"
#include "quality/tablero.h"
#include "sesion/sesion.h"

#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QTimer>

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
class Guion;
class Fotos;
class Inhibidor;
struct Pase;
struct PedidoCuenta;
struct SesionGuardada;
class Charlas;
class Cola;

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
    void traerAlFrente();  // a second start asked for this copy

    // The life of one transmission (transmision.cpp): the session decides, the application
    // carries out its orders and paints its state.
    void pulsar();
    bool alAire() const;
    void calidadDePrueba(int kbps);  // the encoder to that bit rate now (TM_CALIDAD)
    void decir(const QString& texto, bool error = false);
    void latidoSalud();  // every second: the health report to the control service
    static int memoriaMB();

    // Quitting (menu, signals, TM_SALIR): while on air, asks unless told not to, stops, tells the
    // relay to close ("TM4") and quits on its answer or 4 s later (pendiente.cpp).
    void pedirSalida(bool preguntar);
    bool eventFilter(QObject* objeto, QEvent* evento) override;

    // Devices (dispositivos.cpp).
    void pedirPermisos();
    void listar(bool reabrir);
    void abrirElegidos();
    void revisarDispositivos();
    void microfonoCallado(bool callado);
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
    void pintarFotos();  // the thumbnails whose screens changed (and the camera's, once a second)
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
    void armarPrincipal();
    void cargarCanal(bool forzar);
    void cambioEnPantalla(const Pantalla& p);
    void cerrarEditor();
    void alternarRespaldo(const std::string& id);
    void armarTira();
    void listoParaTransmitir();
    void dispositivosAbiertos(bool listos);
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
    void ponerCuenta();  // the session learns whether an account is signed in, and its room

    // Carrying out the session's orders (transmision.cpp, pendiente.cpp).
    void hacer(const Ordenes& ordenes);
    void pedirPase(const orden::PedirPase& o);
    void arrancar(const orden::Empezar& o);
    void alDetener();
    void pintarSesion();
    void armarPendiente();
    void hablar(const orden::Hablar& o);
    void preguntarAbierta(const orden::PreguntarAbierta& o);
    void preguntarCierre();

    // Members in order of dependence.
    std::unique_ptr<Motor> motor;
    QSettings preferidas;
    std::unique_ptr<Redes> redes;
    std::unique_ptr<Canales> canales;
    std::unique_ptr<Almacen> almacen;
    std::unique_ptr<Fotos> fotos;  // the cards' thumbnails, drawn from the store on a worker
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

    // The transmission's life, the timer it asked for and what was last painted of it.
    std::unique_ptr<Sesion> sesion;
    std::unique_ptr<Cola> registro;  // writes the open-transmission record; ends after what it was given
    std::unique_ptr<Inhibidor> inhibidor;  // no idle suspend while on air
    QTimer despertador;
    Sesion::Estado pintado;
    Guion* guion = nullptr;  // the test switches; a child of the application object

    // The phones' copy of the state.
    bool remotoSucio = true;   // something the phones show changed since the last full snapshot
    long long remotoTic = 0;
    long long saludTic = 0;
    std::optional<std::string> nombreRespaldo;  // the screen sent as the no-internet still

    Escalera escalera;
    Tablero tablero;
    // What the window shows and the phones and the health report read: never read back from it.
    CifrasAlAire cifras;   // the status line's figures
    Aviso aviso;           // the notice line
    std::string lineaRedes;  // the network line

    // Last, so it goes first: a conversation still running is dropped before what it reaches.
    std::unique_ptr<Charlas> charlas;
};

}  // namespace tt
