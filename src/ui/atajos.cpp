#include "ui/atajos.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace tt {

void cerrarConTeclas(QWidget& ventana) {
    for (const QKeySequence& teclas : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* atajo = new QShortcut(teclas, &ventana);
        atajo->setContext(Qt::WindowShortcut);
        QObject::connect(atajo, &QShortcut::activated, &ventana, [&ventana] { ventana.close(); });
    }
}

}  // namespace tt
