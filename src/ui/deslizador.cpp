#include "ui/deslizador.h"

#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace tt {

Deslizador::Deslizador(double inicial, double minimo, double maximo, QWidget* padre)
    : QSlider(Qt::Horizontal, padre), minimo_(minimo), maximo_(std::max(minimo, maximo)) {
    setRange(0, pasos);
    setSingleStep(pasos / 100);
    setPageStep(pasos / 10);
    setFixedHeight(18);  // the small control size
    poner(inicial);
    // Tracking is on, so a drag reports every step; changes from code go through poner.
    connect(this, &QSlider::valueChanged, this, [this] {
        if (al) al(this->valor());
    });
}

double Deslizador::valor() const {
    if (value() >= pasos) return maximo_;  // the ends exactly, whatever the rounding
    if (value() <= 0) return minimo_;
    return minimo_ + (maximo_ - minimo_) * value() / pasos;
}

void Deslizador::poner(double v) {
    const QSignalBlocker quieto(this);
    if (!(maximo_ > minimo_)) {
        setValue(0);
        return;
    }
    const double parte = std::clamp((v - minimo_) / (maximo_ - minimo_), 0.0, 1.0);
    setValue(int(std::lround(std::isnan(parte) ? 0 : parte * pasos)));
}

}  // namespace tt
