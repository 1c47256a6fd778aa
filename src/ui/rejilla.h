#pragma once

#include <QWidget>

#include <functional>
#include <optional>

namespace tt {

// The place picker: nine cells, 0 to 8 row by row from the top left, the chosen one white.
// `al` hears a new cell the user chose (a click or the arrow keys), never the same cell again and
// never a choice made from code. Main thread.
class Rejilla : public QWidget {
    Q_OBJECT
public:
    explicit Rejilla(int celda, QWidget* padre = nullptr);

    int celda() const { return celda_; }
    void elegir(int celda);  // calls nothing; ignored outside 0…8

    // Cell i's rectangle in a picker of that size: three columns and rows with 3-point gaps.
    static QRectF rectCelda(QSizeF tam, int i);
    // The first cell, 0…8, whose rectangle grown by 1.5 points holds the point; none outside all.
    static std::optional<int> celdaEn(QSizeF tam, QPointF punto);

    std::function<void(int)> al;

    QSize sizeHint() const override { return {64, 40}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void elegirPorUsuario(int celda);
    int celda_;
};

}  // namespace tt
