#include "ui/icono.h"

#include "comun/proceso.h"

#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace tt {

QPixmap icono(const QString& nombre, double lado, QColor color, double escala) {
    if (nombre.isEmpty() || nombre.contains('/')) return {};
    // Controls draw their symbol on every paint: the file is read once per look.
    const QString clave = QString("tm-icono:%1:%2:%3:%4").arg(nombre).arg(lado).arg(color.rgba()).arg(escala);
    QPixmap hecho;
    if (QPixmapCache::find(clave, &hecho)) return hecho;
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
    QPixmapCache::insert(clave, imagen);
    return imagen;
}

}  // namespace tt
