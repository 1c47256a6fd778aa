// The QR code of the phone sheet, drawn with libqrencode.
#include "cuenta/remoto.h"

#include <QImage>
#include <QPainter>

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace tt {

std::optional<QImage> Remoto::codigoQR(const std::string& texto, int lado) {
    if (lado <= 0 || texto.empty()) return std::nullopt;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> qr(
        QRcode_encodeData(int(texto.size()), reinterpret_cast<const unsigned char*>(texto.data()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!qr) return std::nullopt;
    // Drawn at twice the side, so each module is a whole number of pixels on a sharp screen.
    const int pixeles = 2 * lado;
    const int modulos = qr->width + 2;  // one module of white around it
    const int paso = pixeles / modulos;
    if (paso < 1) return std::nullopt;
    QImage imagen(pixeles, pixeles, QImage::Format_RGB32);
    imagen.fill(Qt::white);
    QPainter p(&imagen);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const int margen = (pixeles - paso * qr->width) / 2;
    for (int y = 0; y < qr->width; ++y)
        for (int x = 0; x < qr->width; ++x)
            if (qr->data[y * qr->width + x] & 1) p.drawRect(margen + x * paso, margen + y * paso, paso, paso);
    p.end();
    imagen.setDevicePixelRatio(2);
    return imagen;
}

}  // namespace tt
