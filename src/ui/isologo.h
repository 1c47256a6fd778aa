#pragma once

#include <QWidget>

namespace tt {

// The product's mark, 92 × 80: a red on-air dot between two pairs of waves. Main thread.
class Isologo : public QWidget {
    Q_OBJECT
public:
    explicit Isologo(QWidget* padre = nullptr);
    QSize sizeHint() const override { return {92, 80}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace tt
