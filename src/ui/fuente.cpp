#include "ui/fuente.h"

#include <QFontDatabase>
#include <QLabel>

namespace tt {

namespace {
const QString& familiaRedonda() {
    static const QString familia = [] {
        const QStringList instaladas = QFontDatabase::families();
        for (const char* f : {"Nunito", "Quicksand", "Comfortaa", "M PLUS Rounded 1c", "Varela Round"})
            if (instaladas.contains(QString::fromUtf8(f))) return QString::fromUtf8(f);
        return QString();
    }();
    return familia;
}

QFont::Weight pesoQt(Peso p) {
    switch (p) {
        case Peso::regular: return QFont::Normal;
        case Peso::medium: return QFont::Medium;
        case Peso::semibold: return QFont::DemiBold;
        case Peso::bold: return QFont::Bold;
        case Peso::heavy: return QFont::Black;
    }
    return QFont::Normal;
}
}  // namespace

QFont fuente(double tam, Peso peso) {
    QFont f;
    if (!familiaRedonda().isEmpty()) f.setFamily(familiaRedonda());
    // Layout points are pixels at 96 dpi.
    f.setPointSizeF(tam * 0.75);
    f.setWeight(pesoQt(peso));
    return f;
}

QLabel* etiqueta(const QString& texto, double tam, Peso peso, QColor color, QWidget* padre) {
    auto* l = new QLabel(texto, padre);
    l->setFont(fuente(tam, peso));
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    l->setAutoFillBackground(false);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

void aclararCasilla(QWidget* casilla) {
    QPalette p = casilla->palette();
    p.setColor(QPalette::Base, QColor(62, 62, 66));
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(36, 36, 38));
    casilla->setPalette(p);
}

QColor colorSecundario() { return QColor(255, 255, 255, 140); }
QColor colorTerciario() { return QColor(255, 255, 255, 128); }
QColor colorApagado() { return QColor(255, 255, 255, 64); }
QColor colorFondo() { return QColor::fromRgbF(0.043f, 0.043f, 0.047f); }
QColor colorBloque() { return QColor::fromRgbF(1, 1, 1, 0.04f); }

}  // namespace tt
