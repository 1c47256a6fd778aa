#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace tt {

// Follows the pointer over one control: reports entering and leaving while the control is
// enabled (disabling it counts as leaving) and keeps the cursor a pointing hand over an enabled
// control, the arrow otherwise. Owned by the control it follows (a Qt child). Main thread.
class Rastro : public QObject {
public:
    static Rastro* poner(QWidget* control, std::function<void(bool encima)> alCambiar);

    bool encima() const { return encima_; }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    Rastro(QWidget* control, std::function<void(bool)> alCambiar);
    void cambiar(bool encima);

    QWidget* control_;
    std::function<void(bool)> alCambiar_;
    bool encima_ = false;
};

}  // namespace tt
