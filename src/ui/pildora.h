#pragma once

#include <QPushButton>

class QTimer;

namespace tt {

class Rastro;

// The stream button: a pill reading "Transmitir" (white, red dot) or, on air, "Detener" (red,
// white square). It glows under the pointer. Owns its glow animation. Main thread.
class Pildora : public QPushButton {
    Q_OBJECT
public:
    explicit Pildora(QWidget* padre = nullptr);

    bool enVivo() const { return enVivo_; }
    void ponerEnVivo(bool si);  // redraws at once

    // The hover glow, 0…1, and where it is heading.
    double realce() const { return realce_; }
    double meta() const { return meta_; }
    // Moves the glow toward `meta`, one step every 1/60 s; a new call replaces the running one.
    void animar(double meta);
    // One step of the animation: 0.35 of the remaining distance, snapping when closer than 0.02.
    static double paso(double realce, double meta);
    // The body's inset from the bounds (horizontal; vertical is 0.6 of it).
    double margen() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;

private:
    bool enVivo_ = false;
    bool focoTeclado_ = false;  // focus came with Tab: the ring shows
    double realce_ = 0;
    double meta_ = 0;
    QTimer* animador_ = nullptr;  // exists only while the glow moves
};

}  // namespace tt
