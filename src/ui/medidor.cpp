#include "ui/medidor.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace tt {

Medidor::Medidor(QWidget* padre) : QWidget(padre) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(6);
}

Medidor::Barra Medidor::barra(float nivel) {
    const QColor verde = QColor::fromRgbF(0.2f, 0.84f, 0.29f);
    if (!(nivel > 0)) return {0, verde};
    const double db = 20 * std::log10(double(nivel));
    const double parte = std::clamp((db + 60) / 60, 0.0, 1.0);
    if (db > -1) return {parte, QColor::fromRgbF(1.0f, 0.23f, 0.19f)};
    if (db > -9) return {parte, QColor::fromRgbF(1.0f, 0.8f, 0.0f)};
    return {parte, verde};
}

void Medidor::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QRectF marco = rect();
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.1f));
    p.drawRoundedRect(marco, 3, 3);
    const Barra b = barra(nivel);
    if (b.parte <= 0) return;
    p.setBrush(b.color);
    p.drawRoundedRect(QRectF(marco.left(), marco.top(), marco.width() * b.parte, marco.height()), 3, 3);
}

}  // namespace tt
