#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tt {

// Memory of the planes of one picture; shared by every copy of the frames that show it.
using Memoria = std::shared_ptr<std::vector<std::uint8_t>>;

// One NV12 picture (video range): a luma plane of alto rows and an interleaved CbCr plane of
// alto/2 rows, each row `paso…` bytes apart, both in `memoria`. A Cuadro is a small value: copying
// it shares the planes (no pixel is copied), so the camera path, the compositor, the preview and
// the encoder can each hold the same picture; the synthetic camera hands out the same planes with
// a new time each. Planes of a frame that has been handed to someone are never written again.
// Width and height are even.
struct Cuadro {
    int ancho = 0;
    int alto = 0;
    int pasoY = 0;       // bytes from one luma row to the next
    int pasoUV = 0;      // bytes from one chroma row to the next
    bool bt709 = true;   // colour matrix: BT.709, else BT.601
    double hora = 0;     // monotonic seconds (ahora()) at which the picture was taken
    double duracion = 0; // seconds this picture stands for (1 / frame rate)
    Memoria memoria;     // luma plane, then chroma plane at pasoY × alto

    std::uint8_t* y() { return memoria->data(); }
    const std::uint8_t* y() const { return memoria->data(); }
    std::uint8_t* uv() { return memoria->data() + std::size_t(pasoY) * alto; }
    const std::uint8_t* uv() const { return memoria->data() + std::size_t(pasoY) * alto; }
    int planos() const { return memoria && !memoria->empty() ? 2 : 0; }
    explicit operator bool() const { return planos() == 2; }
    // The same picture (not a copy of it): true when both hold the very same planes.
    bool mismaImagen(const Cuadro& otro) const { return memoria && memoria == otro.memoria; }
};

// A pool of NV12 buffers of any size: a buffer comes back when its last holder lets it go, so a
// steady stream of frames allocates nothing after the first few. Thread-safe; buffers that outlive
// the pool are freed instead of returned.
class Piscina : public std::enable_shared_from_this<Piscina> {
public:
    static std::shared_ptr<Piscina> crear(std::size_t maximo = 8);

    // A frame of ancho×alto (rounded down to even sizes) with tight strides and planes of its own;
    // its bytes are whatever the last user left: callers fill every byte.
    Cuadro nuevo(int ancho, int alto);

private:
    explicit Piscina(std::size_t maximo) : maximo_(maximo) {}
    void devolver(std::vector<std::uint8_t>&& m);

    std::mutex candado_;  // guards libres_
    std::vector<std::vector<std::uint8_t>> libres_;
    std::size_t maximo_;
};

// A frame from the process-wide pool.
Cuadro nuevoCuadro(int ancho, int alto);

// Bytes of a packed NV12 picture: ancho × alto × 3/2.
inline std::size_t bytesNv12(int ancho, int alto) { return std::size_t(ancho) * alto * 3 / 2; }

}  // namespace tt
