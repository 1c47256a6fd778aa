#include "ui/boton.h"

#include "ui/fuente.h"
#include "ui/icono.h"
#include "ui/rastro.h"

#include <QFocusEvent>
#include <QPainter>

#include <algorithm>

namespace tt {

namespace {
constexpr double ladoSimbolo = 14;
}

Boton::Boton(const QString& titulo, const QString& simbolo, QWidget* padre)
    : QPushButton(titulo, padre), simbolo_(simbolo), fondo_(QColor::fromRgbF(1, 1, 1, 0.1f)) {
    setFont(fuente(12.5, Peso::semibold));
    setFlat(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(titulo.isEmpty() ? simbolo : titulo);
    Rastro::poner(this, [this](bool encima) {
        encima_ = encima;
        update();
    });
    connect(this, &QPushButton::clicked, this, [this] {
        if (al) al();
    });
}

void Boton::ponerTitulo(const QString& titulo) {
    setText(titulo);
    setAccessibleName(titulo.isEmpty() ? simbolo_ : titulo);
    updateGeometry();
    update();
}

void Boton::ponerFondo(std::optional<QColor> fondo) {
    fondo_ = fondo;
    update();
}

std::optional<QColor> Boton::fondoVisible() const {
    if (realce && encima_ && isEnabled() && (!fondo_ || fondo_->alphaF() < 0.07))
        return QColor::fromRgbF(1, 1, 1, 0.06f);
    return fondo_;
}

QSize Boton::sizeHint() const {
    const QFontMetrics m(font());
    int ancho = 24;
    if (!simbolo_.isEmpty()) ancho += int(ladoSimbolo) + (text().isEmpty() ? 0 : 6);
    ancho += m.horizontalAdvance(text());
    return {ancho, 30};
}

void Boton::focusInEvent(QFocusEvent* e) {
    focoTeclado_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
    QPushButton::focusInEvent(e);
}

void Boton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF todo = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor base = fondoVisible().value_or(Qt::transparent);
    if (isDown()) base.setAlphaF(std::min(1.0f, float(base.alphaF()) + 0.08f));
    p.setPen(hasFocus() && focoTeclado_ ? QPen(QColor::fromRgbF(1, 1, 1, 0.45f), 1) : QPen(Qt::NoPen));
    p.setBrush(base);
    p.drawRoundedRect(todo, 8, 8);

    QColor color = tinta;
    if (!isEnabled()) color.setAlphaF(0.3f);
    const QPixmap simbolo = icono(simbolo_, ladoSimbolo, color, devicePixelRatioF());
    const QFontMetricsF m(font());
    const double anchoTitulo = m.horizontalAdvance(text());
    const double espacio = !simbolo.isNull() && !text().isEmpty() ? 6 : 0;
    const double grupo = (simbolo.isNull() ? 0 : ladoSimbolo) + espacio + anchoTitulo;
    double x = todo.center().x() - grupo / 2;
    if (!simbolo.isNull()) {
        p.drawPixmap(QPointF(x, todo.center().y() - ladoSimbolo / 2), simbolo);
        x += ladoSimbolo + espacio;
    }
    p.setPen(color);
    p.setFont(font());
    p.drawText(QRectF(x, todo.top(), anchoTitulo + 1, todo.height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

}  // namespace tt
