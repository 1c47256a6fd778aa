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

namespace {
constexpr int radio = 14;  // of the rounded corners
}  // namespace

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
    // The planes last converted, for which size and kind: a still screen hands the same picture
    // over and over, and it is converted once.
    std::weak_ptr<std::vector<std::uint8_t>> hecha;
    QSize hechaCaja;
    bool hechaPrograma = false;

    // Under candado. A switch of kind converts again whatever comes (the picture converted last
    // may never have been shown, or a picture of the other kind shows now).
    void modo(bool programa) {
        if (programa != viendoPrograma) hecha.reset();
        viendoPrograma = programa;
    }

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
            const bool repetida = !hecha.expired() && !hecha.owner_before(c.memoria) &&
                                  !c.memoria.owner_before(hecha) && caja == hechaCaja && programa == hechaPrograma;
            if (repetida) {
                enCurso = false;
                return;
            }
            hecha = c.memoria;
            hechaCaja = caja;
            hechaPrograma = programa;
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
    setAttribute(Qt::WA_OpaquePaintEvent, true);
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
            estado_->modo(true);
        }
        estado_->entregar(*programa, true);
        return;
    }
    std::lock_guard l(estado_->candado);
    estado_->modo(false);
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
                e->modo(true);
            }
            e->entregar(*c, true);
        } else {
            std::lock_guard l(e->candado);
            e->modo(false);
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

const QImage& VistaPrevia::marco() {
    const qreal escala = devicePixelRatioF();
    const QSize tam(int(std::lround(width() * escala)), int(std::lround(height() * escala)));
    if (marco_.size() == tam && marco_.devicePixelRatio() == escala) return marco_;
    marco_ = QImage(tam, QImage::Format_ARGB32_Premultiplied);
    marco_.setDevicePixelRatio(escala);
    marco_.fill(Qt::transparent);
    QPainter p(&marco_);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF borde = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath forma, todo;
    forma.addRoundedRect(borde, radio, radio);
    todo.addRect(QRectF(rect()));
    p.fillPath(todo.subtracted(forma), palette().color(QPalette::Window));
    p.setPen(QPen(QColor(255, 255, 255, 26), 1));
    p.drawPath(forma);
    return marco_;
}

void VistaPrevia::paintEvent(QPaintEvent*) {
    // Only the frame's bands are laid over the picture, from an image made once per size: that
    // costs far less on every picture than antialiased paths over the whole view.
    QPainter p(this);
    if (imagen_.isNull()) {
        p.fillRect(rect(), Qt::black);
    } else {
        const QSizeF tam = QSizeF(imagen_.size()) / imagen_.devicePixelRatio();
        QSizeF cabe = tam.scaled(size(), Qt::KeepAspectRatio);
        // Converted for this size, it is copied as it is, at whole pixels: resampling it by a
        // pixel's worth (its size is even, the view's need not be) costs three times the copy,
        // and Qt spreads it over its thread pool.
        if (std::abs(cabe.width() - tam.width()) < 2 && std::abs(cabe.height() - tam.height()) < 2) cabe = tam;
        const QRectF destino(std::floor((width() - cabe.width()) / 2), std::floor((height() - cabe.height()) / 2),
                             cabe.width(), cabe.height());
        const QRegion fuera = QRegion(rect()).subtracted(QRegion(destino.toAlignedRect()));
        for (const QRect& r : fuera) p.fillRect(r, Qt::black);
        if (cabe != tam) p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(destino, imagen_);
    }
    const QImage& m = marco();
    const int w = width(), h = height(), banda = std::min(radio + 2, h / 2);
    for (const QRect r : {QRect(0, 0, w, banda), QRect(0, h - banda, w, banda), QRect(0, banda, 2, h - 2 * banda),
                          QRect(w - 2, banda, 2, h - 2 * banda)})
        p.drawImage(QRectF(r), m, QRectF(r.topLeft() * m.devicePixelRatio(), r.size() * m.devicePixelRatio()));
}

}  // namespace tt
