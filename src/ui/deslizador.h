#pragma once

#include <QSlider>

#include <functional>

namespace tt {

// A horizontal slider over a range of real numbers: `al` hears every move of the user
// (continuously while dragging, and from the keyboard); setting the value from code calls
// nothing. Main thread.
class Deslizador : public QSlider {
    Q_OBJECT
public:
    Deslizador(double valor, double minimo, double maximo, QWidget* padre = nullptr);

    double valor() const;
    void poner(double valor);  // calls nothing; clamped to the range (use it, not setValue)
    double minimo() const { return minimo_; }
    double maximo() const { return maximo_; }

    std::function<void(double)> al;

private:
    static constexpr int pasos = 1000;  // steps of the underlying integer slider
    double minimo_, maximo_;
};

}  // namespace tt
