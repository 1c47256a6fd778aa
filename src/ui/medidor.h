#pragma once

#include <QColor>
#include <QWidget>

namespace tt {

// The audio level meter: a dark rounded track and a bar whose length and colour follow the peak
// in dB over the last 60 dB. Holds only the level it was last given. Main thread.
class Medidor : public QWidget {
public:
    explicit Medidor(QWidget* padre = nullptr);

    // The linear peak 0…1; the caller asks for the redraw.
    float nivel = 0;

    struct Barra {
        double parte;  // share of the width, 0…1
        QColor color;
    };
    static Barra barra(float nivel);

    QSize sizeHint() const override { return {0, 6}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace tt
