#include "ui/isologo.h"

#include <QPainter>
#include <QPainterPath>

namespace tt {

Isologo::Isologo(QWidget* padre) : QWidget(padre) { setFixedSize(sizeHint()); }

void Isologo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(46, 40);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(1.0f, 0.23f, 0.3f));
    p.drawEllipse(c, 11, 11);
    // Two waves each side, the outer one fainter: the picture going out.
    for (int i = 0; i < 2; ++i) {
        const double radio = 22 + 13 * i;
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, i == 0 ? 0.95f : 0.55f), 5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QRectF r(c.x() - radio, c.y() - radio, 2 * radio, 2 * radio);
        p.drawArc(r, -40 * 16, 80 * 16);
        p.drawArc(r, 140 * 16, 80 * 16);
    }
}

}  // namespace tt
