#pragma once

#include "comun/cuadro.h"
#include "pantallas/pantalla.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

class QLabel;
class QTimer;
class QVBoxLayout;

namespace tt {

class Almacen;

// The window that edits one screen: a live preview on the left, the form on the right. Every
// change of the user goes into `p` and out through `alCambiar` (the application saves it and puts
// it on air when it is the program). Reads the store for thumbnails and imports; owned by the
// application while open (deleted on close). Main thread.
class Editor : public QWidget {
    Q_OBJECT
public:
    Editor(const Pantalla& p, Almacen& almacen, QWidget* junto);
    ~Editor() override;

    const Pantalla& pantalla() const { return p; }
    // Repaints the preview and its notes.
    void pintar();
    // A file the user chose goes through the store's import, copied off the main thread with its
    // progress in the notes; an error shows in a sheet. `hecho` gets the error text, or nothing
    // once the file is the background.
    void usarArchivo(const std::filesystem::path& archivo,
                     std::function<void(std::optional<std::string>)> hecho = nullptr);
    bool copiando() const { return copiando_; }
    QImage vista() const { return vista_; }
    QString notas() const;

    std::function<void(const Pantalla&)> alCambiar;
    std::function<void()> alEliminar, alDuplicar, alCerrar;
    std::function<std::optional<Cuadro>()> camara;  // the latest camera frame, if any

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void armarForma();  // (re)builds the form from `p`
    void cambio(bool rehacer = false);
    void elegirArchivo();
    void preguntarEliminar();
    void pintarVista();  // the last composed picture at the preview's size

    Pantalla p;
    Almacen& almacen;
    QLabel* foto;  // 16:9
    QLabel* nota;
    QWidget* forma = nullptr;
    QVBoxLayout* columna;
    QTimer* reloj;
    QImage vista_;
    bool copiando_ = false;
};

}  // namespace tt
