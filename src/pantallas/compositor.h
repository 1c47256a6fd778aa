#pragma once

#include "comun/cuadro.h"
#include "pantallas/capa.h"
#include "pantallas/pantalla.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tt {

class Almacen;
class Cola;
class FondoVideo;
class SonidoArchivo;

// Geometry, in frame coordinates with y growing downwards (row 0 is the top row of the grid).

// The box of size `caja` in R with margins (mx, my) at grid cell n (below 0 → 0, above 8 → 8):
// column 0 at the left margin, 1 centred, 2 at the right margin; row 0 at the top margin, 1 centred,
// 2 at the bottom margin.
QRectF celda(QSizeF caja, const QRectF& R, double mx, double my, int n);

// An image of size `imagen` scaled uniformly to cover (rellenar) or fit inside `en`, centred and cut
// to it: the part of the image shown and where it lands. Nothing for an empty or infinite image or
// rectangle.
struct Encaje {
    QRectF origen;   // in image pixels
    QRectF destino;  // in the frame
};
std::optional<Encaje> encajar(QSizeF imagen, const QRectF& en, bool rellenar);

// The background box of p in a W × H frame: the whole frame above 0.995, else at least 0.2 of each
// side, placed by fondoPos with a margin of 3 % of the width.
QRectF cajaFondo(const Pantalla& p, int W, int H);
// The camera box of p (camara 2): 12 % to 80 % of the width, the camera's proportions (16:9 when
// its width is 0), placed by camPos, whole pixels.
QRectF cajaCamara(const Pantalla& p, int W, int H, int camAncho, int camAlto);

// Progress of the dissolve after t of its 0.3 s (0…1): t²(3 − 2t), clamped.
double disolucion(double t);
constexpr double duracionDisolucion = 0.3;

// What one picture is made of; every part optional.
struct Partes {
    const Cuadro* camara = nullptr;
    const Capa* fondo = nullptr;         // still background prepared for this frame size
    const Cuadro* fondoVideo = nullptr;  // current video frame (wins over `fondo`)
    const Capa* capa = nullptr;          // overlay prepared for this frame size
};

// Draws p into `salida` (its size is the frame size): black; the camera behind (camara 1); the
// background in its box; the camera in a rounded box (camara 2, radius 3.5 % of the box width);
// the overlay on top. Boxes land on even pixels (NV12 chroma is shared by 2 × 2 pixels).
void componer(const Pantalla& p, const Partes& partes, Cuadro& salida);

// A still background prepared for a W × H frame: the image fitted or cut into p's box.
std::shared_ptr<const Capa> fijarFondo(const Pantalla& p, const QImage& imagen, int W, int H);

// The flat grey (0.13, 0.13, 0.14) 1920 × 1080 picture standing in for the camera in stills.
const Cuadro& camaraGris();

// Turns each camera frame into the frame that goes on the air: the screen on air drawn around it,
// with a 0.3 s dissolve when the screen changes. `poner` and `reiniciar` run on the main thread,
// `cuadro` on the engine's video queue, `mezclar` on its audio queue; `candado` guards the
// rendering state and is never held while drawing or composing.
class Compositor {
public:
    Compositor();
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // Makes p the screen on air; its media are read from the store (main thread).
    void poner(const Pantalla& p, Almacen& almacen);
    void poner(const Pantalla& p, Almacen& almacen, double ahora);
    // The same without the main thread waiting: p's media are opened on the compositor's worker
    // and p goes on air on the main thread once they are ready. The screen before stays on air
    // until then; a later call wins over one still loading (main thread).
    void ponerEnFondo(const Pantalla& p, Almacen& almacen);
    bool cargando() const { return cargando_ != 0; }  // a screen asked for is not on air yet

    // One composed frame, or the camera frame itself for a camera-only screen (outside a dissolve)
    // and when there is no screen yet. A screen showing neither the camera nor a video gives the
    // same picture (the same planes) until it or its prepared layers change.
    Cuadro cuadro(const Cuadro& camara);
    Cuadro cuadro(const Cuadro& camara, double ahora);

