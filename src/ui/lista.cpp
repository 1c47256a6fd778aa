#include "ui/lista.h"

#include "ui/fuente.h"
#include "ui/opacidad.h"

#include <QFocusEvent>
#include <QPainter>
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

void Lista::focusInEvent(QFocusEvent* e) {
    focoTeclado_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
    QComboBox::focusInEvent(e);
}

void pintarDesplegable(QComboBox& c, bool anillo) {
    QPainter p(&c);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF todo = QRectF(c.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor::fromRgbF(1, 1, 1, anillo ? 0.45f : 0.08f), 1));
    p.setBrush(QColor::fromRgbF(1, 1, 1, c.isEnabled() ? 0.1f : 0.05f));
    p.drawRoundedRect(todo, 8, 8);

    const QColor tinta = c.isEnabled() ? QColor(Qt::white) : QColor::fromRgbF(1, 1, 1, 0.35f);
    const QRectF texto = todo.adjusted(11, 0, -30, 0);
    p.setPen(tinta);
    p.setFont(c.font());
    p.drawText(texto, Qt::AlignVCenter | Qt::AlignLeft,
               c.fontMetrics().elidedText(c.currentText(), Qt::ElideRight, int(texto.width())));

    // Up and down chevrons: the menu opens over the control.
    const double x = todo.right() - 17, y = todo.center().y();
    p.setPen(QPen(tinta, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(x - 3.5, y - 2), QPointF(x, y - 5.5), QPointF(x + 3.5, y - 2)}));
    p.drawPolyline(QPolygonF({QPointF(x - 3.5, y + 2), QPointF(x, y + 5.5), QPointF(x + 3.5, y + 2)}));
}

void Lista::paintEvent(QPaintEvent*) { pintarDesplegable(*this, hasFocus() && focoTeclado_); }

std::optional<QString> Lista::elegido() const {
    const QVariant id = currentData();
    if (currentIndex() < 0 || !id.isValid()) return std::nullopt;
    return id.toString();
}

}  // namespace tt
