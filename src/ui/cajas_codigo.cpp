#include "ui/cajas_codigo.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>

namespace tt {

CajasCodigo::CajasCodigo(QWidget* padre) : QWidget(padre) {
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(sizeHint());
    setAccessibleName(QString::fromUtf8("Código de 6 dígitos"));
}

void CajasCodigo::poner(const QString& texto) {
    QString digitos;
    for (QChar c : texto)
        if (c.isDigit() && digitos.size() < 6) digitos += c;
    if (digitos == valor_) return;
    valor_ = digitos;
    update();
    if (al) al(valor_);
}

void CajasCodigo::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete) {
        if (!valor_.isEmpty()) poner(valor_.left(valor_.size() - 1));
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        poner(QApplication::clipboard()->text());
        e->accept();
        return;
    }
    const QString t = e->text();
    bool digitos = !t.isEmpty() && !(e->modifiers() & Qt::ControlModifier);
    for (QChar c : t) digitos = digitos && c.isDigit();
    if (digitos) {
        poner(valor_ + t);
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);  // Return and Tab go on to the window
}

void CajasCodigo::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    e->accept();
}

void CajasCodigo::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    update();
}

void CajasCodigo::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    update();
}

void CajasCodigo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(24 * 0.75);
    f.setWeight(QFont::Black);
    p.setFont(f);
    const int siguiente = std::min<int>(int(valor_.size()), 5);
    for (int i = 0; i < 6; ++i) {
        const QRectF caja(52.0 * i + 0.5, 0.5, 43, 51);
        const bool activa = hasFocus() && i == siguiente;
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, activa ? 0.55f : 0.1f), 1));
        p.setBrush(QColor::fromRgbF(1, 1, 1, activa ? 0.09f : 0.06f));
        p.drawRoundedRect(caja, 10, 10);
        if (i < valor_.size()) {
            p.setPen(Qt::white);
            p.drawText(caja, Qt::AlignCenter, QString(valor_[i]));
        }
    }
}

}  // namespace tt
