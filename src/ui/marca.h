#pragma once

#include <QCheckBox>

#include <functional>

namespace tt {

// The editor's check box: `al` hears what the user ticked (setting it from code calls nothing).
// Main thread.
class Marca : public QCheckBox {
    Q_OBJECT
public:
    Marca(const QString& titulo, bool marcada, QWidget* padre = nullptr);

    void poner(bool si);  // calls nothing
    std::function<void(bool)> al;
};

}  // namespace tt
