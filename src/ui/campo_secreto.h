#pragma once

#include <QLineEdit>

namespace tt {

// A field for a secret (a stream key, a password): shown as dots, never copied or dragged out,
// kept out of input-method history; read when the form is saved. Main thread.
class CampoSecreto : public QLineEdit {
public:
    explicit CampoSecreto(const QString& indicacion, QWidget* padre = nullptr);
};

}  // namespace tt
