#pragma once

#include <QString>
#include <QWidget>

#include <vector>

class QLabel;

namespace tt {

// One rule of a new password and whether the text meets it.
struct Regla {
    QString texto;
    bool cumple = false;
};
// The password rules in the order the window lists them: 8 characters, a number, a special
// character, no blanks at either end.
std::vector<Regla> reglasDeClave(const QString& clave);
bool claveAceptable(const QString& clave);

// The live checklist of the password rules under a password field. Main thread.
class VistaReglas : public QWidget {
    Q_OBJECT
public:
    explicit VistaReglas(QWidget* padre = nullptr);
    void poner(const QString& clave);
    // What each row shows now, in order.
    std::vector<Regla> filas() const { return filas_; }

private:
    std::vector<Regla> filas_;
    std::vector<std::pair<QLabel*, QLabel*>> vistas_;  // mark, text
};

}  // namespace tt
