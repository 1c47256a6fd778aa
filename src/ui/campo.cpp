#include "ui/campo.h"

#include "ui/fuente.h"

#include <QSignalBlocker>

namespace tt {

void vestirCampo(QLineEdit* campo) {
    campo->setFont(fuente(13.5, Peso::medium));
    campo->setFrame(false);
    campo->setMinimumHeight(30);
    QPalette p = campo->palette();
    p.setColor(QPalette::PlaceholderText, colorTerciario());
    p.setColor(QPalette::Text, Qt::white);
    campo->setPalette(p);
    // Focus in and out need no code: the style sheet follows it.
    campo->setStyleSheet(
        "QLineEdit { background: rgba(255,255,255,15); border: 1px solid rgba(255,255,255,23);"
        " border-radius: 9px; padding: 0 10px; }"
        "QLineEdit:focus { background: rgba(255,255,255,23); border: 1px solid rgba(255,255,255,140); }");
}

Campo::Campo(const QString& texto, const QString& indicacion, QWidget* padre) : QLineEdit(texto, padre) {
    vestirCampo(this);
    setPlaceholderText(indicacion);
    setAccessibleName(indicacion);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (al) al(t);
    });
}

void Campo::poner(const QString& texto) {
    const QSignalBlocker quieto(this);
    setText(texto);
}

}  // namespace tt
