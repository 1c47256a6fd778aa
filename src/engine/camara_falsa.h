#pragma once

#include "comun/cola.h"
#include "comun/cuadro.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// The frames of the synthetic camera: the image over a whole 1920×1080 BT.709 frame, and with
// noise twelve more whose luma has its middle third (by bytes) overwritten with random bytes, the
// chroma unchanged. Nothing without an image.
std::vector<Cuadro> cuadrosFalsos(const QImage& imagen, bool ruido, std::uint32_t semilla = 1);

// Loads the image for the synthetic camera, at most 1920 pixels wide; a null image when the file
// is missing or not an image.
QImage leerImagenFalsa(const std::string& ruta);

// A camera made of a few fixed frames, handed out in turn on a queue at a steady rate.
// Owned by the engine; its timer runs on the given queue until the object goes.
class CamaraFalsa {
public:
    CamaraFalsa(std::vector<Cuadro> cuadros, int ritmo);
    ~CamaraFalsa();
    CamaraFalsa(const CamaraFalsa&) = delete;
    CamaraFalsa& operator=(const CamaraFalsa&) = delete;

    // Every 1/ritmo s on `cola`: frame k mod count with time ahora() and duration 1/ritmo.
    void arrancar(Cola& cola, std::function<void(const Cuadro&)> entregar);

    // The next frame with the time given (the timer's work, exposed for tests).
    Cuadro siguiente(double ahora);

    int ritmo() const { return ritmo_; }
    std::size_t cuantos() const { return cuadros_.size(); }

private:
    std::vector<Cuadro> cuadros_;
    int ritmo_;
    std::uint64_t k_ = 0;  // touched only on the timer's queue (or by a test before arrancar)
    std::shared_ptr<Temporizador> falsa_;
};

}  // namespace tt
