#pragma once

#include <QLineEdit>

namespace tt {

// A field for a secret (a stream key, a password): shown as dots, never copied, cut or dragged
// out, kept out of input-method history; read when the form is saved. Main thread.
class CampoSecreto : public QLineEdit {
    Q_OBJECT
public:
    explicit CampoSecreto(const QString& indicacion, QWidget* padre = nullptr);

public Q_SLOTS:
    // Qt would delete the selection without copying it: the key would be lost. Nothing happens.
    void cut() {}

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

}  // namespace tt
