#include "ui/campo_secreto.h"

#include "ui/campo.h"

namespace tt {

CampoSecreto::CampoSecreto(const QString& indicacion, QWidget* padre) : QLineEdit(padre) {
    vestirCampo(this);
    setEchoMode(QLineEdit::Password);  // Qt refuses copy, cut and drag in this mode
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    setPlaceholderText(indicacion);
    setAccessibleName(indicacion);
    setFixedHeight(34);
}

}  // namespace tt
