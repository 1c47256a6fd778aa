#include "ui/apariencia.h"

#include "ui/fuente.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace tt {

void aparienciaOscura() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    const QColor fondo = colorFondo(), base(28, 28, 30), texto(255, 255, 255);
    p.setColor(QPalette::Window, fondo);
    p.setColor(QPalette::WindowText, texto);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(38, 38, 40));
    p.setColor(QPalette::Text, texto);
    p.setColor(QPalette::Button, QColor(44, 44, 46));
    p.setColor(QPalette::ButtonText, texto);
    p.setColor(QPalette::Light, QColor(70, 70, 72));
    p.setColor(QPalette::Midlight, QColor(58, 58, 60));
    p.setColor(QPalette::Mid, QColor(36, 36, 38));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, texto);
    p.setColor(QPalette::PlaceholderText, colorTerciario());
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, texto);
    p.setColor(QPalette::Link, QColor(10, 132, 255));
    for (auto rol : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        p.setColor(QPalette::Disabled, rol, colorApagado());
    QApplication::setPalette(p);
}

}  // namespace tt
