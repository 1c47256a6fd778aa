#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

namespace tt {

class Campo;
class CampoSecreto;

// A password field with a "Mostrar"/"Ocultar" button: the dotted field first, the plain one on
// demand, both holding the same text. `al` hears every edit of the user. Main thread.
class CampoClave : public QWidget {
    Q_OBJECT
public:
    CampoClave(const QString& indicacion, QWidget* padre = nullptr);

    QString valor() const;  // the visible field's text
    void poner(const QString& texto);  // calls nothing
    bool visible() const { return claro_; }
    void alternar();
    void enfocar();
    std::function<void(const QString&)> al;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    CampoSecreto* oculto_;
    Campo* plano_;
    QPushButton* boton_;
    bool claro_ = false;
};

}  // namespace tt
