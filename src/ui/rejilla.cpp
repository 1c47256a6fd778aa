#include "ui/rejilla.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tt {

namespace {
const char* nombres[] = {"arriba a la izquierda", "arriba al centro", "arriba a la derecha",
                         "al centro a la izquierda", "al centro", "al centro a la derecha",
                         "abajo a la izquierda", "abajo al centro", "abajo a la derecha"};
}

Rejilla::Rejilla(int celda, QWidget* padre) : QWidget(padre), celda_(celda >= 0 && celda <= 8 ? celda : 4) {
    setToolTip(QString::fromUtf8("Lugar en la imagen"));
    setAccessibleName(QString::fromUtf8("Lugar en la imagen"));
    setAccessibleDescription(QString::fromUtf8(nombres[celda_]));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRectF Rejilla::rectCelda(QSizeF tam, int i) {
    const double ancho = (tam.width() - 6) / 3, alto = (tam.height() - 6) / 3;
    return {(i % 3) * (ancho + 3), (i / 3) * (alto + 3), ancho, alto};
}

std::optional<int> Rejilla::celdaEn(QSizeF tam, QPointF punto) {
    for (int i = 0; i < 9; ++i)
        if (rectCelda(tam, i).adjusted(-1.5, -1.5, 1.5, 1.5).contains(punto)) return i;
    return std::nullopt;
}

void Rejilla::elegir(int celda) {
    if (celda < 0 || celda > 8) return;
    celda_ = celda;
    setAccessibleDescription(QString::fromUtf8(nombres[celda]));
    update();
}

void Rejilla::elegirPorUsuario(int celda) {
    if (celda == celda_ || celda < 0 || celda > 8) return;
    elegir(celda);
    if (al) al(celda);
}

void Rejilla::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (auto c = celdaEn(size(), e->position())) elegirPorUsuario(*c);
}

void Rejilla::keyPressEvent(QKeyEvent* e) {
    const int fila = celda_ / 3, columna = celda_ % 3;
    switch (e->key()) {
        case Qt::Key_Left: if (columna > 0) elegirPorUsuario(celda_ - 1); break;
        case Qt::Key_Right: if (columna < 2) elegirPorUsuario(celda_ + 1); break;
        case Qt::Key_Up: if (fila > 0) elegirPorUsuario(celda_ - 3); break;
        case Qt::Key_Down: if (fila < 2) elegirPorUsuario(celda_ + 3); break;
        default: QWidget::keyPressEvent(e);
    }
}

void Rejilla::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 9; ++i) {
        p.setBrush(i == celda_ ? QColor(Qt::white) : QColor::fromRgbF(1, 1, 1, 0.13f));
        p.drawRoundedRect(rectCelda(size(), i), 3.5, 3.5);
    }
    if (hasFocus()) {
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.45f), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
}

}  // namespace tt
