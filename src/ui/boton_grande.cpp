#include "ui/boton_grande.h"

#include "ui/fuente.h"
#include "ui/rastro.h"

#include <QPainter>

namespace tt {

BotonGrande::BotonGrande(const QString& titulo, bool hueco, QWidget* padre)
    : QPushButton(titulo, padre), hueco_(hueco) {
    setFixedSize(sizeHint());
    setFont(fuente(15.5, Peso::heavy));
    setAccessibleName(titulo);
    Rastro::poner(this, [this](bool encima) {
        encima_ = encima;
        update();
    });
    connect(this, &QPushButton::clicked, this, [this] {
        if (al) al();
    });
}

void BotonGrande::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radio = r.height() / 2;
    QColor texto;
    if (hueco_) {
        const float fondo = isDown() ? 0.14f : encima_ && isEnabled() ? 0.08f : 0.f;
        p.setBrush(QColor::fromRgbF(1, 1, 1, fondo));
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.3f), 1.5));
        texto = Qt::white;
    } else {
        const float blanco = !isEnabled() ? 0.3f : isDown() ? 0.8f : encima_ ? 0.92f : 1.f;
        p.setBrush(QColor::fromRgbF(blanco, blanco, blanco));
        p.setPen(Qt::NoPen);
        const float t = isEnabled() ? 0.05f : 0.55f;
        texto = QColor::fromRgbF(t, t, t);
    }
    p.drawRoundedRect(r, radio, radio);
    p.setPen(texto);
    p.setFont(font());
    p.drawText(r, Qt::AlignCenter, text());
}

}  // namespace tt
