#include "ui/lista.h"

#include "ui/fuente.h"
#include "ui/opacidad.h"

#include <QSignalBlocker>

namespace tt {

Lista::Lista(QWidget* padre) : QComboBox(padre) {
    setFont(fuente(13, Peso::semibold));
    setMinimumHeight(30);  // the large control size
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
    atenuarEnReposo(this);
    connect(this, &QComboBox::activated, this, [this](int i) {
        const QVariant id = itemData(i);
        if (al && id.isValid()) al(id.toString());
    });
}

void Lista::llenar(const std::vector<Item>& items, std::optional<QString> elegido) {
    if (!elegido) elegido = this->elegido();
    const QSignalBlocker quieto(this);
    clear();
    for (const Item& item : items) {
        if (item.separador) insertSeparator(count());
        else addItem(item.titulo, item.id);
    }
    setEnabled(true);
    const int i = elegido ? findData(*elegido) : -1;
    setCurrentIndex(i >= 0 ? i : 0);
}

void Lista::esperar(const QString& texto) {
    const QSignalBlocker quieto(this);
    clear();
    addItem(texto);
    setEnabled(false);
}

void Lista::elegir(const QString& id) {
    const int i = findData(id);
    if (i < 0) return;
    const QSignalBlocker quieto(this);
    setCurrentIndex(i);
}

std::optional<QString> Lista::elegido() const {
    const QVariant id = currentData();
    if (currentIndex() < 0 || !id.isValid()) return std::nullopt;
    return id.toString();
}

}  // namespace tt
