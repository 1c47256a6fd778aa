#include "ui/sitio_ventana.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace tt {

SitioVentana sitioVentana(QSize preferido, QSize minimo, QMargins marco, QRect pantalla, const QList<QRect>& pantallas,
               std::optional<QPoint> guardado) {
    const QSize extra(marco.left() + marco.right(), marco.top() + marco.bottom());
    SitioVentana e;
    e.tamano = preferido.boundedTo(pantalla.size() - extra).expandedTo(minimo);
    const QSize total = e.tamano + extra;
    if (guardado) {
        const QRect r(*guardado, total);
        for (const QRect& p : pantallas)
            if (p.contains(r)) {
                e.lugar = *guardado;
                return e;
            }
    }
    // Too big for the screen: its top-left corner stays on it, so the title bar can be reached.
    e.lugar = pantalla.topLeft() + QPoint(std::max(0, (pantalla.width() - total.width()) / 2),
                                          std::max(0, (pantalla.height() - total.height()) / 2));
    return e;
}

void ponerEnPantalla(QWidget& ventana, QSize preferido, std::optional<QPoint> guardado) {
    QScreen* pantalla = ventana.screen() ? ventana.screen() : QGuiApplication::primaryScreen();
    if (!pantalla) return;
    QList<QRect> libres;
    for (QScreen* s : QGuiApplication::screens()) libres << s->availableGeometry();
    QMargins marco = ventana.windowHandle() ? ventana.windowHandle()->frameMargins() : QMargins();
    if (marco.isNull()) marco = QMargins(0, 38, 0, 0);
    const SitioVentana e =
        sitioVentana(preferido, ventana.minimumSize(), marco, pantalla->availableGeometry(), libres, guardado);
    ventana.resize(e.tamano);
    ventana.move(e.lugar);
}

}  // namespace tt
