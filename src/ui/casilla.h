#pragma once

#include <QCheckBox>

#include <functional>

namespace tt {

// The main window's check box: it lights up under the pointer and tells `al` what the user
// ticked (setting it from code calls nothing). Main thread.
class Casilla : public QCheckBox {
    Q_OBJECT
public:
    explicit Casilla(const QString& titulo, QWidget* padre = nullptr);

    void poner(bool si);  // calls nothing
    std::function<void(bool)> al;
};

}  // namespace tt
