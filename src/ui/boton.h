#pragma once

#include <QColor>
#include <QPushButton>

#include <functional>
#include <optional>

namespace tt {

// A rounded push button with a title and an optional symbol before it (the symbol alone when
// the title is empty); `al` hears each click. With `realce`, an enabled button under the pointer
// shows a faint white background when its own is missing or fainter. Main thread.
class Boton : public QPushButton {
    Q_OBJECT
public:
    Boton(const QString& titulo, const QString& simbolo = {}, QWidget* padre = nullptr);

    void ponerTitulo(const QString& titulo);
    void ponerFondo(std::optional<QColor> fondo);  // none: no background of its own
    std::optional<QColor> fondo() const { return fondo_; }
    // The background drawn now (the hover one while it shows).
    std::optional<QColor> fondoVisible() const;

    bool realce = true;
    QColor tinta = Qt::white;  // the title's and the symbol's colour (red for a destructive action)
    std::function<void()> al;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void focusInEvent(QFocusEvent* e) override;

private:
    QString simbolo_;
    std::optional<QColor> fondo_;
    bool encima_ = false;
    bool focoTeclado_ = false;  // focus came with Tab: the ring shows
};

}  // namespace tt
