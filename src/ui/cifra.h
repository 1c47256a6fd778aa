#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace tt {

// A figure tile: a large value over a small caption. The value reads "—" until it is set.
// Main thread.
class Cifra : public QWidget {
public:
    explicit Cifra(const QString& nombre, QWidget* padre = nullptr);

    void ponerValor(const QString& texto);
    QString valor() const;
    QString nombre() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QLabel* valor_;
    QLabel* nombre_;
};

}  // namespace tt
