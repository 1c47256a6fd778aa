#include "pantallas/capa.h"

#include "comun/proceso.h"
#include "pantallas/compositor.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QTextLayout>

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>

namespace tt {

namespace {

constexpr int puntosPorMetro = 3780;  // 96 dpi: a point of 0.75 is one pixel

double limitar01(double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; }
int cortarCelda(int n) { return std::clamp(n, 0, 8); }

// A paragraph laid out within a width: lines wrapped, 0.94 of the natural line height apart.
struct Parrafo {
    std::unique_ptr<QTextLayout> disposicion;
    double ancho = 0, alto = 0, paso = 0;
};

Parrafo componerTexto(QString texto, const QFont& letra, double tw, QPaintDevice* lienzo) {
    Parrafo r;
    if (texto.isEmpty()) return r;
    texto.replace(QChar('\n'), QChar::LineSeparator);
    r.disposicion = std::make_unique<QTextLayout>(texto, letra, lienzo);
    QTextOption opcion;
    opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    r.disposicion->setTextOption(opcion);
    const QFontMetricsF m(letra, lienzo);
    r.paso = (m.ascent() + m.descent() + m.leading()) * 0.94;
    double ancho = 0;
    int lineas = 0;
    r.disposicion->beginLayout();
    for (QTextLine l = r.disposicion->createLine(); l.isValid(); l = r.disposicion->createLine()) {
        l.setLineWidth(tw);
        ancho = std::max(ancho, l.naturalTextWidth());
        ++lineas;
    }
    r.disposicion->endLayout();
    r.ancho = std::ceil(ancho) + 2;
    r.alto = std::ceil(r.paso * lineas);
    return r;
}

// Places each line of the paragraph inside a block of width `bloque`, aligned by the column.
void alinear(Parrafo& p, double bloque, int columna) {
    if (!p.disposicion) return;
    for (int i = 0; i < p.disposicion->lineCount(); ++i) {
        QTextLine l = p.disposicion->lineAt(i);
        const double sobra = bloque - l.naturalTextWidth();
        const double x = columna == 0 ? 0 : columna == 1 ? sobra / 2 : sobra;
        l.setPosition(QPointF(x, p.paso * i));
    }
}

// Three box blurs of an alpha plane approximate a Gaussian of that sigma; outside counts as 0.
void desenfocar(std::vector<std::uint8_t>& a, int ancho, int alto, double sigma) {
    if (sigma < 0.5 || ancho <= 0 || alto <= 0) return;
    const int radio = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    const int caja = 2 * radio + 1;
    std::vector<std::uint8_t> tmp(a.size());
    std::vector<int> linea;
    auto pasada = [&](std::uint8_t* datos, int n, int paso) {
        linea.assign(std::size_t(n), 0);
        for (int i = 0; i < n; ++i) linea[std::size_t(i)] = datos[std::size_t(i) * paso];
        int suma = 0;
        for (int i = -radio; i <= radio; ++i)
            if (i >= 0 && i < n) suma += linea[std::size_t(i)];
        for (int i = 0; i < n; ++i) {
            datos[std::size_t(i) * paso] = std::uint8_t((suma + caja / 2) / caja);
            const int sale = i - radio, entra = i + radio + 1;
            if (sale >= 0) suma -= linea[std::size_t(sale)];
            if (entra < n) suma += linea[std::size_t(entra)];
        }
    };
    for (int vez = 0; vez < 3; ++vez) {
        for (int f = 0; f < alto; ++f) pasada(a.data() + std::size_t(f) * ancho, ancho, 1);
        for (int c = 0; c < ancho; ++c) pasada(a.data() + c, alto, ancho);
    }
}

QImage lienzoVacio(int ancho, int alto) {
    QImage i(ancho, alto, QImage::Format_ARGB32_Premultiplied);
    if (i.isNull()) return i;
    i.fill(Qt::transparent);
    i.setDotsPerMeterX(puntosPorMetro);
    i.setDotsPerMeterY(puntosPorMetro);
    return i;
}

}  // namespace

QFont letraRedonda(double px, GrosorLetra grosor) {
    static const QString familia = [] {
        const QStringList instaladas = QFontDatabase::families();
        for (const char* f : {"Nunito", "Quicksand", "Comfortaa"})
            if (instaladas.contains(QString::fromUtf8(f))) return QString::fromUtf8(f);
        return QString();
    }();
    QFont f;
    if (!familia.isEmpty()) f.setFamily(familia);
    f.setPointSizeF(std::max(px, 0.5) * 0.75);
    switch (grosor) {
        case GrosorLetra::regular: f.setWeight(QFont::Normal); break;
        case GrosorLetra::semibold: f.setWeight(QFont::DemiBold); break;
        case GrosorLetra::bold: f.setWeight(QFont::Bold); break;
        case GrosorLetra::heavy: f.setWeight(QFont::Black); break;
    }
    return f;
}

std::optional<QImage> icono(const std::string& tipo, int tam) {
    if (tam < 1 || !esNombreLlano(tipo)) return std::nullopt;
    static std::mutex candadoIconos;  // guards iconos
    static std::map<std::string, QImage> iconos;
    const std::string clave = tipo + "-" + std::to_string(tam);
    {
        std::lock_guard l(candadoIconos);
        if (auto it = iconos.find(clave); it != iconos.end()) return it->second;
    }
    const auto ruta = recursos() / "redes" / (tipo + ".svg");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ruta, ec)) return std::nullopt;
    QSvgRenderer svg(QString::fromStdString(ruta.string()));
    if (!svg.isValid()) return std::nullopt;
    QImage i = lienzoVacio(tam, tam);
    if (i.isNull()) return std::nullopt;
    {
        QPainter pintor(&i);
        pintor.setRenderHint(QPainter::Antialiasing);
        svg.render(&pintor, QRectF(0, 0, tam, tam));
        pintor.setCompositionMode(QPainter::CompositionMode_SourceIn);
        pintor.fillRect(i.rect(), Qt::white);
    }
    std::lock_guard l(candadoIconos);
    iconos.emplace(clave, i);
    return i;
}

