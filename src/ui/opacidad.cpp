#include "ui/opacidad.h"

#include "ui/rastro.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QWidget>

namespace tt {

namespace {
constexpr double enReposo = 0.82;
}

void atenuarEnReposo(QWidget* control) {
    auto* efecto = new QGraphicsOpacityEffect(control);
    efecto->setOpacity(enReposo);
    control->setGraphicsEffect(efecto);
    auto* animacion = new QPropertyAnimation(efecto, "opacity", efecto);
    Rastro::poner(control, [efecto, animacion](bool encima) {
        animacion->stop();
        animacion->setDuration(encima ? 120 : 180);
        animacion->setStartValue(efecto->opacity());
        animacion->setEndValue(encima ? 1.0 : enReposo);
        animacion->start();
    });
}

double opacidad(const QWidget* control) {
    auto* efecto = qobject_cast<QGraphicsOpacityEffect*>(control->graphicsEffect());
    return efecto ? efecto->opacity() : 1.0;
}

}  // namespace tt
