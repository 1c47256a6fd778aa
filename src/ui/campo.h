#pragma once

#include <QLineEdit>

#include <functional>

namespace tt {

// The look every text field shares: rounded, a faint border, no frame of its own, 11 points of
// text inset; brighter while it has the focus.
void vestirCampo(QLineEdit* campo);

// A one-line text field: `al` hears every edit of the user (setting the text from code calls
// nothing). Main thread.
class Campo : public QLineEdit {
    Q_OBJECT
public:
    Campo(const QString& texto, const QString& indicacion, QWidget* padre = nullptr);

    void poner(const QString& texto);  // calls nothing
    std::function<void(const QString&)> al;
};

}  // namespace tt
