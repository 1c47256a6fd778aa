#include "ui/segmentos.h"

#include "ui/fuente.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace tt {

Segmentos::Segmentos(const QStringList& etiquetas, int elegido, QWidget* padre)
    : QWidget(padre), etiquetas_(etiquetas), elegido_(elegido) {
    setFont(fuente(12, Peso::semibold));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(etiquetas.join(", "));
    setAccessibleDescription(etiquetas.value(elegido));
}

QSize Segmentos::sizeHint() const {
    const QFontMetrics m(font());
    int ancho = 0;
    for (const QString& e : etiquetas_) ancho = std::max(ancho, m.horizontalAdvance(e) + 20);
    return {int(ancho * std::max<qsizetype>(1, etiquetas_.size())), 26};
}

QRectF Segmentos::segmento(int i) const {
    const double ancho = double(width()) / std::max<qsizetype>(1, etiquetas_.size());
    return {i * ancho, 0, ancho, double(height())};
}

int Segmentos::segmentoEn(QPointF punto) const {
    if (!rect().contains(punto.toPoint()) || etiquetas_.isEmpty()) return -1;
    const int i = int(punto.x() * etiquetas_.size() / std::max(1, width()));
    return std::clamp(i, 0, int(etiquetas_.size()) - 1);
}

void Segmentos::elegir(int indice) {
    if (indice < 0 || indice >= etiquetas_.size()) return;
    elegido_ = indice;
    setAccessibleDescription(etiquetas_.value(indice));
    update();
}

void Segmentos::elegirPorUsuario(int indice) {
    if (indice < 0 || indice >= etiquetas_.size()) return;
    elegir(indice);
    if (al) al(indice);
}

void Segmentos::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) elegirPorUsuario(segmentoEn(e->position()));
}

void Segmentos::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Left && elegido_ > 0) elegirPorUsuario(elegido_ - 1);
    else if (e->key() == Qt::Key_Right && elegido_ + 1 < etiquetas_.size()) elegirPorUsuario(elegido_ + 1);
    else QWidget::keyPressEvent(e);
}

void Segmentos::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF todo = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, hasFocus() ? 0.4f : 0.09f), 1));
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.06f));
    p.drawRoundedRect(todo, 7, 7);
    p.setFont(font());
    for (int i = 0; i < etiquetas_.size(); ++i) {
        const QRectF r = segmento(i);
        if (i == elegido_) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor::fromRgbF(1, 1, 1, isEnabled() ? 0.2f : 0.1f));
            p.drawRoundedRect(r.adjusted(2, 2, -2, -2), 5, 5);
        }
        p.setPen(QColor::fromRgbF(1, 1, 1, !isEnabled() ? 0.3f : i == elegido_ ? 1.0f : 0.6f));
        p.drawText(r, Qt::AlignCenter, etiquetas_[i]);
    }
}

}  // namespace tt
