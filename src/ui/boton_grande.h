#pragma once

#include <QPushButton>

#include <functional>

namespace tt {

// The big pill button of the sign-in window, 300 × 48: filled white, or outlined (`hueco`).
// `al` hears each click. Main thread.
class BotonGrande : public QPushButton {
    Q_OBJECT
public:
    BotonGrande(const QString& titulo, bool hueco = false, QWidget* padre = nullptr);

    bool hueco() const { return hueco_; }
    std::function<void()> al;

    QSize sizeHint() const override { return {300, 48}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool hueco_;
    bool encima_ = false;
};

}  // namespace tt
