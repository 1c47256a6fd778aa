#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

namespace tt {

// A row of labelled segments sharing the width equally, one selected at a time. A click or the
// arrow keys select; `al` hears the index the user selected (selecting from code calls nothing).
// Main thread.
class Segmentos : public QWidget {
    Q_OBJECT
public:
    Segmentos(const QStringList& etiquetas, int elegido, QWidget* padre = nullptr);

    int elegido() const { return elegido_; }
    void elegir(int indice);  // calls nothing
    // The segment under a point of the widget, -1 outside.
    int segmentoEn(QPointF punto) const;

    std::function<void(int)> al;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void elegirPorUsuario(int indice);
    QRectF segmento(int i) const;

    QStringList etiquetas_;
    int elegido_;
};

}  // namespace tt
