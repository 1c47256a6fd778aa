#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace tt {

// One of the program's symbols (an SVG of the resources folder's "iconos") drawn `lado` points
// square in `color`, at the screen's pixel ratio. Main thread (kept in Qt's pixmap cache). A null pixmap when the file is missing or
// unreadable: the control then shows its title alone.
QPixmap icono(const QString& nombre, double lado, QColor color, double escala = 1);

}  // namespace tt
