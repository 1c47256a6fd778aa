// The strip of screen cards, the program screen and the screen editor: the cards and the editor
// say what the user did, the store keeps it and the compositor shows it.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "engine/motor.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "ui/editor.h"
#include "ui/fotos.h"
#include "ui/pregunta.h"
#include "ui/tarjeta.h"
#include "ui/ventana_principal.h"

#include <QHBoxLayout>
#include <QTimer>

namespace tt {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void App::ponerPantalla(const std::string& id) {
    auto p = (*almacen)[id];
    if (!p) return;
    programa = id;
    if (sesion->estado().sid) anotarAlAire();
    if (ventana) pintarEstados();
    const bool vivo = motor->estaVivo();
    // On the audio-only rung the picture stays: the screen goes on air when the signal allows.
    if (vivo && soloAudio()) {
        decir(q("Con esta señal solo sale el audio; «" + p->nombre + "» sale en cuanto mejore."));
        return;
    }
    motor->compositor.ponerEnFondo(*p, *almacen);
    if (vivo) bitacora("pantalla al aire: " + p->nombre);
    if (!ventana) return;
    const std::string microCerrado = p->micro ? "" : " Micrófono cerrado.";
    if (vivo)
        decir(q(id == "camara" && p->micro ? "Al aire: la cámara." : "Al aire: " + p->nombre + "." + microCerrado));
    else if (id == "camara" && p->esDirecta())
        decir(motor->formatoTexto().empty() ? QString() : QString::fromUtf8("Listo para transmitir."));
    else decir(q("«" + p->nombre + "» en la vista: con eso arranca la transmisión." + microCerrado));
}

// Every second the cards of screens that show the camera take its latest frame; a screen's new
// picture goes to the phones with the next snapshot.
void App::armarTira() {
    fotos->alCambiar = [this] { remotoSucio = true; };
    auto* reloj = new QTimer(this);
    connect(reloj, &QTimer::timeout, this, [this] {
        pintarFotos();
    });
    reloj->start(1000);
}

void App::pintarTira() {
    // The keyboard stays on the same screen's new card.
    std::optional<std::optional<std::string>> enfocada;
    for (const auto& t : tarjetas)
        if (t && t->hasFocus()) enfocada = t->id();
    // Cards go later: the one whose menu asked for this is still on the stack.
    for (const auto& t : tarjetas)
        if (t) {
            ventana->tira()->removeWidget(t);
            t->hide();
            t->deleteLater();
        }
    tarjetas.clear();
    QWidget* fila = ventana->tira()->parentWidget();
    QPointer<App> yo = this;
    auto tarjeta = [&](std::optional<std::string> id, const std::string& nombre) {
        auto* t = new Tarjeta(std::move(id), q(nombre), fila);
        ventana->tira()->addWidget(t);
        tarjetas.emplace_back(t);
        return t;
    };
    for (const Pantalla& p : almacen->pantallas()) {
        Tarjeta* t = tarjeta(p.id, p.nombre);
        t->alElegir = [yo, id = p.id] {
            if (yo) yo->ponerPantalla(id);
        };
        t->alEditar = [yo, id = p.id] {
            if (yo) yo->editar(id);
        };
        t->alDuplicar = [yo, id = p.id] {
            if (yo) yo->duplicar(id);
        };
        t->alEliminar = [yo, id = p.id] {
            if (yo) yo->eliminar(id, true);
        };
        t->alRespaldo = [yo, id = p.id] {
            if (yo) yo->alternarRespaldo(id);
        };
    }
    tarjeta(std::nullopt, "Nueva pantalla")->alElegir = [yo] {
        if (!yo) return;
        const Pantalla p = yo->almacen->agregar();
        yo->pintarTira();
        yo->editar(p.id);
    };
    std::vector<QWidget*> orden(tarjetas.begin(), tarjetas.end());
    ventana->ordenarTira(orden);
    for (const auto& t : tarjetas)
        if (enfocada && t->id() == *enfocada) t->setFocus(Qt::OtherFocusReason);
    pintarFotos();
    pintarEstados();
    remotoSucio = true;  // the phones list the screens
}

void App::pintarFotos() { fotos->pintar(tarjetas, *almacen, motor->camaraActual(), ahora()); }

void App::alternarRespaldo(const std::string& id) {
    auto p = (*almacen)[id];
    if (!p) return;
    p->sinInternet = !p->sinInternet;
    almacen->actualizar(*p);
    pintarEstados();
    remotoSucio = true;
    decir(q(p->sinInternet ? "Si se cae el internet, en Kick se queda «" + p->nombre + "»."
                           : "Sin pantalla para cuando se cae el internet: se queda la última imagen."));
}

void App::cerrarEditor() {
    if (!editor) return;
    editor->close();
    editor = nullptr;
}

void App::editar(const std::string& id) {
    auto p = (*almacen)[id];
    if (!p) return;
    if (editor) {
        if (editor->pantalla().id == id) {
            editor->raise();
            editor->activateWindow();
            return;
        }
        cerrarEditor();
    }
    QPointer<App> yo = this;
    auto* e = new Editor(*p, *almacen, ventana.get());
    e->camara = [yo]() -> std::optional<Cuadro> {
        if (!yo) return std::nullopt;
        return yo->motor->camaraActual();
    };
    e->alCambiar = [yo](const Pantalla& cambiada) {
        if (yo) yo->cambioEnPantalla(cambiada);
    };
    e->alDuplicar = [yo, id] {
        if (yo) yo->duplicar(id);
    };
    e->alEliminar = [yo, id] {
        if (yo) yo->eliminar(id, false);
    };
    QPointer<Editor> este = e;
    e->alCerrar = [yo, este] {
        if (yo && yo->editor == este) yo->editor = nullptr;
    };
    editor = e;
    e->show();
    e->raise();
    e->activateWindow();  // typing goes to the editor just opened
}

// An edit is kept, shows on its card and, for the program, on air at once (same screen: no
// dissolve).
void App::cambioEnPantalla(const Pantalla& p) {
    if (!(*almacen)[p.id]) return;  // deleted meanwhile
    almacen->actualizar(p);
    pintarFotos();
    if (p.id == programa && !(motor->estaVivo() && soloAudio())) motor->compositor.ponerEnFondo(p, *almacen);
    pintarEstados();
    remotoSucio = true;
}

void App::duplicar(const std::string& id) {
    auto copia = almacen->duplicar(id);
    if (!copia) return;
    pintarTira();
    editar(copia->id);
}

void App::eliminar(const std::string& id, bool preguntar) {
    auto p = (*almacen)[id];
    if (!p || id == "camara") return;
    if (preguntar) {
        QPointer<App> yo = this;
        tt::preguntar(ventana.get(),
                  {q("¿Eliminar «" + p->nombre + "»?"), QString::fromUtf8("Se borra la pantalla y el archivo que le subiste."),
                   {"Cancelar", "Eliminar"}, 0, 1, 0},
                  [yo, id](std::optional<int> r) {
                      if (yo && r == 1) yo->eliminar(id, false);
                  });
        return;
    }
    if (editor && editor->pantalla().id == id) cerrarEditor();
    if (programa == id) ponerPantalla("camara");
    almacen->eliminar(id);
    pintarTira();
}

}  // namespace tt
