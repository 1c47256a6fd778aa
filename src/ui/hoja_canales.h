#pragma once

#include "channels/canal.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QListWidget;
class QComboBox;

namespace tt {

class Boton;
class Campo;
class Canales;
class CampoSecreto;
class Marca;

// The channel sheet: the account's channels on the left, the form of one on the right, saved
// with the checks of `guardarActual`. Shown window-modal over the main window, which owns it
// while open; `alCerrar` hears the id to select, or nothing. Main thread.
class HojaCanales : public QDialog {
    Q_OBJECT
public:
    HojaCanales(Canales& canales, std::optional<std::string> elegido, QWidget* sobre);

    // The form's channel as typed (the key from whichever key field shows).
    Canal formulario() const;
    bool esNuevo() const { return nuevo; }
    QString nota() const;
    bool notaEnRojo() const { return rojo; }
    // Saves what the form holds; true when it was saved.
    bool guardar();
    // Shows the channel with that id, or a new one.
    void mostrar(const std::optional<std::string>& id);

    std::function<void(std::optional<std::string>)> alCerrar;

protected:
    void done(int r) override;

private:
    void pintarLista();
    void pintarAnteriores();
    void decir(const QString& texto, bool error);
    void preguntarEliminar();

    Canales& canales;
    Canal actual;
    bool nuevo = true;
    bool rojo = false;
    std::optional<std::string> elegir_;  // what to select when the sheet closes
    QLabel* titulo;
    QListWidget* lista;
    Campo* nombre;
    Campo* servidor;
    CampoSecreto* claveOculta;
    Campo* claveVista;
    Marca* ver;
    QLabel* nota_;
    QComboBox* anteriores;
    Boton* guardarBoton;
    Boton* eliminarBoton;
};

}  // namespace tt
