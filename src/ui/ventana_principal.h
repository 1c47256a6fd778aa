#pragma once

#include <QMainWindow>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace tt {

class Medidor;
class VistaPrevia;

// The main window: the preview with its badge, the device menus, the network lines, the notice
// and status lines, the stream button and the menu bar. It owns its widgets; the application
// paints them through the setters below and hears the user through the signals. Main thread.
class VentanaPrincipal : public QMainWindow {
    Q_OBJECT
public:
    explicit VentanaPrincipal(QWidget* padre = nullptr);

    // The preview, for the engine's picture callbacks.
    VistaPrevia* previa() const { return previa_; }

    enum class Tono { secundario, rojo, naranja };
    enum class Menu { camara, microfono };

    // The notice line under the preview; errors in red.
    void decir(const QString& texto, bool error = false);
    QString aviso() const;
    // The badge over the preview: on air it is red.
    void ponerInsignia(const QString& texto, bool alAire);
    QString insignia() const;
    void ponerRedes(const QString& texto, Tono tono);
    QString redes() const;
    void ponerEstado(const QString& texto);  // the status line at the right of the notice
    // The placeholder over the preview: shown with a text, hidden without.
    void ponerVacio(std::optional<QString> texto);
    void ponerFormato(const QString& texto);  // under the camera menu
    // The stream button: "Detener" on air, "Transmitir" otherwise.
    void ponerBoton(bool alAire);
    void habilitarBoton(bool si);
    // The device menus and the mono box, locked while on air.
    void habilitarDispositivos(bool si);
    // Fills a device menu with (title, id) items selecting `elegido`; with no items, the single
    // disabled item `vacio`. Emits nothing.
    void llenar(Menu menu, const std::vector<std::pair<QString, QString>>& items, std::optional<int> elegido,
                const QString& vacio);
    // The id of the selected item, if it carries one.
    std::optional<std::string> elegido(Menu menu) const;
    void ponerMono(bool si);  // emits nothing
    // The audio meter under the microphone menu: the linear peak 0…1.
    void ponerNivel(float nivel);
    float nivel() const;
    bool mono() const;

Q_SIGNALS:
    void pulsado();             // the stream button
    void dispositivoElegido();  // the user chose a camera or a microphone
    void monoCambiado(bool si);
    void salirPedido();         // the menu's "Salir"

protected:
    void moveEvent(QMoveEvent* e) override;

private:
    void armarMenu();
    void armar(QWidget* centro);
    QComboBox* menu(Menu m) const;

    VistaPrevia* previa_;
    QLabel* insignia_;
    QWidget* insigniaFondo_;
    QLabel* vacio_;
    QComboBox* camSel_;
    QComboBox* micSel_;
    QLabel* camaraTxt_;
    Medidor* medidor_;
    QCheckBox* monoCaja_;
    QLabel* redesTxt_;
    QLabel* celularTxt_;
    QLabel* saldoTxt_;
    QPushButton* boton_;
    QLabel* pantallasTit_;
    QLabel* aviso_;
    QLabel* estadoTxt_;
};

}  // namespace tt
