#include "ui/pildora.h"

#include "ui/fuente.h"
#include "ui/rastro.h"

#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace tt {

namespace {
const QColor acento = QColor::fromRgbF(1.0f, 0.35f, 0.37f);

QColor haciaNegro(QColor c, double parte) {
    return QColor::fromRgbF(float(c.redF() * (1 - parte)), float(c.greenF() * (1 - parte)),
                            float(c.blueF() * (1 - parte)), c.alphaF());
}
}  // namespace

Pildora::Pildora(QWidget* padre) : QPushButton(padre) {
    setFlat(true);
    setFocusPolicy(Qt::StrongFocus);  // reachable with Tab, pressed with Space
    setFont(fuente(17));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName("Transmitir");
    Rastro::poner(this, [this](bool encima) { animar(encima && isEnabled() ? 1 : 0); });
}

void Pildora::ponerEnVivo(bool si) {
    if (si == enVivo_) return;
    enVivo_ = si;
    setAccessibleName(si ? "Detener" : "Transmitir");
    updateGeometry();
    update();
}

QSize Pildora::sizeHint() const { return {enVivo_ ? 156 : 176, 50}; }

double Pildora::paso(double realce, double meta) {
    const double siguiente = realce + (meta - realce) * 0.35;
    return std::abs(meta - siguiente) < 0.02 ? meta : siguiente;
}

void Pildora::animar(double meta) {
    meta_ = meta;
    delete animador_;  // parented to the button: no tick outlives it
    animador_ = nullptr;
    if (realce_ == meta_) return;
    animador_ = new QTimer(this);
    animador_->setInterval(1000 / 60);
    connect(animador_, &QTimer::timeout, this, [this] {
        realce_ = paso(realce_, meta_);
        if (realce_ == meta_) {
            animador_->stop();
            animador_->deleteLater();
            animador_ = nullptr;
        }
        update();
    });
    animador_->start();
}

double Pildora::margen() const { return (isDown() && isEnabled() ? 2 : 0) + 3 - 3 * realce_; }

void Pildora::changeEvent(QEvent* e) {
    QPushButton::changeEvent(e);
    if (e->type() == QEvent::EnabledChange && !isEnabled()) animar(0);
}

void Pildora::focusInEvent(QFocusEvent* e) {
    // Focus handed back by the window (after a start was asked for) keeps the ring it had.
    if (e->reason() != Qt::OtherFocusReason)
        focoTeclado_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
    QPushButton::focusInEvent(e);
}

void Pildora::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const bool activa = isEnabled();
    QColor cuerpo = !activa ? QColor::fromRgbF(1, 1, 1, 0.16f) : enVivo_ ? acento : QColor(Qt::white);
    if (isDown() && activa) cuerpo = haciaNegro(cuerpo, 0.18);

    const QRectF todo = rect();
    if (realce_ > 0.01 && activa) {
        QColor brillo = cuerpo;
        brillo.setAlphaF(float(cuerpo.alphaF() * 0.16 * realce_));
        p.setBrush(brillo);
        p.drawRoundedRect(todo, todo.height() / 2, todo.height() / 2);
    }
    const double m = margen();
    const QRectF cuerpoR = todo.adjusted(m, 0.6 * m, -m, -0.6 * m);
    p.setBrush(cuerpo);
    p.drawRoundedRect(cuerpoR, cuerpoR.height() / 2, cuerpoR.height() / 2);

    // The mark and the title, centred together.
    const QString titulo = enVivo_ ? "Detener" : "Transmitir";
    const QFontMetricsF medidas(font());
    const double anchoTitulo = medidas.horizontalAdvance(titulo);
    const double grupo = 10 + 10 + anchoTitulo;
    const double x = todo.center().x() - grupo / 2;
    const QRectF marca(x, todo.center().y() - 5, 10, 10);
    p.setBrush(!activa ? QColor::fromRgbF(1, 1, 1, 0.32f) : enVivo_ ? QColor(Qt::white) : acento);
    if (enVivo_) p.drawRoundedRect(marca, 2, 2);
    else p.drawEllipse(marca);

    QColor texto = enVivo_ ? QColor(Qt::white) : QColor::fromRgbF(0.05f, 0.05f, 0.05f);
    if (!activa) texto = QColor::fromRgbF(1, 1, 1, 0.35f);
    p.setPen(texto);
    p.setFont(font());
    p.drawText(QRectF(x + 20, todo.top(), anchoTitulo + 1, todo.height()), Qt::AlignVCenter | Qt::AlignLeft, titulo);

    // Keyboard focus: a thin ring, since the pill has no other focus look.
    if (hasFocus() && focoTeclado_) {
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.55f), 1.5));
        p.setBrush(Qt::NoBrush);
        const QRectF anillo = todo.adjusted(0.75, 0.75, -0.75, -0.75);
        p.drawRoundedRect(anillo, anillo.height() / 2, anillo.height() / 2);
    }
}

}  // namespace tt
