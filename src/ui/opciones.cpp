#include "ui/opciones.h"

#include "ui/fuente.h"

#include <QSignalBlocker>

namespace tt {

Opciones::Opciones(const QStringList& titulos, int elegido, QWidget* padre) : QComboBox(padre) {
    setFont(fuente(12.5, Peso::medium));
    addItems(titulos);
    setCurrentIndex(elegido);
    connect(this, &QComboBox::activated, this, [this](int i) {
        if (al) al(i);
    });
}

void Opciones::elegir(int indice) {
    const QSignalBlocker quieto(this);
    setCurrentIndex(indice);
}

}  // namespace tt
