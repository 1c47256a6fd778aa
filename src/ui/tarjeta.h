#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

namespace tt {

// One card of the strip of screens: the screen's thumbnail and name, the "AL AIRE" badge, the
// edit badge under the pointer and the no-internet badge; without an id it is the "Nueva
// pantalla" card. It paints itself and tells the application what the user did through the `al…`
// callbacks. From the keyboard the strip is one stop of Tab: the arrows walk its cards, Return or
// Space chooses one. Main thread, a child of the strip.
class Tarjeta : public QWidget {
    Q_OBJECT
public:
    static constexpr int ancho = 148;
    static constexpr int altoFoto = 83;

    Tarjeta(std::optional<std::string> id, const QString& nombre, QWidget* padre = nullptr);

    const std::optional<std::string>& id() const { return id_; }
    QString nombre() const { return nombre_; }
    void poner(const QImage& foto, const QString& nombre);
    void ponerNombre(const QString& nombre);
    // 0 not the program, 1 the program off the air, 2 the program on the air.
    void ponerEstado(int estado, bool respaldo);
    int estado() const { return estado_; }
    bool respaldo() const { return respaldo_; }
    bool tieneFoto() const { return !foto_.isNull(); }
    const QImage& foto() const { return foto_; }
    // The edit badge's circle, in the card's coordinates.
    QRectF lapiz() const;
    // What the pointer there is told ("Editar esta pantalla" on the edit badge…), or nothing.
    QString ayudaEn(QPointF punto) const;

    std::function<void()> alElegir, alEditar, alDuplicar, alEliminar, alRespaldo;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    QRectF marcoFoto() const;
    QRectF sinRed() const;  // the no-internet badge

    std::optional<std::string> id_;
    QString nombre_;
    QImage foto_;
    int estado_ = 0;
    bool respaldo_ = false;
    bool encima_ = false;
};

}  // namespace tt
