#pragma once

#include "ui/lista.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class QHBoxLayout;
class QScrollArea;
class QLabel;
class QWidget;

namespace tt {

class Boton;
class Casilla;
class Medidor;
class Pildora;
class Renglon;
class VistaPrevia;

// The main window: on the left the preview with its badge and the strip of screens, on the right
// a column of blocks (camera, audio, channel, phone), the balance and the stream button; at the
// bottom the notice and status lines; and the menu bar. It owns its widgets; the application
// paints them through the setters below and hears the user through the signals. Main thread.
class VentanaPrincipal : public QMainWindow {
    Q_OBJECT
public:
    explicit VentanaPrincipal(QWidget* padre = nullptr);

    // The preview, for the engine's picture callbacks.
    VistaPrevia* previa() const { return previa_; }
    // The row of screen cards under the preview.
    QHBoxLayout* tira() const { return tira_; }
    // The strip's cards were made again: Tab reaches them between the phone button and the stream
    // button (as one stop), and a card focused from the keyboard scrolls into view.
    void ordenarTira(const std::vector<QWidget*>& tarjetas);
    bool eventFilter(QObject* objeto, QEvent* evento) override;

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
    // Under the camera menu: what comes in, and on a second line what goes out.
    void ponerFormato(const QString& texto, const QString& salida = {});
    // The stream button: "Detener" on air, "Transmitir" otherwise.
    void ponerBoton(bool alAire);
    void habilitarBoton(bool si);
    // The device menus, the mono box and the channel menu, locked while on air.
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

    // The channel menu (items tagged with a channel id or "+") and the title over the strip.
    // Emits nothing.
    void llenarCanales(const std::vector<Lista::Item>& items, int elegido);
    std::optional<QString> canal() const;
    void ponerTituloPantallas(const QString& texto);
    // The phone block: its text and the button's title.
    void ponerCelular(const QString& texto, const QString& boton);
    void ponerSesion(bool abierta);  // "Cerrar sesión…" only while signed in
    QString celular() const;

    // The account's balance line; what the phones' snapshot reads back; a device menu's items
    // (title, id) and the choice of one by id (emits nothing; false when no item has that id).
    void ponerSaldo(const QString& texto, Tono tono);
    QString saldo() const;
    bool avisoEsError() const { return avisoError_; }
    bool botonHabilitado() const;
    std::vector<std::pair<QString, QString>> items(Menu menu) const;
    bool elegir(Menu menu, const QString& id);

Q_SIGNALS:
    void pulsado();             // the stream button
    void dispositivoElegido();  // the user chose a camera or a microphone
    void monoCambiado(bool si);
    void canalElegido(const QString& id);  // a channel id, or "+" for the channel sheet
    void celularPedido();       // the phone block's button
    void salirPedido();         // the menu's "Salir"
    void acercaPedido();        // "Acerca de Tremolante Transmitir"
    void cerrarSesionPedido();  // "Cerrar sesión…"

protected:
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void colocar();  // size and place on the screen it is on
    void armarMenu();
    void armar(QWidget* centro, int arriba);
    Lista* menu(Menu m) const;

    VistaPrevia* previa_;
    QLabel* insignia_;  // an Insignia
    QLabel* vacio_;
    Lista* camSel_;
    Lista* micSel_;
    Lista* canalSel_;
    Casilla* monoCaja_;
    Medidor* medidor_;
    QLabel* redesTxt_;
    QLabel* camaraTxt_;
    QLabel* celularTxt_;
    Boton* celularBoton_;
    QLabel* saldoTxt_;
    Pildora* boton_;
    QScrollArea* franja_ = nullptr;
    QAction* cerrarSesion_ = nullptr;
    QPointer<QWidget> focoPrestado_;  // where the keyboard went when the button was disabled
    QHBoxLayout* tira_;
    QLabel* pantallasTit_;
    Renglon* aviso_;
    QLabel* estadoTxt_;
    bool avisoError_ = false;
};

}  // namespace tt
