#pragma once

#include "comun/cuadro.h"
#include "pantallas/pantalla.h"

#include <QFont>
#include <QImage>
#include <QRectF>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// Weights of the lettering drawn on screens.
enum class GrosorLetra { regular, semibold, bold, heavy };

// The rounded family (Nunito, Quicksand, Comfortaa, else the default font) at `px` pixels for
// images of 96 dpi (the only kind this module paints into).
QFont letraRedonda(double px, GrosorLetra grosor);

// A white silhouette of the icon "redes/<tipo>.svg" of the resources folder, tam × tam; nothing
// below 1 pixel or without the resource. Cached by tipo and size; callable from any thread.
std::optional<QImage> icono(const std::string& tipo, int tam);

// How the social pills are laid out inside their block: the block's size, row or column, and each
// pill's rectangle relative to the block's top-left corner.
struct DisposicionRedes {
    double ancho = 0;
    double alto = 0;
    bool enFila = true;
    std::vector<QRectF> pastillas;
};
// anchos: each pill's natural width; k: social size; tw: the widest a block may be; columna: 0 left,
// 1 centre, 2 right (alignment of pills inside a column).
DisposicionRedes disponerRedes(const std::vector<double>& anchos, double k, double tw, bool fila, int columna);

// The overlay of p for a W × H frame (title, subtitle and social pills with their shadows) as
// premultiplied ARGB; a null image when there is nothing to draw or the frame is under 16 pixels.
QImage dibujarCapa(const Pantalla& p, int W, int H);

// A picture prepared once to be laid over NV12 frames at a fixed place: colours converted to
// BT.709 video range, an alpha per luma sample and per chroma byte (chroma weighted by alpha, so
// edges keep their colour), and the bands of rows that hold something, so each frame only touches
// what is drawn. Opaque pictures are copied instead of blended. Never changed once made.
struct Capa {
    int x = 0, y = 0;          // in the frame, even
    int ancho = 0, alto = 0;   // even
    bool opaca = false;
    std::vector<std::uint8_t> luz, croma;          // ancho × alto, ancho × alto/2 (Cb Cr pairs)
    std::vector<std::uint8_t> alfaLuz, alfaCroma;  // same layouts; empty when opaque
    struct Tramo {
        int fila, filas, x, ancho;  // inside the picture, all even
    };
    std::vector<Tramo> tramos;
};

// Prepares `imagen` (any format; converted to premultiplied ARGB) placed with its top-left corner at
// (x, y) of a W × H frame, cut to the frame. Odd places and sizes grow by one transparent pixel.
// Nothing when no part of it falls inside the frame.
std::shared_ptr<const Capa> fijar(const QImage& imagen, int x, int y, int W, int H);

// Lays a prepared picture over the frame (copy when opaque, blend otherwise), cut to the frame.
void ponerCapa(const Capa& capa, Cuadro& destino);

// One colour in BT.709 video range.
struct Yuv {
    std::uint8_t y, cb, cr;
};
Yuv aYuv709(double r, double g, double b);  // components 0…1

}  // namespace tt
