#include "pantallas/compositor.h"

#include "comun/bitacora.h"
#include "comun/cola.h"
#include "principal/principal.h"
#include "comun/reloj.h"
#include "pantallas/almacen.h"
#include "pantallas/fondo_video.h"
#include "pantallas/imagen.h"
#include "pantallas/sonido_archivo.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tt {

namespace fs = std::filesystem;

namespace {

constexpr int topeFondo = 2560;  // longer side of a still background as decoded

// A rectangle brought to even pixel edges and cut to a W × H frame.
QRect aPar(const QRectF& r, int W, int H) {
    const int x0 = std::clamp(2 * int(std::lround(r.left() / 2)), 0, W);
    const int y0 = std::clamp(2 * int(std::lround(r.top() / 2)), 0, H);
    const int x1 = std::clamp(2 * int(std::lround(r.right() / 2)), 0, W);
    const int y1 = std::clamp(2 * int(std::lround(r.bottom() / 2)), 0, H);
    return QRect(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
}

bool valido(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// The part `origen` of src scaled into `destino` of dst; a destination reaching out of the frame is
// cut there, and the source with it.
void escalar(const Cuadro& src, QRectF origen, Cuadro& dst, const QRectF& destino) {
    const QRectF marco(0, 0, dst.ancho, dst.alto);
    const QRectF d = destino & marco;
    if (d.isEmpty() || !valido(d) || !valido(origen) || destino.width() <= 0 || destino.height() <= 0) return;
    const double ex = origen.width() / destino.width(), ey = origen.height() / destino.height();
    origen = QRectF(origen.x() + (d.x() - destino.x()) * ex, origen.y() + (d.y() - destino.y()) * ey,
                    d.width() * ex, d.height() * ey);
    const QRect o = aPar(origen, src.ancho, src.alto);
    const QRect e = aPar(d, dst.ancho, dst.alto);
    if (o.width() < 2 || o.height() < 2 || e.width() < 2 || e.height() < 2) return;
    const std::uint8_t* sy = src.y() + std::size_t(o.y()) * src.pasoY + o.x();
    const std::uint8_t* suv = src.uv() + std::size_t(o.y() / 2) * src.pasoUV + o.x();
    std::uint8_t* dy = dst.y() + std::size_t(e.y()) * dst.pasoY + e.x();
    std::uint8_t* duv = dst.uv() + std::size_t(e.y() / 2) * dst.pasoUV + e.x();
    if (o.size() == e.size()) {
        libyuv::CopyPlane(sy, src.pasoY, dy, dst.pasoY, e.width(), e.height());
        libyuv::CopyPlane(suv, src.pasoUV, duv, dst.pasoUV, e.width(), e.height() / 2);
        return;
    }
    libyuv::ScalePlane(sy, src.pasoY, o.width(), o.height(), dy, dst.pasoY, e.width(), e.height(), libyuv::kFilterBilinear);
    // Chroma is split into two planes and scaled plane by plane: this libyuv's interleaved scaler
    // darkens both components by two steps at fractional ratios (a green cast).
    const int ow = o.width() / 2, oh = o.height() / 2, ew = e.width() / 2, eh = e.height() / 2;
    thread_local std::vector<std::uint8_t> u0, v0, u1, v1;
    u0.resize(std::size_t(ow) * oh);
    v0.resize(u0.size());
    u1.resize(std::size_t(ew) * eh);
    v1.resize(u1.size());
    libyuv::SplitUVPlane(suv, src.pasoUV, u0.data(), ow, v0.data(), ow, ow, oh);
    libyuv::ScalePlane(u0.data(), ow, ow, oh, u1.data(), ew, ew, eh, libyuv::kFilterBilinear);
    libyuv::ScalePlane(v0.data(), ow, ow, oh, v1.data(), ew, ew, eh, libyuv::kFilterBilinear);
    libyuv::MergeUVPlane(u1.data(), ew, v1.data(), ew, duv, dst.pasoUV, ew, eh);
}

void negro(Cuadro& c) {
    libyuv::SetPlane(c.y(), c.pasoY, c.ancho, c.alto, 16);
    libyuv::SetPlane(c.uv(), c.pasoUV, c.ancho, c.alto / 2, 128);
}

// The camera cut to cover the box, with corners rounded: the picture under each corner square is
// kept before the camera lands and blended back by how much of each pixel lies outside the curve.
void camaraEnCaja(const Cuadro& cam, const QRectF& caja, Cuadro& s) {
    const QRect d = aPar(caja, s.ancho, s.alto);
    if (d.width() < 2 || d.height() < 2) return;
    const auto enc = encajar(QSizeF(cam.ancho, cam.alto), QRectF(d), true);
    if (!enc) return;
    const double r = caja.width() * 0.035;
    int lado = std::min({(int(std::ceil(r)) + 1) & ~1, d.width() / 2 & ~1, d.height() / 2 & ~1});
    if (r < 1) lado = 0;
    // Coverage of each pixel of a corner square, counted from the outer corner.
    std::vector<float> cobertura(std::size_t(lado) * lado, 1.f);
    for (int v = 0; v < lado; ++v) {
        for (int u = 0; u < lado; ++u) {
            const double cx = u + 0.5, cy = v + 0.5;
            if (cx >= r || cy >= r) continue;
            const double dist = std::hypot(r - cx, r - cy);
            cobertura[std::size_t(v) * lado + u] = float(std::clamp(r - dist + 0.5, 0.0, 1.0));
        }
    }
    struct Esquina {
        int x, y;
        bool derecha, abajo;
        std::vector<std::uint8_t> y8, uv8;
    };
    std::vector<Esquina> esquinas;
    for (int k = 0; k < 4 && lado > 0; ++k) {
        Esquina e{d.x() + ((k & 1) ? d.width() - lado : 0), d.y() + ((k & 2) ? d.height() - lado : 0), bool(k & 1),
                  bool(k & 2), {}, {}};
        e.y8.resize(std::size_t(lado) * lado);
        e.uv8.resize(std::size_t(lado) * lado / 2);
        libyuv::CopyPlane(s.y() + std::size_t(e.y) * s.pasoY + e.x, s.pasoY, e.y8.data(), lado, lado, lado);
        libyuv::CopyPlane(s.uv() + std::size_t(e.y / 2) * s.pasoUV + e.x, s.pasoUV, e.uv8.data(), lado, lado, lado / 2);
        esquinas.push_back(std::move(e));
    }
    escalar(cam, enc->origen, s, enc->destino);
    auto cob = [&](const Esquina& e, int a, int b) {  // a column, b row inside the square
        const int u = e.derecha ? lado - 1 - a : a, v = e.abajo ? lado - 1 - b : b;
        return cobertura[std::size_t(v) * lado + u];
    };
    auto mezcla = [](std::uint8_t cam8, std::uint8_t fondo8, float c) {
        return std::uint8_t(std::lround(cam8 * c + fondo8 * (1 - c)));
    };
    for (const Esquina& e : esquinas) {
        for (int b = 0; b < lado; ++b) {
            std::uint8_t* fila = s.y() + std::size_t(e.y + b) * s.pasoY + e.x;
            for (int a = 0; a < lado; ++a) fila[a] = mezcla(fila[a], e.y8[std::size_t(b) * lado + a], cob(e, a, b));
        }
        for (int b = 0; b < lado / 2; ++b) {
            std::uint8_t* fila = s.uv() + std::size_t(e.y / 2 + b) * s.pasoUV + e.x;
            for (int a = 0; a < lado; a += 2) {
                const float c = (cob(e, a, 2 * b) + cob(e, a + 1, 2 * b) + cob(e, a, 2 * b + 1) + cob(e, a + 1, 2 * b + 1)) / 4;
                fila[a] = mezcla(fila[a], e.uv8[std::size_t(b) * lado + a], c);
                fila[a + 1] = mezcla(fila[a + 1], e.uv8[std::size_t(b) * lado + a + 1], c);
            }
        }
    }
}

// dst = src × peso + dst × (1 − peso), both the same size.
void fundir(const Cuadro& src, Cuadro& dst, double peso) {
    const auto a = std::uint8_t(std::clamp(std::lround(peso * 255), 0L, 255L));
    std::vector<std::uint8_t> alfa(std::size_t(dst.ancho), a);  // one row, used for every row
    libyuv::BlendPlane(src.y(), src.pasoY, dst.y(), dst.pasoY, alfa.data(), 0, dst.y(), dst.pasoY, dst.ancho, dst.alto);
    libyuv::BlendPlane(src.uv(), src.pasoUV, dst.uv(), dst.pasoUV, alfa.data(), 0, dst.uv(), dst.pasoUV, dst.ancho,
                       dst.alto / 2);
}

// Stills are converted here rather than by libyuv, whose fast path rounds the BT.709 blue
// coefficient down (blue comes out several steps too dark); stills are few, so exactness wins.
QImage aImagen(const Cuadro& c) {
    QImage i(c.ancho, c.alto, QImage::Format_RGB32);
    if (i.isNull()) return i;
    const float kr = c.bt709 ? 1.792741f : 1.596027f, kb = c.bt709 ? 2.112402f : 2.017232f;
    const float gb = c.bt709 ? 0.213249f : 0.391762f, gr = c.bt709 ? 0.532909f : 0.812968f;
    auto byte = [](float v) { return int(std::clamp(v + 0.5f, 0.f, 255.f)); };
    for (int y = 0; y < c.alto; ++y) {
        const std::uint8_t* fy = c.y() + std::size_t(y) * c.pasoY;
        const std::uint8_t* fuv = c.uv() + std::size_t(y / 2) * c.pasoUV;
        auto* destino = reinterpret_cast<QRgb*>(i.scanLine(y));
        for (int x = 0; x < c.ancho; ++x) {
            const float l = 1.164384f * (fy[x] - 16);
            const float u = fuv[x & ~1] - 128.f, v = fuv[(x & ~1) + 1] - 128.f;
            destino[x] = qRgb(byte(l + kr * v), byte(l - gb * u - gr * v), byte(l + kb * u));
        }
    }
    return i;
}

}  // namespace

QRectF celda(QSizeF caja, const QRectF& R, double mx, double my, int n) {
    n = std::clamp(n, 0, 8);
    const int col = n % 3, fila = n / 3;
    const double w = caja.width(), h = caja.height();
    const double x = col == 0 ? R.left() + mx : col == 1 ? R.center().x() - w / 2 : R.right() - mx - w;
    const double y = fila == 0 ? R.top() + my : fila == 1 ? R.center().y() - h / 2 : R.bottom() - my - h;
    return QRectF(x, y, w, h);
}

std::optional<Encaje> encajar(QSizeF imagen, const QRectF& en, bool rellenar) {
    const double iw = imagen.width(), ih = imagen.height();
    if (!(iw > 0) || !(ih > 0) || !std::isfinite(iw) || !std::isfinite(ih)) return std::nullopt;
    if (!(en.width() > 0) || !(en.height() > 0) || !valido(en)) return std::nullopt;
    const double ex = en.width() / iw, ey = en.height() / ih;
    const double e = rellenar ? std::max(ex, ey) : std::min(ex, ey);
    const QRectF puesto(en.center().x() - iw * e / 2, en.center().y() - ih * e / 2, iw * e, ih * e);
    const QRectF destino = puesto & en;
    if (destino.isEmpty()) return std::nullopt;
    const QRectF origen((destino.x() - puesto.x()) / e, (destino.y() - puesto.y()) / e, destino.width() / e,
                        destino.height() / e);
    return Encaje{origen, destino};
}

QRectF cajaFondo(const Pantalla& p, int W, int H) {
    const QRectF marco(0, 0, W, H);
    double s = std::isfinite(p.fondoTam) ? p.fondoTam : 1.0;
    if (s > 0.995) return marco;
    s = std::max(s, 0.2);
    const double m = W * 0.03;
    return celda(QSizeF(s * W, s * H), marco, m, m, p.fondoPos);
}

QRectF cajaCamara(const Pantalla& p, int W, int H, int camAncho, int camAlto) {
    const double f = p.camTam < 0.8 ? std::max(p.camTam, 0.12) : 0.8;  // NaN → 0.8
    const double bw = W * f;
    const double bh = camAncho > 0 ? bw * camAlto / camAncho : bw * 0.5625;
    const double m = W * 0.03;
    const QRectF r = celda(QSizeF(bw, bh), QRectF(0, 0, W, H), m, m, p.camPos);
    return QRectF(std::round(r.x()), std::round(r.y()), std::round(r.width()), std::round(r.height()));
}

double disolucion(double t) {
    if (!(t > 0)) return 0;
    if (t >= 1) return 1;
    return t * t * (3 - 2 * t);
}

void componer(const Pantalla& p, const Partes& e, Cuadro& s) {
    if (!s) return;
    const int W = s.ancho, H = s.alto;
    const QRectF caja = cajaFondo(p, W, H);
    const Cuadro* video = e.fondoVideo && *e.fondoVideo ? e.fondoVideo : nullptr;
    const Cuadro* cam = e.camara && *e.camara ? e.camara : nullptr;
    std::optional<Encaje> encVideo;
    bool cubre = false;  // the background hides the whole frame
    if (video) {
        encVideo = encajar(QSizeF(video->ancho, video->alto), caja, p.rellenar);
        cubre = encVideo && aPar(encVideo->destino, W, H) == QRect(0, 0, W, H);
    } else if (e.fondo) {
        cubre = e.fondo->opaca && e.fondo->x == 0 && e.fondo->y == 0 && e.fondo->ancho == W && e.fondo->alto == H;
    }
    if (!cubre) {
        if (p.camara == 1 && cam) {
            const auto enc = encajar(QSizeF(cam->ancho, cam->alto), QRectF(0, 0, W, H), true);
            if (enc) escalar(*cam, enc->origen, s, enc->destino);
            else negro(s);
        } else {
            negro(s);
        }
    }
    if (video) {
        if (encVideo) escalar(*video, encVideo->origen, s, encVideo->destino);
    } else if (e.fondo) {
        ponerCapa(*e.fondo, s);
    }
    if (p.camara == 2 && cam) camaraEnCaja(*cam, cajaCamara(p, W, H, cam->ancho, cam->alto), s);
    if (e.capa) ponerCapa(*e.capa, s);
}

std::shared_ptr<const Capa> fijarFondo(const Pantalla& p, const QImage& imagen, int W, int H) {
    if (imagen.isNull()) return nullptr;
    const auto enc = encajar(QSizeF(imagen.size()), cajaFondo(p, W, H), p.rellenar);
    if (!enc) return nullptr;
    const QRect d = aPar(enc->destino, W, H);
    if (d.width() < 2 || d.height() < 2) return nullptr;
    // Drawn into exactly the even box, so an opaque picture stays opaque (and is copied, not blended).
    QImage lienzo(d.size(), QImage::Format_ARGB32_Premultiplied);
    if (lienzo.isNull()) return nullptr;
    lienzo.fill(Qt::transparent);
    {
        QPainter pintor(&lienzo);
        pintor.setRenderHint(QPainter::SmoothPixmapTransform);
        pintor.setCompositionMode(QPainter::CompositionMode_Source);
        pintor.drawImage(QRectF(0, 0, d.width(), d.height()), imagen, enc->origen);
    }
    return fijar(lienzo, d.x(), d.y(), W, H);
}

const Cuadro& camaraGris() {
    static const Cuadro gris = [] {
        Cuadro c;
        c.ancho = 1920;
        c.alto = 1080;
        c.pasoY = c.pasoUV = 1920;
        const Yuv g = aYuv709(0.13, 0.13, 0.14);
        c.memoria = std::make_shared<std::vector<std::uint8_t>>(bytesNv12(1920, 1080), g.y);
        std::uint8_t* uv = c.uv();
        for (std::size_t i = 0; i < std::size_t(1920) * 540; i += 2) {
            uv[i] = g.cb;
            uv[i + 1] = g.cr;
        }
        return c;
    }();
    return gris;
}

Compositor::Compositor() : reserva(Piscina::crear(6)), obrero_(std::make_unique<Cola>("tm.pantallas")) {}
Compositor::~Compositor() = default;

void Compositor::poner(const Pantalla& p, Almacen& almacen) { poner(p, almacen, ahora()); }

void Compositor::poner(const Pantalla& p, Almacen& almacen, double momento) {
    cargando_ = 0;  // a load still under way is overtaken
    ++pedidos_;
    // New media are opened before anything changes, so frames never mix two screens.
    const bool mismo = mismoMedio(p);
    Medios m;
    if (!mismo) m = abrir(p, almacen.ruta(p), p.esVideo ? almacen.muestra(p) : std::nullopt, momento);
    aplicar(p, mismo, std::move(m), momento);
    std::optional<QSize> tam;
    {
        std::lock_guard l(candado);
        if (ultima) tam = QSize(ultima->ancho, ultima->alto);
    }
    // Ready before the next frame needs it, when the frame size is known.
    if (tam && !p.esDirecta()) preparar(tam->width(), tam->height());
}

void Compositor::ponerEnFondo(const Pantalla& p, Almacen& almacen) {
    const std::uint64_t pedido = ++pedidos_;
    if (mismoMedio(p)) {
        cargando_ = 0;
        aplicar(p, true, {}, ahora());
        return;
    }
    cargando_ = pedido;
    // The store is the main thread's: its path and its still are read here.
    auto ruta = almacen.ruta(p);
    auto still = p.esVideo ? almacen.muestraGuardada(p) : std::nullopt;
    std::weak_ptr<int> vida = vida_;
    obrero_->asincrono([this, vida, pedido, p, ruta, still = std::move(still)]() mutable {
        auto m = std::make_shared<Medios>(abrir(p, ruta, std::move(still), ahora()));
        enPrincipal([this, vida, pedido, p, m] {
            if (!vida.lock() || pedido != cargando_) return;  // gone, or overtaken by a later screen
            cargando_ = 0;
            aplicar(p, false, std::move(*m), ahora());
            // The overlay is drawn off this thread too; a frame that comes first draws it itself.
            obrero_->asincrono([this, vida] {
                if (!vida.lock()) return;
                std::optional<QSize> tam;
                {
                    std::lock_guard l(candado);
                    if (ultima && !directa) tam = QSize(ultima->ancho, ultima->alto);
                }
                if (tam) preparar(tam->width(), tam->height());
            });
        });
    });
}

bool Compositor::mismoMedio(const Pantalla& p) const {
    std::lock_guard l(candado);
    return p_ && p_->id == p.id && p_->archivo == p.archivo;
}

Compositor::Medios Compositor::abrir(const Pantalla& p, const std::optional<std::filesystem::path>& ruta,
                                     std::optional<QImage> still, double momento) {
    Medios m;
    if (!ruta) return m;
    const std::string nombre = ruta->filename().string();
    if (p.esVideo) {
        m.video = FondoVideo::abrir(*ruta, p.alTerminar, momento);
        if (!m.video) bitacora("pantallas: no se pudo abrir el video de fondo " + nombre);
        m.sonido = SonidoArchivo::abrir(ruta->string());
        if (still) m.fondo = std::make_shared<const QImage>(std::move(*still));
    } else if (auto i = abrirImagen(*ruta, topeFondo)) {
        m.fondo = std::make_shared<const QImage>(std::move(*i));
    } else {
        bitacora("pantallas: no se pudo abrir la imagen de fondo " + nombre);
    }
    return m;
}

void Compositor::aplicar(const Pantalla& p, bool mismo, Medios m, double momento) {
    std::lock_guard l(candado);
    if (!(p_ && *p_ == p) && (!p_ || p_->id != p.id)) {
        anterior = ultima;
        cambioEn = momento;
    }
    p_ = p;
    directa = p.esDirecta();
    capaLista = false;
    fondoListo = false;
    ++generacion;
    if (mismo) {
        if (video) video->alTerminar(p.alTerminar);
    } else {
        std::swap(fondo, m.fondo);
        std::swap(video, m.video);
        std::swap(sonido, m.sonido);
        fondoFijo.reset();
        tiempoVideo = -1;
        videoAvanza = false;
    }
}

void Compositor::preparar(int W, int H) {
    std::optional<Pantalla> p;
    std::shared_ptr<const QImage> f;
    bool hacerCapa, hacerFondo;
    std::uint64_t gen;
    {
        std::lock_guard l(candado);
        if (!p_) return;
        p = p_;
        gen = generacion;
        f = fondo;
        hacerCapa = !(capaLista && capaTam == QSize(W, H));
        hacerFondo = f && !(fondoListo && fondoFijoTam == QSize(W, H));
    }
    if (!hacerCapa && !hacerFondo) return;
    std::shared_ptr<const Capa> nuevaCapa, nuevoFijo;
    if (hacerCapa) nuevaCapa = fijar(dibujarCapa(*p, W, H), 0, 0, W, H);
    if (hacerFondo) nuevoFijo = fijarFondo(*p, *f, W, H);
    std::lock_guard l(candado);
    if (gen != generacion) return;  // another screen came meanwhile
    if (hacerCapa) {
        capa = nuevaCapa;
        capaTam = QSize(W, H);
        capaLista = true;
        ++dibujadas;
    }
    if (hacerFondo && fondo == f) {
        fondoFijo = nuevoFijo;
        fondoFijoTam = QSize(W, H);
        fondoListo = true;
    }
}

Cuadro Compositor::cuadro(const Cuadro& camara) { return cuadro(camara, ahora()); }

Cuadro Compositor::cuadro(const Cuadro& camara, double momento) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!camara) return camara;
    const int W = camara.ancho, H = camara.alto;
    double t;
    bool disolviendo;
    {
        std::lock_guard l(candado);
        if (!p_) {
            ultima = camara;
            return camara;
        }
        t = (momento - cambioEn) / duracionDisolucion;
        if (anterior && t >= 1) anterior.reset();
        disolviendo = anterior.has_value();
        if (!disolviendo && directa) {
            ultima = camara;
            return camara;
        }
    }
    preparar(W, H);
    std::optional<Pantalla> p;
    std::shared_ptr<const Capa> fijo, sobre;
    std::shared_ptr<FondoVideo> v;
    std::optional<Cuadro> desde;
    std::uint64_t gen;
    {
        std::lock_guard l(candado);
        p = p_;
        gen = generacion;
        if (fondoListo && fondoFijoTam == QSize(W, H)) fijo = fondoFijo;
        if (capaLista && capaTam == QSize(W, H)) sobre = capa;
        v = video;
        desde = anterior;
    }
    // Without the camera or a video nothing moves: the picture composed once goes out again.
    const bool quieta = !disolviendo && p->camara == 0 && !v;
    if (quieta) {
        std::lock_guard l(candado);
        if (quieta_ && quieta_->ancho == W && quieta_->alto == H && quietaGen == gen && quietaFondo == fijo &&
            quietaCapa == sobre) {
            Cuadro c = *quieta_;
            c.hora = camara.hora;
            c.duracion = camara.duracion;
            ultima = c;
            return c;
        }
    }
    FondoVideo::Vista vista;
    if (v) {
        vista = v->en(momento);
        std::function<void()> alTerminar;
        {
            std::lock_guard l(candado);
            if (video == v) {
                tiempoVideo = vista.tiempo;
                videoAvanza = vista.avanza;
                if (vista.termino) alTerminar = alTerminarVideo;
            }
        }
        if (alTerminar) enPrincipal(std::move(alTerminar));
    }
    Cuadro salida = reserva->nuevo(W, H);
    if (!salida) return camara;
    salida.bt709 = true;
    salida.hora = camara.hora;
    salida.duracion = camara.duracion;
    const Partes partes{&camara, fijo.get(), vista.cuadro ? &*vista.cuadro : nullptr, sobre.get()};
    componer(*p, partes, salida);
    if (disolviendo && desde && *desde) {
        const double peso = 1 - disolucion(t);
        if (desde->ancho == W && desde->alto == H) {
            fundir(*desde, salida, peso);
        } else {
            Cuadro escalado = reserva->nuevo(W, H);
            escalar(*desde, QRectF(0, 0, desde->ancho, desde->alto), escalado, QRectF(0, 0, W, H));
            fundir(escalado, salida, peso);
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::lock_guard l(candado);
    ultima = salida;
    if (quieta) {
        quieta_ = salida;
        quietaGen = gen;
        quietaFondo = fijo;
        quietaCapa = sobre;
    } else {
        quieta_.reset();
    }
    peor = std::max(peor, ms);
    return salida;
}

void Compositor::mezclar(std::vector<std::uint8_t>& bloque, bool normal) {
    ReglaMezcla regla;
    std::shared_ptr<SonidoArchivo> s;
    {
        std::lock_guard l(candado);
        if (!p_) return;
        regla = ReglaMezcla{p_->micro, p_->volumen, tiempoVideo, videoAvanza};
        s = sonido;
    }
    if (bloque.empty()) return;
    tt::mezclar(bloque, normal, regla, s.get());
}

void Compositor::reiniciar() { reiniciar(ahora()); }

void Compositor::reiniciar(double momento) {
    std::shared_ptr<FondoVideo> v;
    {
        std::lock_guard l(candado);
        v = video;
    }
    if (v) v->reiniciar(momento);
}

std::optional<Pantalla> Compositor::puesta() const {
    std::lock_guard l(candado);
    return p_;
}

double Compositor::tardanza() {
    std::lock_guard l(candado);
    const double r = peor;
    peor = 0;
    return r;
}

std::optional<Cuadro> Compositor::ultimaSalida() const {
    std::lock_guard l(candado);
    return ultima;
}

int Compositor::capasDibujadas() const {
    std::lock_guard l(candado);
    return dibujadas;
}

QImage Compositor::foto(const Cuadro& c, int ancho) {
    if (!c || ancho < 1) return {};
    const int alto = std::max(1, int(std::lround(double(c.alto) * ancho / std::max(c.ancho, 1))));
    const int W = (ancho + 1) & ~1, H = (alto + 1) & ~1;
    Cuadro escalado = nuevoCuadro(W, H);
    if (!escalado) return {};
    escalado.bt709 = c.bt709;
    escalar(c, QRectF(0, 0, c.ancho, c.alto), escalado, QRectF(0, 0, W, H));
    QImage i = aImagen(escalado);
    return (W == ancho && H == alto) ? i : i.copy(0, 0, ancho, alto);
}

std::optional<QImage> Compositor::retrato(const Pantalla& p, Almacen& almacen, int ancho,
                                          const std::optional<Cuadro>& camara) {
    return retrato(p, almacen.muestra(p), ancho, camara);
}

std::optional<QImage> Compositor::retrato(const Pantalla& p, const std::optional<QImage>& fondo, int ancho,
                                          const std::optional<Cuadro>& camara) {
    const int alto = ancho * 9 / 16;
    if (ancho < 2 || alto < 2 || ancho > 8192) return std::nullopt;
    const int W = (ancho + 1) & ~1, H = (alto + 1) & ~1;
    std::shared_ptr<const Capa> fijo;
    if (fondo) fijo = fijarFondo(p, *fondo, W, H);
    const auto sobre = fijar(dibujarCapa(p, W, H), 0, 0, W, H);
    Cuadro salida = nuevoCuadro(W, H);
    if (!salida) return std::nullopt;
    salida.bt709 = true;
    const Cuadro& cam = camara && *camara ? *camara : camaraGris();
    componer(p, Partes{&cam, fijo.get(), nullptr, sobre.get()}, salida);
    QImage i = aImagen(salida);
    if (i.isNull()) return std::nullopt;
    return (W == ancho && H == alto) ? i : i.copy(0, 0, ancho, alto);
}

int escribirRetratos(Almacen& almacen, const fs::path& carpeta) {
    std::error_code ec;
    fs::create_directories(carpeta, ec);
    int escritos = 0;
    const std::vector<Pantalla> lista = almacen.pantallas();
    for (const Pantalla& p : lista) {
        if (!esNombreLlano(p.id)) continue;  // the id names the file: it must stay inside the folder
        const auto imagen = Compositor::retrato(p, almacen, 1280);
        if (!imagen) continue;
        QByteArray png;
        QBuffer bufer(&png);
        if (!bufer.open(QIODevice::WriteOnly) || !imagen->save(&bufer, "PNG") || png.isEmpty()) continue;
        QFile archivo(QString::fromStdString((carpeta / (p.id + ".png")).string()));
        if (archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) && archivo.write(png) == png.size()) ++escritos;
    }
    return escritos;
}

}  // namespace tt
