#pragma once

#include "comun/cuadro.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tt {

// Memory layouts a camera may deliver; everything else goes through QImage.
enum class Disposicion {
    nv12, nv21, i420, yv12, yuyv, uyvy,
    bgra,  // bytes B, G, R, A (or X): QImage's ARGB32 on little-endian machines
    rgba,  // bytes R, G, B, A (or X)
    jpeg,  // one compressed picture in plane 0
};

// A mapped picture: up to three planes with their row strides (bytes[0] counts plane 0's bytes,
// needed for compressed pictures).
struct Planos {
    const std::uint8_t* datos[3] = {nullptr, nullptr, nullptr};
    int pasos[3] = {0, 0, 0};
    std::size_t bytes[3] = {0, 0, 0};  // what each plane really holds: a short one is refused
};

// Converts a picture of ancho×alto into a new NV12 frame from the pool; nothing when the planes
// are missing, the strides are too small for the width, a plane holds fewer bytes than its rows
// need, or the JPEG cannot be decoded.
std::optional<Cuadro> aNv12(Disposicion d, const Planos& p, int ancho, int alto);

// Any QImage into an NV12 frame of its own (even) size, BT.601 as libyuv converts.
std::optional<Cuadro> imagenANv12(const QImage& imagen);

// Renders an image over the whole ancho×alto frame (scaled to cover it, centred, cropped where
// the proportions differ) and converts it to NV12 with the BT.709 matrix, video range.
std::optional<Cuadro> imagenANv12709(const QImage& imagen, int ancho, int alto);

// The frame scaled to ancho×alto (even, at least 2) and converted to RGB with its own matrix.
// A null image when the frame is empty or the size is not usable.
QImage nv12AImagen(const Cuadro& c, int ancho, int alto);

}  // namespace tt