DisposicionRedes disponerRedes(const std::vector<double>& anchos, double k, double tw, bool fila, int columna) {
    DisposicionRedes d;
    const std::size_t n = anchos.size();
    if (n == 0) return d;
    const double p = std::round(1.72 * k), sep = 0.42 * k;
    double enFila = sep * double(n - 1);
    for (double a : anchos) enFila += a;
    if (fila && enFila <= tw) {
        d.enFila = true;
        d.ancho = enFila;
        d.alto = p;
        double x = 0;
        for (double a : anchos) {
            d.pastillas.emplace_back(x, 0, a, p);
            x += a + sep;
        }
        return d;
    }
    d.enFila = false;
    double mayor = 0;
    for (double a : anchos) mayor = std::max(mayor, a);
    d.ancho = std::min(mayor, tw);
    const double sepV = sep * 0.7;
    d.alto = p * double(n) + sepV * double(n - 1);
    double y = 0;
    for (double a : anchos) {
        const double w = std::min(a, tw);
        const double sobra = d.ancho - w;
        const double x = columna == 0 ? 0 : columna == 1 ? sobra / 2 : sobra;
        d.pastillas.emplace_back(x, y, w, p);
        y += p + sepV;
    }
    return d;
}

QImage dibujarCapa(const Pantalla& p, int W, int H) {
    const QString titulo = QString::fromStdString(p.titulo).trimmed();
    const QString subtitulo = QString::fromStdString(p.subtitulo).trimmed();
    const std::vector<Red> redes = p.redesVisibles();
    if ((titulo.isEmpty() && subtitulo.isEmpty() && redes.empty()) || W < 16 || H < 16) return {};
    // One drawing at a time: the main thread (poner, stills) and the video queue may both draw, and
    // text shaping is not worth trusting across threads for something done once per screen.
    static std::mutex candadoDibujo;
    std::lock_guard cerrojo(candadoDibujo);
    QImage lienzo = lienzoVacio(W, H);
    if (lienzo.isNull()) return {};

    const double escala = H / 1080.0;
    const double my = H * 0.085, mx = W * 0.055, tw = W - 2 * mx;
    const QRectF marco(0, 0, W, H);
    const double tt = limitar01(p.textoTam);
    const double T = escala * (tt >= 1 ? 160 : 40 + 120 * tt);
    const int celdaTexto = cortarCelda(p.textoPos), celdaRedes = cortarCelda(p.redesPos);

    // Texts.
    QFont letraTitulo = letraRedonda(T, GrosorLetra::heavy);
    letraTitulo.setLetterSpacing(QFont::AbsoluteSpacing, -0.018 * T);
    Parrafo pt = componerTexto(titulo, letraTitulo, tw, &lienzo);
    Parrafo ps = componerTexto(subtitulo, letraRedonda(0.4 * T, GrosorLetra::semibold), tw, &lienzo);
    const double hueco = (pt.disposicion && ps.disposicion) ? 0.2 * T : 0;
    const bool hayTexto = pt.disposicion || ps.disposicion;
    const QSizeF bloqueTexto(std::max(pt.ancho, ps.ancho), pt.alto + hueco + ps.alto);

    // Social pills.
    const double rt = limitar01(p.redesTam);
    const double K = std::round(escala * (rt >= 1 ? 80 : 26 + 54 * rt));
    const bool hayRedes = !redes.empty() && K >= 1;
    const QFont letraRed = letraRedonda(0.66 * K, GrosorLetra::bold);
    const QFontMetricsF medidaRed(letraRed, &lienzo);
    std::vector<QString> etiquetas;
    std::vector<double> anchos;
    if (hayRedes) {
        for (const Red& r : redes) {
            etiquetas.push_back(QString::fromStdString(r.usuario).trimmed());
            anchos.push_back(std::ceil(medidaRed.horizontalAdvance(etiquetas.back())) + 2.65 * K);
        }
    }
    const DisposicionRedes dr = hayRedes ? disponerRedes(anchos, K, tw, p.redesFila, celdaRedes % 3) : DisposicionRedes{};
    const QSizeF bloqueRedes(dr.ancho, dr.alto);

    // Placement.
    QPointF origenTexto, origenRedes;
    if (hayTexto && hayRedes && celdaTexto == celdaRedes) {
        const QSizeF junto(std::max(bloqueTexto.width(), bloqueRedes.width()),
                           bloqueTexto.height() + 44 * escala + bloqueRedes.height());
        const QRectF b = celda(junto, marco, mx, my, celdaTexto);
        const int col = celdaTexto % 3;
        auto dentro = [&](double w) { return col == 0 ? 0 : col == 1 ? (junto.width() - w) / 2 : junto.width() - w; };
        origenTexto = QPointF(b.x() + dentro(bloqueTexto.width()), b.y());
        origenRedes = QPointF(b.x() + dentro(bloqueRedes.width()), b.bottom() - bloqueRedes.height());
    } else {
        origenTexto = celda(bloqueTexto, marco, mx, my, celdaTexto).topLeft();
        origenRedes = celda(bloqueRedes, marco, mx, my, celdaRedes).topLeft();
    }

    if (hayTexto) {
        // The texts alone first, so their shadow can be made from their coverage.
        QImage textos = lienzoVacio(W, H);
        if (textos.isNull()) return {};
        const int col = celdaTexto % 3;
        alinear(pt, bloqueTexto.width(), col);
        alinear(ps, bloqueTexto.width(), col);
        {
            QPainter pintor(&textos);
            pintor.setRenderHint(QPainter::TextAntialiasing);
            pintor.setPen(Qt::white);
            if (pt.disposicion) pt.disposicion->draw(&pintor, origenTexto);
            pintor.setPen(QColor(255, 255, 255, int(std::lround(0.74 * 255))));
            if (ps.disposicion) ps.disposicion->draw(&pintor, origenTexto + QPointF(0, pt.alto + hueco));
        }
        // Shadow: black at 0.6, blurred (sigma = blur / 2), 0.02 T lower; computed only around the text.
        const double sigma = T * 0.22 / 2;
        const int borde = int(std::ceil(3 * sigma)) + 2;
        const QRect zona = QRectF(origenTexto, bloqueTexto).toAlignedRect().adjusted(-borde, -borde, borde, borde) &
                           textos.rect();
        if (!zona.isEmpty()) {
            std::vector<std::uint8_t> alfa(std::size_t(zona.width()) * zona.height());
            for (int f = 0; f < zona.height(); ++f) {
                const auto* fila = reinterpret_cast<const QRgb*>(textos.constScanLine(zona.top() + f)) + zona.left();
                for (int c = 0; c < zona.width(); ++c) alfa[std::size_t(f) * zona.width() + c] = std::uint8_t(qAlpha(fila[c]));
            }
            desenfocar(alfa, zona.width(), zona.height(), sigma);
            QImage sombra = lienzoVacio(zona.width(), zona.height());
            for (int f = 0; f < zona.height(); ++f) {
                auto* fila = reinterpret_cast<QRgb*>(sombra.scanLine(f));
                for (int c = 0; c < zona.width(); ++c)
                    fila[c] = qRgba(0, 0, 0, (alfa[std::size_t(f) * zona.width() + c] * 153 + 127) / 255);
            }
            QPainter pintor(&lienzo);
            pintor.drawImage(QPointF(zona.left(), zona.top() + T * 0.02), sombra);
            pintor.drawImage(zona.topLeft(), textos, zona);
        }
    }

    if (hayRedes) {
        QPainter pintor(&lienzo);
        pintor.setRenderHint(QPainter::Antialiasing);
        pintor.setRenderHint(QPainter::TextAntialiasing);
        pintor.setFont(letraRed);
        const double trazo = std::max(1.5 * escala, 1.0);
        const double P = std::round(1.72 * K);
        for (std::size_t i = 0; i < dr.pastillas.size(); ++i) {
            const QRectF r = dr.pastillas[i].translated(origenRedes);
            if (!r.intersects(marco)) continue;  // hundreds of handles: only what shows is drawn
            pintor.setPen(QPen(QColor(255, 255, 255, 36), trazo));
            pintor.setBrush(QColor(0, 0, 0, 140));
            const QRectF dentro = r.adjusted(trazo / 2, trazo / 2, -trazo / 2, -trazo / 2);
            pintor.drawRoundedRect(dentro, P / 2 - trazo / 2, P / 2 - trazo / 2);
            if (auto ic = icono(redes[i].tipo, int(K))) pintor.drawImage(QPointF(r.x() + 0.6 * K, r.y() + (P - K) / 2), *ic);
            const double cabe = r.width() - 2.65 * K + 1;
            if (cabe <= 0) continue;
            const QString etiqueta = medidaRed.elidedText(etiquetas[i], Qt::ElideRight, cabe);
            const double base = r.y() + P / 2 + (medidaRed.ascent() - medidaRed.descent()) / 2 - 0.02 * K;
            pintor.setPen(Qt::white);
            pintor.drawText(QPointF(r.x() + 1.96 * K, base), etiqueta);
        }
    }
    return lienzo;
}

