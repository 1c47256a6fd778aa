#pragma once

#include <QMessageBox>

namespace tt {

// The offer of a new version, window-modal over the main window, which owns it while open.
// Main thread.
class HojaActualizacion : public QMessageBox {
    Q_OBJECT
public:
    // Without `sola` (this copy cannot replace itself) it only informs: one button, "Entendido".
    HojaActualizacion(const QString& informativo, bool sola, QWidget* sobre);

Q_SIGNALS:
    void actualizar();  // "Actualizar ahora"
    void despues();     // "Después" or "Entendido", or the sheet closed some other way
};

}  // namespace tt
