#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace tt {

// Weights as the interface names them.
enum class Peso { regular, medium, semibold, bold, heavy };

// The rounded family at that size (in points of the 1240 × 746 layout) and weight, or the plain
// system font when no rounded family is installed.
QFont fuente(double tam, Peso peso = Peso::regular);
QLabel* etiqueta(const QString& texto, double tam, Peso peso, QColor color = QColor(255, 255, 255),
                 QWidget* padre = nullptr);

// A check box's square a shade lighter than the blocks it sits on, so an empty one shows.
void aclararCasilla(QWidget* casilla);

// Label colours of the dark appearance: every text at least 4.5:1 against the window, the side
// column's blocks and the fields (the hierarchy comes from size and weight); disabled text is
// fainter (it is not read).
QColor colorSecundario();
QColor colorTerciario();
QColor colorApagado();
// Its backgrounds: the window's, and the translucent fill of the side column's blocks over it.
QColor colorFondo();
QColor colorBloque();

}  // namespace tt
