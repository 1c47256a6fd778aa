#include "ui/vista_reglas.h"

#include "ui/fuente.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace tt {

namespace {

int grafemas(const QString& s) {
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, s);
    int n = 0;
    while (f.toNextBoundary() != -1) ++n;
    return n;
}

bool blanco(QChar c) { return c == u' ' || c == u'\t'; }

// A filled circle with a tick, or an empty ring, drawn at the screen's ratio.
QPixmap marca(bool cumple, double escala) {
    constexpr double lado = 12;
    QPixmap p(int(lado * escala), int(lado * escala));
    p.setDevicePixelRatio(escala);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.75, 0.75, lado - 1.5, lado - 1.5);
    if (cumple) {
        const QColor verde = QColor::fromRgbF(0.3f, 0.85f, 0.39f);
        g.setPen(Qt::NoPen);
        g.setBrush(verde);
        g.drawEllipse(r);
        QPen trazo(QColor(10, 10, 12), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        g.setPen(trazo);
        g.drawPolyline(QPolygonF({QPointF(3.4, 6.2), QPointF(5.3, 8.0), QPointF(8.7, 4.3)}));
    } else {
        g.setPen(QPen(colorTerciario(), 1.3));
        g.setBrush(Qt::NoBrush);
        g.drawEllipse(r);
    }
    return p;
}

}  // namespace

std::vector<Regla> reglasDeClave(const QString& clave) {
    bool numero = false, especial = false;
    for (char32_t c : clave.toUcs4()) {
        if (QChar::isNumber(c)) numero = true;
        else if (!QChar::isLetter(c) && !QChar::isSpace(c)) especial = true;
    }
    const bool sinBordes = !clave.isEmpty() && !blanco(clave.front()) && !blanco(clave.back());
    return {{QString::fromUtf8("8 caracteres"), grafemas(clave) >= 8},
            {QString::fromUtf8("1 número"), numero},
            {QString::fromUtf8("1 carácter especial, ej.: $ ! @ % &"), especial},
            {QString::fromUtf8("Sin espacios al inicio o final"), sinBordes}};
}

bool claveAceptable(const QString& clave) {
    for (const Regla& r : reglasDeClave(clave))
        if (!r.cumple) return false;
    return true;
}

VistaReglas::VistaReglas(QWidget* padre) : QWidget(padre) {
    auto* pila = new QVBoxLayout(this);
    pila->setContentsMargins(0, 0, 0, 0);
    pila->setSpacing(4);
    for (const Regla& r : reglasDeClave({})) {
        auto* fila = new QHBoxLayout();
        fila->setSpacing(7);
        auto* imagen = new QLabel(this);
        auto* texto = etiqueta(r.texto, 12, Peso::medium, colorTerciario(), this);
        texto->setTextFormat(Qt::PlainText);
        fila->addWidget(imagen);
        fila->addWidget(texto, 1);
        pila->addLayout(fila);
        vistas_.emplace_back(imagen, texto);
    }
    poner({});
}

void VistaReglas::poner(const QString& clave) {
    filas_ = reglasDeClave(clave);
    for (std::size_t i = 0; i < filas_.size(); ++i) {
        auto [imagen, texto] = vistas_[i];
        imagen->setPixmap(marca(filas_[i].cumple, devicePixelRatioF()));
        QPalette p = texto->palette();
        p.setColor(QPalette::WindowText, filas_[i].cumple ? QColor(Qt::white) : colorTerciario());
        texto->setPalette(p);
    }
}

}  // namespace tt
