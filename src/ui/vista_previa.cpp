#include "ui/vista_previa.h"

#include "comun/cola.h"
#include "principal/principal.h"
#include "comun/reloj.h"
#include "engine/convertir.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace tt {

struct VistaPrevia::Estado : std::enable_shared_from_this<VistaPrevia::Estado> {
    std::mutex candado;  // guards everything but vista
    std::optional<Cuadro> pendiente;
    bool pendienteEsPrograma = false;
    bool enCurso = false;
    bool viendoPrograma = false;
    QSize tam;                     // the view's size in device pixels
    VistaPrevia* vista = nullptr;  // main thread only; cleared when the view goes

    // A preview converted on the CPU needs no more than 30 pictures a second; the newest frame
    // waiting is the one shown.
    static constexpr double intervalo = 1.0 / 30;
    double ultima = -1;  // when the last conversion started

    void entregar(const Cuadro& c, bool programa) {
        std::lock_guard l(candado);
        if (programa != viendoPrograma) return;  // a live picture under the programme is not shown
        pendiente = c;
        pendienteEsPrograma = programa;
        if (enCurso) return;
        enCurso = true;
        programar(ultima + intervalo - ahora());
    }

    void programar(double espera) {
        auto yo = shared_from_this();
        if (espera > 0) enGlobalDespues(espera, [yo] { yo->convertir(); });
        else enGlobal([yo] { yo->convertir(); });
    }

    void convertir() {
        Cuadro c;
        bool programa;
        QSize caja;
        {
            std::lock_guard l(candado);
            if (!pendiente) {
                enCurso = false;
                return;
            }
            c = std::move(*pendiente);
            pendiente.reset();
            programa = pendienteEsPrograma;
            caja = tam;
            ultima = ahora();
        }
        const QSize t = encajarPrevia(QSize(c.ancho, c.alto), caja);
        QImage imagen = nv12AImagen(c, t.width(), t.height());
        if (!imagen.isNull())
            enPrincipal([yo = shared_from_this(), imagen = std::move(imagen), programa] {
                if (yo->vista) yo->vista->poner(imagen, programa);
            });
        std::lock_guard l(candado);
        if (!pendiente) {
            enCurso = false;
            return;
        }
        programar(ultima + intervalo - ahora());
    }
};

QSize encajarPrevia(QSize cuadro, QSize caja) {
    if (cuadro.isEmpty() || caja.isEmpty()) return {};
    const QSize t = cuadro.scaled(caja, Qt::KeepAspectRatio);
    return QSize(std::max(2, t.width() & ~1), std::max(2, t.height() & ~1));
}

VistaPrevia::VistaPrevia(QWidget* padre) : QWidget(padre), estado_(std::make_shared<Estado>()) {
    estado_->vista = this;
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMinimumSize(160, 90);
}

VistaPrevia::~VistaPrevia() {
    estado_->vista = nullptr;
    std::lock_guard l(estado_->candado);
    estado_->pendiente.reset();
}

void VistaPrevia::camara(const Cuadro& c) {
    if (c) estado_->entregar(c, false);
}

void VistaPrevia::mostrar(std::optional<Cuadro> programa) {
    if (programa && *programa) {
        {
            std::lock_guard l(estado_->candado);
            estado_->viendoPrograma = true;
        }
        estado_->entregar(*programa, true);
        return;
    }
    std::lock_guard l(estado_->candado);
    estado_->viendoPrograma = false;
}

std::function<void(const Cuadro&)> VistaPrevia::receptorCamara() {
    std::weak_ptr<Estado> debil = estado_;
    return [debil](const Cuadro& c) {
        if (auto e = debil.lock(); e && c) e->entregar(c, false);
    };
}

std::function<void(std::optional<Cuadro>)> VistaPrevia::receptorPrograma() {
    std::weak_ptr<Estado> debil = estado_;
    return [debil](std::optional<Cuadro> c) {
        auto e = debil.lock();
        if (!e) return;
        if (c && *c) {
            {
                std::lock_guard l(e->candado);
                e->viendoPrograma = true;
            }
            e->entregar(*c, true);
        } else {
            std::lock_guard l(e->candado);
            e->viendoPrograma = false;
        }
    };
}

bool VistaPrevia::viendoPrograma() const {
    std::lock_guard l(estado_->candado);
    return estado_->viendoPrograma;
}

void VistaPrevia::poner(QImage imagen, bool programa) {
    {
        std::lock_guard l(estado_->candado);
        if (programa != estado_->viendoPrograma) return;  // switched while it was converted
    }
    imagen_ = std::move(imagen);
    imagen_.setDevicePixelRatio(devicePixelRatioF());  // converted at the view's size in device pixels
    programaVisible_ = programa;
    update();
    if (alPintar) alPintar();
}

void VistaPrevia::resizeEvent(QResizeEvent* e) {
    const qreal escala = devicePixelRatioF();
    std::lock_guard l(estado_->candado);
    estado_->tam = QSize(int(std::lround(e->size().width() * escala)), int(std::lround(e->size().height() * escala)));
}

void VistaPrevia::paintEvent(QPaintEvent*) {
    // The picture is drawn unclipped at its converted size, then the rounded frame's corners are
    // covered with the background: an antialiased clip over the whole picture costs far more on
    // every frame than these four small areas.
    QPainter p(this);
    const QRectF marco = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath forma;
    forma.addRoundedRect(marco, 14, 14);
    if (imagen_.isNull()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(forma, Qt::black);
    } else {
        const QSizeF tam = QSizeF(imagen_.size()) / imagen_.devicePixelRatio();
        const QSizeF cabe = tam.scaled(size(), Qt::KeepAspectRatio);
        const QRectF destino((width() - cabe.width()) / 2, (height() - cabe.height()) / 2, cabe.width(), cabe.height());
        if (destino != QRectF(rect())) p.fillRect(rect(), Qt::black);
        if (cabe != tam) p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(destino, imagen_);
        QPainterPath todo;
        todo.addRect(QRectF(rect()));
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(todo.subtracted(forma), palette().color(QPalette::Window));
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 26), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(forma);
}

}  // namespace tt
