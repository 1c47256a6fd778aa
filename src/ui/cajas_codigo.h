#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace tt {

// Six boxes for a mailed code: typing digits fills them, Backspace empties the last, a paste
// keeps the first six digits of what was pasted. `al` hears every change of the value. Main
// thread.
class CajasCodigo : public QWidget {
    Q_OBJECT
public:
    explicit CajasCodigo(QWidget* padre = nullptr);

    const QString& valor() const { return valor_; }
    // Keeps only the digits, at most six; calls `al` when that changes the value.
    void poner(const QString& texto);
    std::function<void(const QString&)> al;

    QSize sizeHint() const override { return {304, 52}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    QString valor_;
};

}  // namespace tt
