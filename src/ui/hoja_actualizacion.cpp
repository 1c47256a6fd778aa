#include "ui/hoja_actualizacion.h"

#include "ui/pregunta.h"

#include <QPushButton>

namespace tt {

HojaActualizacion::HojaActualizacion(const QString& informativo, bool sola, QWidget* sobre) : QMessageBox(sobre) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    vestir(*this);  // plain text too: the release notes come from the network
    setText("Hay una versión nueva de Tremolante Transmitir");
    setInformativeText(informativo);
    QPushButton* ahora = sola ? addButton("Actualizar ahora", QMessageBox::AcceptRole) : nullptr;
    setDefaultButton(addButton(sola ? QString::fromUtf8("Después") : QString("Entendido"), QMessageBox::RejectRole));
    if (ahora) setDefaultButton(ahora);
    connect(this, &QMessageBox::finished, this, [this, ahora] {
        if (clickedButton() == ahora) Q_EMIT actualizar();
        else Q_EMIT despues();
    });
}

}  // namespace tt
