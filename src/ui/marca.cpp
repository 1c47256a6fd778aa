#include "ui/marca.h"

#include "ui/fuente.h"

#include <QSignalBlocker>

namespace tt {

Marca::Marca(const QString& titulo, bool marcada, QWidget* padre) : QCheckBox(titulo, padre) {
    setFont(fuente(13, Peso::medium));
    aclararCasilla(this);
    setChecked(marcada);
    connect(this, &QCheckBox::clicked, this, [this](bool si) {
        if (al) al(si);
    });
}

void Marca::poner(bool si) {
    const QSignalBlocker quieto(this);
    setChecked(si);
}

}  // namespace tt
