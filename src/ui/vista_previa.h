#pragma once

#include "comun/cuadro.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace tt {

// The preview: the live camera picture, or the composed programme picture while a screen other
// than the bare camera is on air. Pictures arrive from any thread; each is converted to RGB at
// the preview's size on the shared pool (only the newest waiting picture is kept), and shown on
// the main thread. Black, rounded corners of 14, a faint white border. The widget paints every
// pixel (its corners in the window's colour), so nothing behind it is painted again per picture.
// The widget lives on the main thread; `Estado` is shared with the conversion jobs and outlives
// the widget, so a late picture never touches a closed view.
class VistaPrevia : public QWidget {
    Q_OBJECT
public:
    explicit VistaPrevia(QWidget* padre = nullptr);
    ~VistaPrevia() override;

    // Any thread. The live camera picture (shown unless the programme picture is).
    void camara(const Cuadro& c);
    // Any thread. The programme picture; nothing switches back to the live camera.
    void mostrar(std::optional<Cuadro> programa);

    // Callbacks for the engine's alCamara and alComponer that stay harmless once the view is gone.
    std::function<void(const Cuadro&)> receptorCamara();
    std::function<void(std::optional<Cuadro>)> receptorPrograma();

    bool viendoPrograma() const;
    QImage imagen() const { return imagen_; }  // the picture shown now (main thread)
    // Called on the main thread with every new picture shown; for tests and the window.
    std::function<void()> alPintar;

    struct Estado;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    friend struct Estado;
    void poner(QImage imagen, bool programa);
    const QImage& marco();

    std::shared_ptr<Estado> estado_;
    QImage imagen_;
    QImage marco_;  // the rounded frame over the picture: transparent inside, for this size
    bool programaVisible_ = false;  // the picture shown now is the programme's
};

// The largest even size of the given proportions that fits in the box (at least 2×2 when both
// are positive), for the preview's conversion.
QSize encajarPrevia(QSize cuadro, QSize caja);

}  // namespace tt
