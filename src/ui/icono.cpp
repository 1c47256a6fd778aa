#include "ui/icono.h"

#include "comun/proceso.h"

#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace tt {

QPixmap icono(const QString& nombre, double lado, QColor color, double escala) {
    if (nombre.isEmpty() || nombre.contains('/')) return {};
    const auto ruta = recursos() / "iconos" / (nombre.toStdString() + ".svg");
    QSvgRenderer svg(QString::fromStdString(ruta.string()));
    if (!svg.isValid()) return {};
    const int px = std::max(1, int(std::lround(lado * escala)));
    QPixmap imagen(px, px);
    imagen.fill(Qt::transparent);
    {
        QPainter p(&imagen);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(0, 0, px, px));
        // The shape keeps its alpha and takes the text colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(imagen.rect(), color);
    }
    imagen.setDevicePixelRatio(escala);
    return imagen;
}

}  // namespace tt
