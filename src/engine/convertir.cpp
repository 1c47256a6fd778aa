#include "engine/convertir.h"

#include <QPainter>

#include <libyuv.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tt {

namespace {

// Each plane: present, its stride at least its row's bytes, and its bytes enough for its rows.
bool pasosBastan(const Planos& p, int n, const int* minimos, const int* filas) {
    for (int i = 0; i < n; ++i)
        if (!p.datos[i] || p.pasos[i] < minimos[i] ||
            p.bytes[i] < std::size_t(p.pasos[i]) * std::size_t(filas[i] - 1) + std::size_t(minimos[i]))
            return false;
    return true;
}

}  // namespace

std::optional<Cuadro> aNv12(Disposicion d, const Planos& p, int ancho, int alto) {
    ancho &= ~1;
    alto &= ~1;
    if (ancho < 2 || alto < 2) return std::nullopt;
    const int medio = ancho / 2;
    auto c = nuevoCuadro(ancho, alto);
    c.bt709 = false;  // libyuv's RGB conversions and most cameras use BT.601
    int r = -1;
    switch (d) {
    case Disposicion::nv12:
    case Disposicion::nv21: {
        const int m[] = {ancho, ancho}, filas[] = {alto, alto / 2};
        if (!pasosBastan(p, 2, m, filas)) return std::nullopt;
        r = d == Disposicion::nv12
                ? libyuv::NV12Copy(p.datos[0], p.pasos[0], p.datos[1], p.pasos[1], c.y(), c.pasoY,
                                   c.uv(), c.pasoUV, ancho, alto)
                : libyuv::NV21ToNV12(p.datos[0], p.pasos[0], p.datos[1], p.pasos[1], c.y(),
                                     c.pasoY, c.uv(), c.pasoUV, ancho, alto);
        break;
    }
    case Disposicion::i420:
    case Disposicion::yv12: {
        const int m[] = {ancho, medio, medio}, filas[] = {alto, alto / 2, alto / 2};
        if (!pasosBastan(p, 3, m, filas)) return std::nullopt;
        const int u = d == Disposicion::i420 ? 1 : 2, v = 3 - u;
        r = libyuv::I420ToNV12(p.datos[0], p.pasos[0], p.datos[u], p.pasos[u], p.datos[v], p.pasos[v],
                               c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto);
        break;
    }
    case Disposicion::yuyv:
    case Disposicion::uyvy: {
        const int m[] = {ancho * 2};
        if (!pasosBastan(p, 1, m, &alto)) return std::nullopt;
        r = d == Disposicion::yuyv
                ? libyuv::YUY2ToNV12(p.datos[0], p.pasos[0], c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto)
                : libyuv::UYVYToNV12(p.datos[0], p.pasos[0], c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto);
        break;
    }
    case Disposicion::bgra:
    case Disposicion::rgba: {
        const int m[] = {ancho * 4};
        if (!pasosBastan(p, 1, m, &alto)) return std::nullopt;
        r = d == Disposicion::bgra
                ? libyuv::ARGBToNV12(p.datos[0], p.pasos[0], c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto)
                : libyuv::ABGRToNV12(p.datos[0], p.pasos[0], c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto);
        break;
    }
    case Disposicion::jpeg:
        if (!p.datos[0] || p.bytes[0] == 0) return std::nullopt;
        r = libyuv::MJPGToNV12(p.datos[0], p.bytes[0], c.y(), c.pasoY, c.uv(), c.pasoUV, ancho, alto,
                               ancho, alto);
        break;
    }
    if (r != 0) return std::nullopt;
    return c;
}

std::optional<Cuadro> imagenANv12(const QImage& imagen) {
    if (imagen.isNull()) return std::nullopt;
    const QImage argb = imagen.convertToFormat(QImage::Format_ARGB32);
    Planos p;
    p.datos[0] = argb.constBits();
    p.pasos[0] = int(argb.bytesPerLine());
    p.bytes[0] = std::size_t(argb.sizeInBytes());
    return aNv12(Disposicion::bgra, p, argb.width(), argb.height());
}

