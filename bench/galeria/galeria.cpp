// The widget gallery: every control of the windows in its states on one dark page, saved as a
// PNG to look at. tremolante-galeria [salida.png] (default /tmp/tremolante-galeria.png); run it
// with QT_QPA_PLATFORM=offscreen or under xvfb-run.
#include "comun/proceso.h"
#include "ui/apariencia.h"
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/campo_secreto.h"
#include "ui/casilla.h"
#include "ui/cifra.h"
#include "ui/deslizador.h"
#include "ui/fuente.h"
#include "ui/lista.h"
#include "ui/marca.h"
#include "ui/medidor.h"
#include "ui/opciones.h"
#include "ui/pildora.h"
#include "ui/rejilla.h"
#include "ui/segmentos.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

#include <cstdio>

using namespace tt;

namespace {

void encima(QWidget* w) {
    QEnterEvent e(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QApplication::sendEvent(w, &e);
}

// One row: the control's name, then its states side by side, each captioned.
void fila(QGridLayout* rejilla, const QString& nombre, std::initializer_list<std::pair<const char*, QWidget*>> estados) {
    const int r = rejilla->rowCount();
    rejilla->addWidget(etiqueta(nombre, 12, Peso::bold, colorSecundario()), r, 0, Qt::AlignTop);
    int c = 1;
    for (auto [pie, w] : estados) {
        auto* caja = new QWidget;
        auto* pila = new QVBoxLayout(caja);
        pila->setContentsMargins(0, 0, 0, 0);
        pila->setSpacing(4);
        pila->addWidget(w);
        pila->addWidget(etiqueta(QString::fromUtf8(pie), 10, Peso::medium, colorTerciario()));
        rejilla->addWidget(caja, r, c++, Qt::AlignTop | Qt::AlignLeft);
    }
}

template <typename T>
T* ancho(T* w, int px) {
    w->setFixedWidth(px);
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    Proceso p;
    p.recursos = std::filesystem::canonical("/proc/self/exe").parent_path() / ".." / "share" / "tremolante";
    fijarProceso(p);
    QApplication app(argc, argv);
    aparienciaOscura();
    const QString salida = argc > 1 ? argv[1] : "/tmp/tremolante-galeria.png";

    QWidget pagina;
    pagina.setWindowTitle("Galería");
    auto* rejilla = new QGridLayout(&pagina);
    rejilla->setContentsMargins(24, 24, 24, 24);
    rejilla->setHorizontalSpacing(22);
    rejilla->setVerticalSpacing(18);

    auto* pApagada = new Pildora;
    pApagada->setEnabled(false);
    auto* pLista = new Pildora;
    auto* pBrillo = new Pildora;
    auto* pVivo = new Pildora;
    pVivo->ponerEnVivo(true);
    auto* pVivoBrillo = new Pildora;
    pVivoBrillo->ponerEnVivo(true);
    fila(rejilla, "Pildora", {{"deshabilitada", pApagada}, {"lista", pLista}, {"bajo el puntero", pBrillo},
                              {"al aire", pVivo}, {"al aire, puntero", pVivoBrillo}});

    auto* lReposo = ancho(new Lista, 200);
    lReposo->llenar({{"ILCE-7M4", "a"}, {"Cam Link 4K", "b"}});
    auto* lEncima = ancho(new Lista, 200);
    lEncima->llenar({{"Mi canal", "a"}, {"", "", true}, {"Editar canales…", "+"}});
    auto* lEspera = ancho(new Lista, 200);
    lEspera->esperar("Cargando…");
    fila(rejilla, "Lista", {{"en reposo (0.82)", lReposo}, {"bajo el puntero", lEncima}, {"sin opciones", lEspera}});

    auto* cNo = new Casilla("Mezclar a mono");
    auto* cSi = new Casilla("Mezclar a mono");
    cSi->poner(true);
    auto* cEncima = new Casilla("Mezclar a mono");
    cEncima->poner(true);
    auto* cApagada = new Casilla("Mezclar a mono");
    cApagada->setEnabled(false);
    auto* mSi = new Marca("Repetir el video", true);
    fila(rejilla, "Casilla, Marca", {{"sin marcar", cNo}, {"marcada", cSi}, {"bajo el puntero", cEncima},
                                     {"deshabilitada", cApagada}, {"Marca", mSi}});

    auto* bSimbolo = new Boton("Abrir app móvil", "celular");
    auto* bSolo = new Boton("", "ajustes");
    auto* bTitulo = new Boton("Duplicar");
    bTitulo->ponerFondo(std::nullopt);
    auto* bEncima = new Boton("Duplicar");
    bEncima->ponerFondo(std::nullopt);
    auto* bApagado = new Boton("Abrir app móvil", "celular");
    bApagado->setEnabled(false);
    fila(rejilla, "Boton", {{"título y símbolo", bSimbolo}, {"solo símbolo", bSolo}, {"sin fondo", bTitulo},
                            {"sin fondo, puntero", bEncima}, {"deshabilitado", bApagado}});

    auto* campoVacio = ancho(new Campo("", "Nombre del canal"), 200);
    auto* campoTexto = ancho(new Campo("Tremolante en vivo", "Nombre del canal"), 200);
    auto* campoFoco = ancho(new Campo("Con el foco", ""), 200);
    auto* secreto = ancho(new CampoSecreto("Clave de transmisión"), 200);
    secreto->setText("sk_us-west-2_0000");
    fila(rejilla, "Campo", {{"vacío", campoVacio}, {"con texto", campoTexto}, {"con el foco", campoFoco},
                            {"CampoSecreto", secreto}});

    auto* dMin = ancho(new Deslizador(0, 0, 1), 160);
    auto* dMedio = ancho(new Deslizador(0.5, 0, 1), 160);
    auto* dMax = ancho(new Deslizador(1, 0, 1), 160);
    auto* dApagado = ancho(new Deslizador(0.3, 0, 1), 160);
    dApagado->setEnabled(false);
    fila(rejilla, "Deslizador", {{"mínimo", dMin}, {"mitad", dMedio}, {"máximo", dMax}, {"deshabilitado", dApagado}});

    auto* sUno = ancho(new Segmentos({"Izquierda", "Centro", "Derecha"}, 0), 240);
    auto* sDos = ancho(new Segmentos({"Imagen", "Video"}, 1), 160);
    auto* opciones = new Opciones({"Se repite", "Vuelve a la cámara", "Se queda en el último cuadro"}, 1);
    fila(rejilla, "Segmentos, Opciones", {{"primero", sUno}, {"segundo de dos", sDos}, {"Opciones", opciones}});

    auto* r0 = new Rejilla(0);
    auto* r4 = new Rejilla(4);
    auto* r8 = new Rejilla(8);
    fila(rejilla, "Rejilla", {{"celda 0", r0}, {"celda 4", r4}, {"celda 8", r8}});

    auto* cifraVacia = ancho(new Cifra("tiempo al aire"), 150);
    auto* cifra = ancho(new Cifra("sale"), 150);
    cifra->ponerValor("2.4 Mbps");
    auto medidor = [](float nivel) {
        auto* m = new Medidor;
        m->setFixedWidth(160);
        m->nivel = nivel;
        return m;
    };
    fila(rejilla, "Cifra, Medidor", {{"sin valor", cifraVacia}, {"con valor", cifra}, {"silencio", medidor(0)},
                                     {"−20 dB", medidor(0.1f)}, {"−5 dB", medidor(0.56f)}, {"0 dB", medidor(1)}});

    pagina.show();
    pagina.activateWindow();
    campoFoco->setFocus();
    for (QWidget* w : std::initializer_list<QWidget*>{pBrillo, pVivoBrillo, lEncima, cEncima, bEncima}) encima(w);
    // Long enough for the hover animations to settle.
    QTimer::singleShot(600, &app, [&] {
        const bool bien = pagina.grab().save(salida);
        std::printf("%s %s\n", bien ? "galería:" : "no se pudo escribir", salida.toUtf8().constData());
        app.exit(bien ? 0 : 1);
    });
    return app.exec();
}
