#pragma once

#include <QComboBox>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace tt {

// A pop-up list of (title, id) items that lights up under the pointer. Filling it from code
// calls nothing; a choice of the user calls `al` with the item's id. Main thread.
class Lista : public QComboBox {
    Q_OBJECT
public:
    struct Item {
        QString titulo;
        QString id;
        bool separador = false;  // a line between items; titulo and id unused
    };

    explicit Lista(QWidget* padre = nullptr);

    // Replaces the items and selects the one with id `elegido`; without it, the item selected
    // before keeps its place when its id is still there; otherwise the first item.
    void llenar(const std::vector<Item>& items, std::optional<QString> elegido = std::nullopt);
    // The single item `texto`, disabled (while there is nothing to choose).
    void esperar(const QString& texto);
    // Selects the item with that id, if there is one.
    void elegir(const QString& id);
    std::optional<QString> elegido() const;

    std::function<void(const QString& id)> al;

protected:
    void paintEvent(QPaintEvent*) override;  // a rounded face like the buttons, with a chevron
    void focusInEvent(QFocusEvent* e) override;

private:
    bool focoTeclado_ = false;  // focus came with Tab: the ring shows
};

// The face of a closed pop-up: rounded, faint, the chosen title and a chevron; a ring when `anillo`.
void pintarDesplegable(QComboBox& c, bool anillo);

}  // namespace tt