    // One microphone block in place: the screen's microphone rule, then (16-bit stereo 48 kHz
    // blocks: `normal`) the background video's sound.
    void mezclar(std::vector<std::uint8_t>& bloque, bool normal);

    // The background video back to its start, playing (a transmission starts).
    void reiniciar();
    void reiniciar(double ahora);

    // The screen being drawn, if any.
    std::optional<Pantalla> puesta() const;

    // The slowest composition since the last call, ms; then 0.
    double tardanza();
    // The last frame handed back.
    std::optional<Cuadro> ultimaSalida() const;
    // How many times an overlay has been drawn (it is drawn once per screen and size).
    int capasDibujadas() const;

    // A still of a frame scaled to `ancho` pixels wide.
    static QImage foto(const Cuadro& c, int ancho);
    // A still of screen p, ancho × (ancho × 9 / 16): the camera frame given, or the grey stand-in;
    // the background is the store's still of it. Nothing when the size is unusable (main thread:
    // it reads the store).
    static std::optional<QImage> retrato(const Pantalla& p, Almacen& almacen, int ancho,
                                         const std::optional<Cuadro>& camara = std::nullopt);
    // The same with the background's still given: any thread.
    static std::optional<QImage> retrato(const Pantalla& p, const std::optional<QImage>& fondo, int ancho,
                                         const std::optional<Cuadro>& camara);

    // Run on the main thread when a background video with alTerminar 1 ends (the application puts
    // the camera screen on).
    std::function<void()> alTerminarVideo;

private:
    struct Medios {
        std::shared_ptr<const QImage> fondo;  // the picture, or the video's still
        std::shared_ptr<FondoVideo> video;
        std::shared_ptr<SonidoArchivo> sonido;
    };
    // Opens what p shows from its file (any thread); `still` is the store's still of a video.
    static Medios abrir(const Pantalla& p, const std::optional<std::filesystem::path>& ruta,
                        std::optional<QImage> still, double ahora);
    bool mismoMedio(const Pantalla& p) const;
    // Puts p on air with its media; the old ones die outside the lock, with the locals.
    void aplicar(const Pantalla& p, bool mismo, Medios m, double ahora);
    // Draws the overlay and fits the still background for W × H unless they are ready.
    void preparar(int W, int H);

    std::uint64_t cargando_ = 0;  // main thread: the ponerEnFondo still loading, 0 when none
    std::uint64_t pedidos_ = 0;
    std::shared_ptr<int> vida_ = std::make_shared<int>(0);  // answers to a compositor gone are dropped

    mutable std::mutex candado;  // guards everything below
    std::optional<Pantalla> p_;
    bool directa = false;
    std::uint64_t generacion = 0;  // grows with every poner: preparations for older screens are dropped
    std::shared_ptr<const QImage> fondo;          // still background (the picture or the video's still)
    std::shared_ptr<const Capa> fondoFijo;        // `fondo` prepared for fondoFijoTam
    QSize fondoFijoTam;
    bool fondoListo = false;
    std::shared_ptr<const Capa> capa;             // overlay prepared for capaTam
    QSize capaTam;
    bool capaLista = false;
    int dibujadas = 0;
    std::shared_ptr<FondoVideo> video;
    std::shared_ptr<SonidoArchivo> sonido;
    double tiempoVideo = -1;
    bool videoAvanza = false;
    std::optional<Cuadro> ultima;
    std::optional<Cuadro> anterior;  // dissolve source
    std::optional<Cuadro> quieta_;   // a still screen's picture, and what it was made of
    std::uint64_t quietaGen = 0;
    std::shared_ptr<const Capa> quietaFondo, quietaCapa;
    double cambioEn = 0;
    double peor = 0;
    std::shared_ptr<Piscina> reserva;
    std::unique_ptr<Cola> obrero_;  // last: its work ends before what it reaches
};

// Every screen of the store rendered 1280 wide without a camera, written as PNG into `carpeta`
// (created when missing) as <id>.png. A screen that renders nothing or fails to encode is skipped;
// write failures are ignored. Returns how many files were written. Main thread.
int escribirRetratos(Almacen& almacen, const std::filesystem::path& carpeta);

}  // namespace tt
