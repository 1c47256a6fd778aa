#include "ui/renglon.h"

#include <QPainter>

namespace tt {

Renglon::Renglon(QWidget* padre) : QLabel(padre) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

QSize Renglon::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

QString Renglon::visible() const {
    const QString una = QString(text()).replace('\n', ' ');
    return fontMetrics().elidedText(una, Qt::ElideRight, contentsRect().width());
}

void Renglon::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(contentsRect(), Qt::AlignVCenter | Qt::AlignLeft, visible());
}

}  // namespace tt
