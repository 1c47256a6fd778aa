#include "ui/pregunta.h"

#include "ui/fuente.h"

#include <QMessageBox>
#include <QPushButton>

namespace tt {

void vestir(QMessageBox& m) {
    m.setIcon(QMessageBox::NoIcon);
    m.setWindowTitle("Tremolante Transmitir");
    m.setTextFormat(Qt::PlainText);
    m.setFont(fuente(13));
    m.setStyleSheet(
        "QMessageBox { background: rgb(28, 28, 30); }"
        "QLabel { color: white; }"
        "QLabel#qt_msgbox_label { font-size: 15pt; font-weight: 600; }"
        "QLabel#qt_msgbox_informativelabel { color: rgba(255, 255, 255, 200); }"
        "QPushButton { background: rgb(58, 58, 60); color: white; border: 2px solid transparent;"
        "  border-radius: 10px; padding: 6px 16px; min-width: 88px; }"
        "QPushButton:hover { background: rgb(72, 72, 74); }"
        "QPushButton:default { background: rgb(10, 132, 255); }"
        "QPushButton:focus { border-color: rgba(255, 255, 255, 180); }"
        "QPushButton[destructiva=\"true\"] { background: rgb(229, 72, 77); }"
        "QPushButton[destructiva=\"true\"]:hover { background: rgb(240, 92, 97); }");
}

QMessageBox* preguntar(QWidget* sobre, const Pregunta& p, std::function<void(std::optional<int>)> respuesta) {
    auto* m = new QMessageBox(sobre);
    vestir(*m);
    m->setText(p.titulo);
    m->setInformativeText(p.explicacion);
    std::vector<QPushButton*> botones;
    for (int i = 0; i < int(p.opciones.size()); ++i) {
        // Roles only place the buttons; the answer is the button's index.
        auto* b = m->addButton(p.opciones[std::size_t(i)], QMessageBox::ActionRole);
        b->setAutoDefault(false);
        if (p.destructiva == i) b->setProperty("destructiva", true);
        botones.push_back(b);
    }
    if (p.segura >= 0 && p.segura < int(botones.size()) && p.destructiva != p.segura) {
        m->setDefaultButton(botones[std::size_t(p.segura)]);
        botones[std::size_t(p.segura)]->setFocus();
    }
    if (p.alEscapar && *p.alEscapar >= 0 && *p.alEscapar < int(botones.size()))
        m->setEscapeButton(botones[std::size_t(*p.alEscapar)]);
    m->setAttribute(Qt::WA_DeleteOnClose);
    m->setWindowModality(Qt::WindowModal);
    QObject::connect(m, &QDialog::finished, m, [m, botones, respuesta = std::move(respuesta)] {
        std::optional<int> elegida;
        for (std::size_t i = 0; i < botones.size(); ++i)
            if (m->clickedButton() == botones[i]) elegida = int(i);
        if (respuesta) respuesta(elegida);
    });
    m->open();
    return m;
}

QMessageBox* avisar(QWidget* sobre, const QString& titulo, const QString& explicacion) {
    return preguntar(sobre, {titulo, explicacion, {"Entendido"}, 0, std::nullopt, 0}, nullptr);
}

}  // namespace tt
