#pragma once

#include <QObject>
#include <QPointer>
#include <QMainWindow>
#include <QSettings>

#include <memory>
#include <optional>
#include <string>

class QLabel;
class QMainWindow;
class QMenuBar;
class QWidget;

namespace tt {

class Motor;
class Redes;
class Canales;
class Remoto;
class Almacen;

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

private:
    void abrirBienvenida();
    bool tieneCuenta() const;

    // Members in order of dependence.
    std::unique_ptr<Motor> motor;
    QLabel* insignia = nullptr;
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

    std::string programa = "camara";
    double esperaSubir = 10;
    std::optional<double> saldo;

    QPointer<QMainWindow> ventana;
    QPointer<QWidget> contenido;
    bool principalLista = false;
    bool uiLista = false;
    QPointer<QMenuBar> barraMenu;  // handed to the window when it is made
};

}  // namespace tt
