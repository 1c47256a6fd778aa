#pragma once

#include <QLabel>

namespace tt {

// A one-line label that gives way: narrowed, it cuts its text with an ellipsis at the end
// instead of pushing its neighbours. The full text stays its accessible text. Main thread.
class Renglon : public QLabel {
    Q_OBJECT
public:
    explicit Renglon(QWidget* padre = nullptr);

    QSize minimumSizeHint() const override;
    // What is drawn in the current width.
    QString visible() const;

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace tt
