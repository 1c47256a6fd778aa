#pragma once

// The screen cards' thumbnails: drawn on a worker, and only when what they show changed.

#include "comun/cuadro.h"
#include "pantallas/pantalla.h"

#include <QImage>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tt {

class Almacen;
class Cola;
class Tarjeta;

// Which thumbnails to draw: a screen when it changed, one that shows the camera at most once a
// second; one that failed is not tried again until it changes. Pure: time passed in.
class CuentaFotos {
public:
    bool toca(const Pantalla& p, bool conCamara, double t) const;
    void pedida(const Pantalla& p, double t);  // its drawing was asked for
    // It came back; true when it is the first picture of that version of the screen.
    bool hecha(const Pantalla& p, bool bien);
    void olvidar() { dibujos_.clear(); }

private:
    struct Dibujo {
        Pantalla p;
        double en = 0;
        bool enCurso = true;
        bool fallo = false;
        bool dibujada = false;  // a picture of this version came back
    };
    std::map<std::string, Dibujo> dibujos_;
};

// Main thread: hands the drawings to its worker and puts each picture on its card when it is
// ready. The store is read here (paths, cached stills); stills decoded on the worker go back to it.
class Fotos {
public:
    explicit Fotos(int ancho);
    ~Fotos();
    Fotos(const Fotos&) = delete;
    Fotos& operator=(const Fotos&) = delete;

    // The cards' screens that need it are drawn again, with this camera frame.
    void pintar(const std::vector<QPointer<Tarjeta>>& tarjetas, Almacen& almacen,
                const std::optional<Cuadro>& camara, double t);
    // A screen's card got the first picture of its current version (not each camera frame).
    std::function<void()> alCambiar;
    // The store was replaced: nothing drawn for the old one is used.
    void olvidar();
    // The last picture drawn of a screen (the phones' list shows the same).
    std::optional<QImage> ultima(const std::string& id) const;

private:
    CuentaFotos cuenta_;
    std::map<std::string, QImage> hechas_;  // the last picture of each screen, for cards made again
    std::set<std::string> sinMuestra_;      // background files whose still could not be decoded
    int ancho_;
    int epoca_ = 0;
    std::shared_ptr<int> vida_ = std::make_shared<int>(0);
    std::unique_ptr<Cola> obrero_;  // last: its work ends before what it reaches
};

}  // namespace tt
