#pragma once

#include <QMessageBox>

namespace tt {

// The offer of a new version, window-modal over the main window, which owns it while open.
// Main thread.
class HojaActualizacion : public QMessageBox {
    Q_OBJECT
public:
    HojaActualizacion(const QString& informativo, QWidget* sobre);

Q_SIGNALS:
    void actualizar();  // "Actualizar ahora"
    void despues();     // "Después", or the sheet closed some other way
};

}  // namespace tt
