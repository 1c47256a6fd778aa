#include "ui/tarjeta.h"

#include "ui/fuente.h"
#include "ui/icono.h"
#include "ui/rastro.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <vector>

namespace tt {

namespace {
const QColor rojoVivo = QColor::fromRgbF(1.0f, 0.35f, 0.37f);
QColor blanco(double alfa) { return QColor::fromRgbF(1, 1, 1, float(alfa)); }
}  // namespace

Tarjeta::Tarjeta(std::optional<std::string> id, const QString& nombre, QWidget* padre)
    : QWidget(padre), id_(std::move(id)), nombre_(nombre) {
    setFixedSize(ancho, altoFoto + 24);
    setAccessibleName(nombre);
    setFocusPolicy(Qt::ClickFocus);  // the strip's Tab stop is the card focused last
    Rastro::poner(this, [this](bool encima) {
        encima_ = encima;
        update();
    });
}

void Tarjeta::poner(const QImage& foto, const QString& nombre) {
    foto_ = foto;
    ponerNombre(nombre);
}

void Tarjeta::ponerNombre(const QString& nombre) {
    nombre_ = nombre;
    setAccessibleName(nombre);
    update();
}

void Tarjeta::ponerEstado(int estado, bool respaldo) {
    if (estado == estado_ && respaldo == respaldo_) return;
    estado_ = estado;
    respaldo_ = respaldo;
    setAccessibleDescription(respaldo ? QString::fromUtf8("Esta pantalla se queda en Kick si se cae el internet")
                                      : QString());
    update();
}

QRectF Tarjeta::marcoFoto() const { return QRectF(1, 1, ancho - 2, altoFoto - 2); }

QRectF Tarjeta::lapiz() const { return QRectF(ancho - 6 - 24, 6, 24, 24); }

QRectF Tarjeta::sinRed() const { return QRectF(ancho - 6 - 22, altoFoto - 6 - 22, 22, 22); }

QString Tarjeta::ayudaEn(QPointF punto) const {
    if (!id_) return nombre_;
    if (lapiz().adjusted(-4, -4, 4, 4).contains(punto)) return QString::fromUtf8("Editar esta pantalla");
    if (respaldo_ && sinRed().contains(punto))
        return QString::fromUtf8("Esta pantalla se queda en Kick si se cae el internet");
    return {};
}

bool Tarjeta::event(QEvent* e) {
    if (e->type() != QEvent::ToolTip) return QWidget::event(e);
    auto* h = static_cast<QHelpEvent*>(e);
    const QString ayuda = ayudaEn(h->pos());
    if (ayuda.isEmpty()) {
        QToolTip::hideText();
        e->ignore();
    } else {
        QToolTip::showText(h->globalPos(), ayuda, this);
    }
    return true;
}

void Tarjeta::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF marco = marcoFoto();
    QPainterPath redondo;
    redondo.addRoundedRect(marco, 9, 9);
    p.fillPath(redondo, blanco(0.04));
    if (!foto_.isNull()) {
        p.save();
        p.setClipPath(redondo);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(marco, foto_);
        p.restore();
    }
    if (!id_) {
        // The new-screen card: a dashed outline around a plus.
        QPen raya(blanco(encima_ ? 0.6 : 0.26), 1.5);
        raya.setDashPattern({5 / 1.5, 4 / 1.5});
        p.setPen(raya);
        p.drawRoundedRect(marco.adjusted(0.75, 0.75, -0.75, -0.75), 9, 9);
        const QPixmap mas = icono("mas", 20, blanco(0.55), devicePixelRatioF());
        if (!mas.isNull()) p.drawPixmap(QPointF(marco.center().x() - 10, marco.center().y() - 10), mas);
    } else {
        const double grosor = estado_ > 0 ? 2 : 1;
        const QColor borde = estado_ == 2 ? rojoVivo : estado_ == 1 ? blanco(1) : blanco(encima_ ? 0.32 : 0.1);
        p.setPen(QPen(borde, grosor));
        p.setBrush(Qt::NoBrush);
        const double m = grosor / 2;
        p.drawRoundedRect(marco.adjusted(m, m, -m, -m), 9, 9);
        if (estado_ == 2) {
            p.setFont(fuente(9.5, Peso::heavy));
            const QString texto = QString::fromUtf8("AL AIRE");
            const double w = QFontMetricsF(p.font()).horizontalAdvance(texto) + 14;
            const QRectF caja(7, 7, w, 16);
            p.setPen(Qt::NoPen);
            p.setBrush(rojoVivo);
            p.drawRoundedRect(caja, 8, 8);
            p.setPen(Qt::white);
            p.drawText(caja, Qt::AlignCenter, texto);
        }
        auto disco = [&](const QRectF& caja, const char* simbolo, double lado) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor::fromRgbF(0, 0, 0, 0.62f));
            p.drawEllipse(caja);
            const QPixmap s = icono(simbolo, lado, Qt::white, devicePixelRatioF());
            if (!s.isNull()) p.drawPixmap(QPointF(caja.center().x() - lado / 2, caja.center().y() - lado / 2), s);
        };
        if (encima_) disco(lapiz(), "ajustes", 12);
        if (respaldo_) disco(sinRed(), "sin-wifi", 11);
    }
    if (hasFocus()) {
        // The keyboard's ring, outside the card's own border.
        p.setPen(QPen(QColor::fromRgbF(0.04f, 0.52f, 1.0f), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(marco.adjusted(-0.5, -0.5, 0.5, 0.5), 10, 10);
    }
    p.setFont(fuente(12, Peso::semibold));
    p.setPen(id_ && estado_ == 0 ? colorSecundario() : !id_ ? colorSecundario() : QColor(Qt::white));
    const QRectF linea(2, altoFoto + 4, ancho - 4, 18);
    // Shown as plain text, elided: a name is never read as markup.
    p.drawText(linea, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(p.font()).elidedText(nombre_, Qt::ElideRight, linea.width()));
}

void Tarjeta::keyPressEvent(QKeyEvent* e) {
    const int tecla = e->key();
    if (tecla == Qt::Key_Return || tecla == Qt::Key_Enter || tecla == Qt::Key_Space) {
        if (alElegir) alElegir();
        return;
    }
    if ((tecla != Qt::Key_Left && tecla != Qt::Key_Right) || !parentWidget()) return QWidget::keyPressEvent(e);
    // The cards in the strip's order (cards replaced by a repaint are hidden until deleted).
    std::vector<Tarjeta*> fila;
    for (auto* t : parentWidget()->findChildren<Tarjeta*>(Qt::FindDirectChildrenOnly))
        if (!t->isHidden()) fila.push_back(t);
    auto yo = std::find(fila.begin(), fila.end(), this);
    if (yo == fila.end()) return;
    if (tecla == Qt::Key_Left && yo != fila.begin()) (*(yo - 1))->setFocus(Qt::OtherFocusReason);
    if (tecla == Qt::Key_Right && yo + 1 != fila.end()) (*(yo + 1))->setFocus(Qt::OtherFocusReason);
}

void Tarjeta::focusInEvent(QFocusEvent* e) {
    // This card is now the strip's Tab stop.
    if (parentWidget())
        for (auto* t : parentWidget()->findChildren<Tarjeta*>(Qt::FindDirectChildrenOnly))
            t->setFocusPolicy(t == this ? Qt::StrongFocus : Qt::ClickFocus);
    QWidget::focusInEvent(e);
    update();
}

void Tarjeta::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    update();
}

void Tarjeta::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    if (id_ && lapiz().adjusted(-4, -4, 4, 4).contains(e->position())) {
        if (alEditar) alEditar();
    } else if (alElegir) alElegir();
}

void Tarjeta::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(e);
    if (id_) {
        if (alEditar) alEditar();
    } else if (alElegir) alElegir();
}

void Tarjeta::contextMenuEvent(QContextMenuEvent* e) {
    if (!id_) return;
    QMenu menu(this);
    auto llamar = [](const std::function<void()>& f) {
        return [f] {
            if (f) f();
        };
    };
    menu.addAction(QString::fromUtf8("Editar…"), this, llamar(alEditar));
    menu.addAction("Duplicar", this, llamar(alDuplicar));
    QAction* respaldo = menu.addAction("Poner si se cae el internet", this, llamar(alRespaldo));
    respaldo->setCheckable(true);
    respaldo->setChecked(respaldo_);
    if (*id_ != "camara") {
        menu.addSeparator();
        menu.addAction("Eliminar", this, llamar(alEliminar));
    }
    menu.exec(e->globalPos());
}

}  // namespace tt
