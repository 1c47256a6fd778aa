#include "ui/opciones.h"

#include "ui/fuente.h"
#include "ui/lista.h"

#include <QFocusEvent>
#include <QSignalBlocker>

namespace tt {

Opciones::Opciones(const QStringList& titulos, int elegido, QWidget* padre) : QComboBox(padre) {
    setFont(fuente(12.5, Peso::medium));
    addItems(titulos);
    setCurrentIndex(elegido);
    setMinimumHeight(28);
    connect(this, &QComboBox::activated, this, [this](int i) {
        if (al) al(i);
    });
}

void Opciones::elegir(int indice) {
    const QSignalBlocker quieto(this);
    setCurrentIndex(indice);
}

void Opciones::focusInEvent(QFocusEvent* e) {
    focoTeclado_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
    QComboBox::focusInEvent(e);
}

void Opciones::paintEvent(QPaintEvent*) { pintarDesplegable(*this, hasFocus() && focoTeclado_); }

}  // namespace tt
