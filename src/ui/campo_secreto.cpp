#include "ui/campo_secreto.h"

#include "ui/campo.h"

#include <QKeyEvent>

namespace tt {

CampoSecreto::CampoSecreto(const QString& indicacion, QWidget* padre) : QLineEdit(padre) {
    vestirCampo(this);
    setEchoMode(QLineEdit::Password);  // Qt refuses copy and drag in this mode
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    setPlaceholderText(indicacion);
    setAccessibleName(indicacion);
    setFixedHeight(34);
}

void CampoSecreto::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Cut)) {
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

}  // namespace tt
