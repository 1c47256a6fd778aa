#pragma once

#include <QImage>

#include <filesystem>
#include <optional>

namespace tt {

// Stills of background files, decoded near the size asked for so memory stays bounded whatever
// the file claims. Both are safe to call from any thread.

// An image file decoded with its orientation applied, its longer side at most `tope` pixels.
std::optional<QImage> abrirImagen(const std::filesystem::path& ruta, int tope);

// The frame at min(duration / 3, 1) s (0 when the duration is unknown) of the first video stream
// FFmpeg can decode (cover art of a sound file does not count), upright as the file's rotation
// says, within `tope` × `tope`.
std::optional<QImage> cuadroDeVideo(const std::filesystem::path& ruta, int tope);

}  // namespace tt
