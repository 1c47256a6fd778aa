#include "ui/rastro.h"

#include <QEvent>
#include <QWidget>

namespace tt {

Rastro* Rastro::poner(QWidget* control, std::function<void(bool)> alCambiar) {
    return new Rastro(control, std::move(alCambiar));
}

Rastro::Rastro(QWidget* control, std::function<void(bool)> alCambiar)
    : QObject(control), control_(control), alCambiar_(std::move(alCambiar)) {
    control->setAttribute(Qt::WA_Hover);
    control->setCursor(control->isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    control->installEventFilter(this);
}

void Rastro::cambiar(bool encima) {
    if (encima == encima_) return;
    encima_ = encima;
    if (alCambiar_) alCambiar_(encima);
}

bool Rastro::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto != control_) return false;
    switch (evento->type()) {
        case QEvent::Enter:
            if (control_->isEnabled()) cambiar(true);
            break;
        case QEvent::Leave:
            cambiar(false);
            break;
        case QEvent::EnabledChange:
            control_->setCursor(control_->isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
            if (!control_->isEnabled()) cambiar(false);
            // Enabled again under a resting pointer: it lights up without waiting for a move.
            else if (control_->underMouse()) cambiar(true);
            break;
        default:
            break;
    }
    return false;
}

}  // namespace tt
