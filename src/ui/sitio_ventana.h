#pragma once

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

#include <optional>

namespace tt {

// Where a window opens: `lugar` is its frame's top-left corner (what QWidget::move takes),
// `tamano` its size without the frame.
struct SitioVentana {
    QPoint lugar;
    QSize tamano;
};

// The preferred size where the screen's free area allows it, never under the minimum; whole on
// that screen, centred. The place the user left it is kept only when the window would be fully
// visible there on one of the screens. `marco`: the window manager's frame around the window.
SitioVentana sitioVentana(QSize preferido, QSize minimo, QMargins marco, QRect pantalla, const QList<QRect>& pantallas,
               std::optional<QPoint> guardado);

// Sizes and places a top-level window that way on the screen it is on (its minimum size set
// before), with the frame the window manager gave it, or a usual title bar until it has one.
void ponerEnPantalla(QWidget& ventana, QSize preferido, std::optional<QPoint> guardado = std::nullopt);

}  // namespace tt
