#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QTimer;
class QPushButton;
class QVBoxLayout;

namespace tt {

class BotonGrande;
class CajasCodigo;
class VistaReglas;

// What the sign-in window asks of the control service.
struct PedidoCuenta {
    enum class Tipo { registrar, pedirCodigo, verificar, entrar, entrarConClave, restablecer };
    Tipo tipo;
    std::string correo, clave, codigo;
    std::string modo;  // of pedirCodigo: "entrar" or "recuperar"
};

// Longest password the window sends; a longer one is refused with a message before any request.
constexpr int kLargoMaximoClave = 256;

// The sign-in window: a few steps rebuilt in place (the welcome, creating an account and
// confirming it by code, signing in by password or code, a new password). It validates what is
// typed, asks the service through `alPedir` and calls `alEntrar` once signed in. Main thread;
// the application owns it while it is open.
class Bienvenida : public QWidget {
    Q_OBJECT
public:
    using Hecho = std::function<void(std::optional<std::string> error)>;

    explicit Bienvenida(QWidget* padre = nullptr);

    void ir(const QString& paso);
    void probar(const QString& paso);  // test input: a sample address, then that step
    const QString& paso() const { return paso_; }
    QString nota() const;
    bool notaEnRojo() const { return rojo_; }
    bool ocupado() const { return ocupado_; }
    QString correo() const { return correo_; }
    // Test mode: the service answered with the code it mailed; shown under the code boxes.
    void ponerCodigoDePrueba(const QString& codigo);
    QString codigoDePrueba() const;  // as shown, empty when not

    // The request and its answer (nothing on success, else the text to show); the answer may
    // come after the window is gone.
    std::function<void(const PedidoCuenta&, Hecho)> alPedir;
    std::function<void()> alEntrar;
    int periodoReenvio = 1000;  // ms of one tick of the resend countdown

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void armar();
    QLabel* titulo(const char* texto);
    QLabel* texto(const QString& texto, double tam = 14);
    QPushButton* enlace(const char* texto, const char* paso);
    void campoCorreo();
    void principal(const char* titulo, std::function<void()> al);
    void decir(const QString& texto, bool error);
    void ocupar(const char* texto);
    void soltar();
    void terminar(std::optional<std::string> error);
    bool correoListo();
    bool claveLarga(const QString& clave);
    void pedir(PedidoCuenta p, std::function<void(std::optional<std::string>)> luego);
    void crear();
    void conClave();
    void mandarCodigo(bool recuperar);
    void verificarCodigo(PedidoCuenta::Tipo tipo);
    void nuevaClave();
    void reenviar();
    void contar();
    void pintarReenvio();

    QString paso_ = "inicio";
    QString correo_, clave_, clave2_, codigo_;
    bool ocupado_ = false;
    bool rojo_ = false;
    int faltan_ = 0;
    QWidget* hoja_ = nullptr;  // this step's views, rebuilt by armar
    QVBoxLayout* pila_ = nullptr;
    QLabel* nota_ = nullptr;
    QString codigoPrueba_;
    QLabel* prueba_ = nullptr;  // on a step with code boxes, in test mode
    BotonGrande* principal_ = nullptr;
    VistaReglas* reglas_ = nullptr;
    QPushButton* reenviar_ = nullptr;
    QWidget* primero_ = nullptr;  // takes the focus
    QTimer* cuenta_;
};

}  // namespace tt
