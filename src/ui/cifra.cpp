#include "ui/cifra.h"

#include "ui/fuente.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace tt {

Cifra::Cifra(const QString& nombre, QWidget* padre) : QWidget(padre) {
    auto* pila = new QVBoxLayout(this);
    pila->setContentsMargins(14, 11, 10, 11);
    pila->setSpacing(2);
    valor_ = etiqueta(QString::fromUtf8("—"), 22, Peso::heavy, QColor(255, 255, 255), this);
    nombre_ = etiqueta(nombre, 12, Peso::semibold, colorSecundario(), this);
    pila->addWidget(valor_);
    pila->addWidget(nombre_);
    setAccessibleName(nombre);
}

void Cifra::ponerValor(const QString& texto) { valor_->setText(texto); }
QString Cifra::valor() const { return valor_->text(); }
QString Cifra::nombre() const { return nombre_->text(); }

void Cifra::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.08f), 1));
    p.setBrush(QColor::fromRgbF(1, 1, 1, 0.05f));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}

}  // namespace tt