Yuv aYuv709(double r, double g, double b) {
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    auto byte = [](double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    return {byte(16 + 219 * y), byte(128 + 224 * (b - y) / 1.8556), byte(128 + 224 * (r - y) / 1.5748)};
}

std::shared_ptr<const Capa> fijar(const QImage& imagen, int x, int y, int W, int H) {
    if (imagen.isNull()) return nullptr;
    W &= ~1;
    H &= ~1;
    const QRect visible = QRect(x, y, imagen.width(), imagen.height()) & QRect(0, 0, W, H);
    if (visible.isEmpty()) return nullptr;
    const QImage fuente = imagen.format() == QImage::Format_ARGB32_Premultiplied
                              ? imagen
                              : imagen.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    auto c = std::make_shared<Capa>();
    c->x = visible.left() & ~1;
    c->y = visible.top() & ~1;
    c->ancho = std::min((visible.right() + 2) & ~1, W) - c->x;
    c->alto = std::min((visible.bottom() + 2) & ~1, H) - c->y;
    const std::size_t n = std::size_t(c->ancho) * c->alto;
    c->luz.assign(n, 16);
    c->croma.assign(n / 2, 128);
    c->alfaLuz.assign(n, 0);
    c->alfaCroma.assign(n / 2, 0);

    auto pixel = [&](int fx, int fy) -> QRgb {  // frame coordinates; outside the image: transparent
        const int ix = fx - x, iy = fy - y;
        if (ix < 0 || iy < 0 || ix >= fuente.width() || iy >= fuente.height()) return 0;
        return reinterpret_cast<const QRgb*>(fuente.constScanLine(iy))[ix];
    };
    bool opaca = true;
    for (int f = 0; f < c->alto; f += 2) {
        for (int k = 0; k < c->ancho; k += 2) {
            double sumaA = 0, sumaCb = 0, sumaCr = 0;
            for (int df = 0; df < 2; ++df) {
                for (int dk = 0; dk < 2; ++dk) {
                    const QRgb px = pixel(c->x + k + dk, c->y + f + df);
                    const int a = qAlpha(px);
                    const std::size_t i = std::size_t(f + df) * c->ancho + k + dk;
                    c->alfaLuz[i] = std::uint8_t(a);
                    if (a != 255) opaca = false;
                    if (a == 0) continue;
                    // Premultiplied components: luma of the unpremultiplied colour is yp / a.
                    const double r = qRed(px) / 255.0, g = qGreen(px) / 255.0, b = qBlue(px) / 255.0;
                    const double yp = 0.2126 * r + 0.7152 * g + 0.0722 * b;
                    c->luz[i] = std::uint8_t(std::clamp(std::lround(16 + 219 * yp * 255 / a), 0L, 255L));
                    sumaA += a;
                    sumaCb += (b - yp) / 1.8556;
                    sumaCr += (r - yp) / 1.5748;
                }
            }
            const std::size_t j = std::size_t(f / 2) * c->ancho + k;
            if (sumaA > 0) {
                c->croma[j] = std::uint8_t(std::clamp(std::lround(128 + 224 * 255 * sumaCb / sumaA), 0L, 255L));
                c->croma[j + 1] = std::uint8_t(std::clamp(std::lround(128 + 224 * 255 * sumaCr / sumaA), 0L, 255L));
            }
            c->alfaCroma[j] = c->alfaCroma[j + 1] = std::uint8_t(std::lround(sumaA / 4));
        }
    }
    c->opaca = opaca;
    if (opaca) {
        c->alfaLuz.clear();
        c->alfaCroma.clear();
        c->tramos.push_back({0, c->alto, 0, c->ancho});
        return c;
    }
    // Bands of 16 rows, each cut to the columns where something is drawn.
    for (int f = 0; f < c->alto; f += 16) {
        const int filas = std::min(16, c->alto - f);
        int menor = c->ancho, mayor = -1;
        for (int df = 0; df < filas; ++df) {
            const std::uint8_t* a = c->alfaLuz.data() + std::size_t(f + df) * c->ancho;
            int i = 0;
            while (i < menor && a[i] == 0) ++i;
            menor = std::min(menor, i);
            int j = c->ancho - 1;
            while (j > mayor && a[j] == 0) --j;
            mayor = std::max(mayor, j);
        }
        if (mayor < menor) continue;
        const int x0 = menor & ~1, x1 = std::min((mayor + 2) & ~1, c->ancho);
        if (!c->tramos.empty() && c->tramos.back().fila + c->tramos.back().filas == f &&
            c->tramos.back().x == x0 && c->tramos.back().ancho == x1 - x0) {
            c->tramos.back().filas += filas;
        } else {
            c->tramos.push_back({f, filas, x0, x1 - x0});
        }
    }
    return c;
}

void ponerCapa(const Capa& c, Cuadro& d) {
    if (!d) return;
    for (const Capa::Tramo& t : c.tramos) {
        const int fx = c.x + t.x, fy = c.y + t.fila;
        const int ancho = std::min(t.ancho, d.ancho - fx), filas = std::min(t.filas, d.alto - fy);
        if (fx < 0 || fy < 0 || ancho <= 0 || filas <= 0) continue;
        const std::size_t iy = std::size_t(t.fila) * c.ancho + t.x;
        const std::size_t iuv = std::size_t(t.fila / 2) * c.ancho + t.x;
        std::uint8_t* y = d.y() + std::size_t(fy) * d.pasoY + fx;
        std::uint8_t* uv = d.uv() + std::size_t(fy / 2) * d.pasoUV + fx;
        if (c.opaca) {
            libyuv::CopyPlane(c.luz.data() + iy, c.ancho, y, d.pasoY, ancho, filas);
            libyuv::CopyPlane(c.croma.data() + iuv, c.ancho, uv, d.pasoUV, ancho, filas / 2);
        } else {
            libyuv::BlendPlane(c.luz.data() + iy, c.ancho, y, d.pasoY, c.alfaLuz.data() + iy, c.ancho, y, d.pasoY,
                               ancho, filas);
            libyuv::BlendPlane(c.croma.data() + iuv, c.ancho, uv, d.pasoUV, c.alfaCroma.data() + iuv, c.ancho, uv,
                               d.pasoUV, ancho, filas / 2);
        }
    }
}

}  // namespace tt