// Qt's painter scales the picture on Qt's thread pool, whose hand-over ThreadSanitizer does not see:
// reading the canvas afterwards would be reported pixel by pixel (so many that the report never
// ends). The canvas is this call's own, so nothing here can race.
__attribute__((no_sanitize("thread"))) std::optional<Cuadro> imagenANv12709(const QImage& imagen, int ancho, int alto) {
    ancho &= ~1;
    alto &= ~1;
    if (imagen.isNull() || ancho < 2 || alto < 2) return std::nullopt;
    QImage lienzo(ancho, alto, QImage::Format_RGB32);
    lienzo.fill(Qt::black);
    {
        QPainter pintor(&lienzo);
        pintor.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize tam = imagen.size().scaled(ancho, alto, Qt::KeepAspectRatioByExpanding);
        pintor.drawImage(QRect((ancho - tam.width()) / 2, (alto - tam.height()) / 2, tam.width(), tam.height()),
                         imagen);
    }
    auto c = nuevoCuadro(ancho, alto);
    c.bt709 = true;
    // BT.709, video range: Y' = 0.2126 R + 0.7152 G + 0.0722 B, Cb = (B − Y')/1.8556,
    // Cr = (R − Y')/1.5748; Y 16…235, CbCr 16…240.
    auto luma = [](double r, double g, double b) { return 0.2126 * r + 0.7152 * g + 0.0722 * b; };
    auto byte = [](double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    for (int f = 0; f < alto; ++f) {
        auto* fila = reinterpret_cast<const QRgb*>(lienzo.constScanLine(f));
        std::uint8_t* y = c.y() + std::size_t(f) * c.pasoY;
        for (int x = 0; x < ancho; ++x)
            y[x] = byte(16 + 219 * luma(qRed(fila[x]), qGreen(fila[x]), qBlue(fila[x])) / 255.0);
    }
    for (int f = 0; f < alto / 2; ++f) {
        auto* a = reinterpret_cast<const QRgb*>(lienzo.constScanLine(2 * f));
        auto* b = reinterpret_cast<const QRgb*>(lienzo.constScanLine(2 * f + 1));
        std::uint8_t* uv = c.uv() + std::size_t(f) * c.pasoUV;
        for (int x = 0; x < ancho / 2; ++x) {
            double r = 0, g = 0, bl = 0;
            for (QRgb px : {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]}) {
                r += qRed(px);
                g += qGreen(px);
                bl += qBlue(px);
            }
            r /= 4 * 255.0;
            g /= 4 * 255.0;
            bl /= 4 * 255.0;
            const double yy = luma(r, g, bl);
            uv[2 * x] = byte(128 + 224 * (bl - yy) / 1.8556);
            uv[2 * x + 1] = byte(128 + 224 * (r - yy) / 1.5748);
        }
    }
    return c;
}

QImage nv12AImagen(const Cuadro& c, int ancho, int alto) {
    ancho &= ~1;
    alto &= ~1;
    if (c.planos() < 2 || c.ancho < 2 || c.alto < 2 || ancho < 2 || alto < 2) return {};
    const std::uint8_t* y = c.y();
    const std::uint8_t* uv = c.uv();
    int pasoY = c.pasoY, pasoUV = c.pasoUV;
    std::vector<std::uint8_t> escalado;
    if (ancho != c.ancho || alto != c.alto) {
        escalado.resize(bytesNv12(ancho, alto));
        if (libyuv::NV12Scale(c.y(), c.pasoY, c.uv(), c.pasoUV, c.ancho, c.alto, escalado.data(), ancho,
                              escalado.data() + std::size_t(ancho) * alto, ancho, ancho, alto,
                              libyuv::kFilterBilinear) != 0)
            return {};
        y = escalado.data();
        uv = escalado.data() + std::size_t(ancho) * alto;
        pasoY = pasoUV = ancho;
    }
    // Opaque: drawn as a plain copy, without per-pixel alpha.
    QImage imagen(ancho, alto, QImage::Format_RGB32);
    const libyuv::YuvConstants* matriz = c.bt709 ? &libyuv::kYuvH709Constants : &libyuv::kYuvI601Constants;
    if (libyuv::NV12ToARGBMatrix(y, pasoY, uv, pasoUV, imagen.bits(), int(imagen.bytesPerLine()), matriz,
                                 ancho, alto) != 0)
        return {};
    return imagen;
}

}  // namespace tt
