#pragma once

#include <QObject>
#include <QPointer>
#include <QMainWindow>
#include <QColor>
#include <QSettings>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QMainWindow;
class QMenuBar;
class QWidget;

namespace tt {

class Motor;
class Redes;
class Canales;
class Remoto;
class Almacen;
class VistaPrevia;
struct Pase;

// The application object and main-window controller. Lives on the main thread.
class App : public QObject {
    Q_OBJECT
public:
    App();
    ~App() override;

    void lanzado();  // the application finished launching
    void abrirPrincipal();

    // Window (built in ui/ventana.cpp).
    void crearVentana();
    void armarMenu();
    void armarVentana();
    void armarPrincipal();

    QMainWindow* ventanaPrincipal() const { return ventana.data(); }

    // The life of one transmission (transmision.cpp).
    void pulsar();
    void empezar(bool enSeco, std::optional<std::string> destino, std::optional<std::string> respaldo,
                 std::optional<Pase> pase);
    void alDetener(bool cortoElServidor);
    void decir(const QString& texto, bool error = false);
    QString textoAviso() const;
    QString textoInsignia() const;

    // Devices (dispositivos.cpp).
    void pedirPermisos();
    void listar(bool reabrir);
    void abrirElegidos();
    void cambioDispositivo();
    std::pair<std::optional<std::string>, std::optional<std::string>> elegidos() const;

private:
    void abrirBienvenida();
    bool tieneCuenta() const;
    void cargarCanal(bool forzar);
    void ponerPantalla(const std::string& id);  // on air
    void listoParaTransmitir();
    void programarPrueba();
    void vigilarRedes();
    void pintarRedes();
    void pintarInsignia(const QString& texto, QColor fondo);

    // Members in order of dependence.
    std::unique_ptr<Motor> motor;
    QLabel* insignia = nullptr;
    QWidget* insigniaFondo = nullptr;
    QComboBox* camSel = nullptr;
    QComboBox* micSel = nullptr;
    QCheckBox* monoCaja = nullptr;
    QPushButton* boton = nullptr;
    VistaPrevia* previa = nullptr;
    QLabel* vacio = nullptr;
    QLabel* redesTxt = nullptr;
    QLabel* camaraTxt = nullptr;
    QLabel* celularTxt = nullptr;
    QLabel* saldoTxt = nullptr;
    QLabel* pantallasTit = nullptr;
    QLabel* aviso = nullptr;
    QLabel* estadoTxt = nullptr;
    QSettings preferidas;
    std::unique_ptr<Redes> redes;
    std::unique_ptr<Canales> canales;
    std::unique_ptr<Remoto> remoto;
    std::unique_ptr<Almacen> almacen;

    std::optional<std::string> canalCargado;
    std::string programa = "camara";
    std::pair<std::optional<std::string>, std::optional<std::string>> abiertos;  // camera, microphone
    bool pidiendoPase = false;
    double inicioVivo = 0;
    std::vector<int> escalones;  // quality ladder, kbit/s
    int escalon = 0;
    double esperaSubir = 10;
    double cambioEn = 0;  // last change of quality
    std::optional<double> saldo;

    QPointer<QMainWindow> ventana;
    QPointer<QWidget> contenido;
    bool principalLista = false;
    bool uiLista = false;
    QPointer<QMenuBar> barraMenu;  // handed to the window when it is made
};

}  // namespace tt
