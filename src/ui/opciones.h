#pragma once

#include <QComboBox>
#include <QStringList>

#include <functional>

namespace tt {

// The editor's pop-up of a few titles: `al` hears the index the user picked (choosing from code
// calls nothing). Main thread.
class Opciones : public QComboBox {
    Q_OBJECT
public:
    Opciones(const QStringList& titulos, int elegido, QWidget* padre = nullptr);

    void elegir(int indice);  // calls nothing
    std::function<void(int)> al;

protected:
    void paintEvent(QPaintEvent*) override;
    void focusInEvent(QFocusEvent* e) override;

private:
    bool focoTeclado_ = false;  // focus came with Tab: the ring shows
};

}  // namespace tt
