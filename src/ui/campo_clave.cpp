#include "ui/campo_clave.h"

#include "ui/campo.h"
#include "ui/campo_secreto.h"
#include "ui/fuente.h"

#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStackedLayout>

namespace tt {

CampoClave::CampoClave(const QString& indicacion, QWidget* padre) : QWidget(padre) {
    setFixedHeight(34);
    auto* pila = new QStackedLayout(this);
    pila->setContentsMargins(0, 0, 0, 0);
    oculto_ = new CampoSecreto(indicacion, this);
    plano_ = new Campo({}, indicacion, this);
    plano_->setFixedHeight(34);
    for (QLineEdit* c : {static_cast<QLineEdit*>(oculto_), static_cast<QLineEdit*>(plano_)}) {
        c->setTextMargins(0, 0, 62, 0);  // room for the button
        connect(c, &QLineEdit::textEdited, this, [this](const QString& t) {
            if (al) al(t);
        });
    }
    pila->addWidget(oculto_);
    pila->addWidget(plano_);
    boton_ = new QPushButton(QString::fromUtf8("Mostrar"), this);
    boton_->setFlat(true);
    boton_->setCursor(Qt::PointingHandCursor);
    boton_->setFocusPolicy(Qt::NoFocus);
    boton_->setFont(fuente(12, Peso::bold));
    boton_->setStyleSheet("QPushButton { border: none; background: transparent; color: rgba(255,255,255,140); }");
    connect(boton_, &QPushButton::clicked, this, &CampoClave::alternar);
}

QString CampoClave::valor() const { return claro_ ? plano_->text() : oculto_->text(); }

void CampoClave::poner(const QString& texto) {
    const QSignalBlocker a(oculto_), b(plano_);
    oculto_->setText(texto);
    plano_->setText(texto);
}

void CampoClave::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const QSize t = boton_->sizeHint();
    boton_->setGeometry(width() - 10 - t.width(), (height() - t.height()) / 2, t.width(), t.height());
    boton_->raise();
}

void CampoClave::alternar() {
    const QString texto = valor();
    claro_ = !claro_;
    poner(texto);
    static_cast<QStackedLayout*>(layout())->setCurrentIndex(claro_ ? 1 : 0);
    boton_->setText(QString::fromUtf8(claro_ ? "Ocultar" : "Mostrar"));
    enfocar();
}

void CampoClave::enfocar() {
    if (claro_) plano_->setFocus();
    else oculto_->setFocus();
}

}  // namespace tt
