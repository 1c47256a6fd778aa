#pragma once

class QWidget;

namespace tt {

// A control at rest is slightly faded (0.82) and lights up to full under the pointer: in 0.12 s
// on entering, back in 0.18 s on leaving; only while enabled. The effect and its animation are
// children of the control.
void atenuarEnReposo(QWidget* control);
// The control's opacity now (1 without the effect).
double opacidad(const QWidget* control);

}  // namespace tt
