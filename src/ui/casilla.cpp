#include "ui/casilla.h"

#include "ui/fuente.h"
#include "ui/opacidad.h"

#include <QSignalBlocker>

namespace tt {

Casilla::Casilla(const QString& titulo, QWidget* padre) : QCheckBox(titulo, padre) {
    setFont(fuente(13, Peso::medium));
    aclararCasilla(this);
    atenuarEnReposo(this);
    connect(this, &QCheckBox::clicked, this, [this](bool si) {
        if (al) al(si);
    });
}

void Casilla::poner(bool si) {
    const QSignalBlocker quieto(this);
    setChecked(si);
}

}  // namespace tt
