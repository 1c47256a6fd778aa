#pragma once

#include <QDialog>
#include <QImage>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QPushButton;

namespace tt {

class Boton;
class CajasCodigo;

// The phone sheet over the main window. Signed in: the QR code of the phone page with the
// account's address, the count of phones, signing the phones or this computer out. Signed out:
// a quick sign-in by mailed code. The application owns it while open and answers its requests;
// `alCerrar` hears whether to open it again (after signing in here). Main thread.
class HojaCelular : public QDialog {
    Q_OBJECT
public:
    using Hecho = std::function<void(std::optional<std::string> error)>;

    // `correo`: the signed-in account, if any; `sitio`: the service's host; `qr`: the code to show.
    HojaCelular(std::optional<std::string> correo, std::string sitio, QImage qr, QWidget* sobre);

    // The phone-count line; the sign-out button for phones shows only when some are signed in.
    void pintar(const QString& linea, bool hayCelulares);
    QString nota() const;
    bool notaEnRojo() const { return rojo_; }
    bool pideCodigo() const { return pideCodigo_; }
    QWidget* cuadroQR() const { return cuadro_; }  // the white square with the code

    std::function<void(const std::string& correo, Hecho)> alPedirCodigo;
    std::function<void(const std::string& correo, const std::string& codigo, Hecho)> alEntrar;
    std::function<void()> alDesvincular;
    std::function<void()> alSalir;
    std::function<void(bool reabrir)> alCerrar;

protected:
    void done(int r) override;

private:
    void armar();
    void decir(const QString& texto, bool error);
    void mandarCodigo();
    void entrarConCodigo();
    void preguntarDesvincular();

    std::optional<std::string> cuenta_;
    std::string sitio_;
    QImage qr_;
    std::string correo_, codigo_;
    bool pideCodigo_ = false;
    bool rojo_ = false;
    bool reabrir_ = false;
    QWidget* cuerpo_ = nullptr;  // rebuilt by armar
    QWidget* cuadro_ = nullptr;
    QLabel* linea_;
    QLabel* nota_;
    Boton* borrar_ = nullptr;
};

}  // namespace tt
