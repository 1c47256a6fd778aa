// The main window and the menu bar of App.
#include "app/app.h"

#include "comun/bitacora.h"
#include "comun/proceso.h"
#include "engine/motor.h"
#include "engine/vista_previa.h"
#include "ui/fuente.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace tt {

namespace {

constexpr int anchoVentana = 1240;
constexpr int altoVentana = 746;
const char* claveMarco = "principal-fija";

// Remembers where the user left it; its size is fixed.
class Ventana : public QMainWindow {
public:
    Ventana() {
        setWindowTitle(QString::fromUtf8("Tremolante · Transmitir"));
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor::fromRgbF(0.043f, 0.043f, 0.047f, 1.0f));
        setPalette(p);
        setAutoFillBackground(true);
        setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                       Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    }

protected:
    void moveEvent(QMoveEvent* e) override {
        QMainWindow::moveEvent(e);
        if (isVisible()) QSettings().setValue(claveMarco, pos());
    }
};

// Sends a standard editing action to the widget with the keyboard focus.
void alEnfocado(const char* accion) {
    if (QWidget* w = QApplication::focusWidget())
        QMetaObject::invokeMethod(w, accion, Qt::DirectConnection);
}

QAction* item(QMenu* menu, const char* titulo, char tecla, std::function<void()> fn) {
    auto* a = menu->addAction(QString::fromUtf8(titulo));
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_A + (tecla - 'a'))));
    QObject::connect(a, &QAction::triggered, std::move(fn));
    return a;
}

}  // namespace

void App::crearVentana() {
    if (ventana) return;
    auto* v = new Ventana();
    v->setAttribute(Qt::WA_DeleteOnClose, false);
    ventana = v;
    if (barraMenu) v->setMenuBar(barraMenu);
    auto* centro = new QWidget();
    centro->setFixedSize(anchoVentana, altoVentana);
    v->setCentralWidget(centro);
    v->layout()->setSizeConstraint(QLayout::SetFixedSize);
    if (QScreen* pantalla = QGuiApplication::primaryScreen()) {
        QRect r = pantalla->availableGeometry();
        v->move(r.center() - QPoint(anchoVentana / 2, altoVentana / 2));
    }
    QVariant guardada = QSettings().value(claveMarco);
    if (guardada.canConvert<QPoint>()) v->move(guardada.toPoint());
    centro->setFixedSize(anchoVentana, altoVentana);
}

void App::armarMenu() {
    auto* barra = new QMenuBar();
    auto* app = barra->addMenu(QString::fromUtf8("Tremolante"));
    item(app, "Ocultar Tremolante Transmitir", 'h', [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) w->showMinimized();
    });
    app->addSeparator();
    item(app, "Salir", 'q', [] { QApplication::closeAllWindows(); QApplication::quit(); });

    auto* edicion = barra->addMenu(QString::fromUtf8("Edición"));
    item(edicion, "Deshacer", 'z', [] { alEnfocado("undo"); });
    edicion->addSeparator();
    item(edicion, "Cortar", 'x', [] { alEnfocado("cut"); });
    item(edicion, "Copiar", 'c', [] { alEnfocado("copy"); });
    item(edicion, "Pegar", 'v', [] { alEnfocado("paste"); });
    item(edicion, "Seleccionar todo", 'a', [] { alEnfocado("selectAll"); });

    auto* menuVentana = barra->addMenu(QString::fromUtf8("Ventana"));
    item(menuVentana, "Minimizar", 'm', [] {
        if (QWidget* w = QApplication::activeWindow()) w->showMinimized();
    });
    item(menuVentana, "Cerrar", 'w', [] {
        if (QWidget* w = QApplication::activeWindow()) w->close();
    });
    barraMenu = barra;
    if (ventana) ventana->setMenuBar(barra);
}

void App::armarVentana() {
    auto* centro = ventana->centralWidget();
    contenido = centro;
    auto* fila = new QHBoxLayout(centro);
    fila->setContentsMargins(20, 20, 20, 14);
    fila->setSpacing(18);

    // Left: the preview with its badge and placeholder, the screens' title, the notice line.
    auto* izquierda = new QVBoxLayout();
    previa = new VistaPrevia();
    previa->setFixedSize(880, 495);
    auto* sobrePrevia = new QVBoxLayout(previa);
    sobrePrevia->setContentsMargins(14, 14, 14, 14);
    insigniaFondo = new QWidget();
    auto* filaInsignia = new QHBoxLayout(insigniaFondo);
    filaInsignia->setContentsMargins(10, 4, 10, 4);
    filaInsignia->addWidget(insignia);
    pintarInsignia("Sin transmitir", QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f));
    auto* arriba = new QHBoxLayout();
    arriba->addWidget(insigniaFondo);
    arriba->addStretch();
    sobrePrevia->addLayout(arriba);
    sobrePrevia->addStretch();
    sobrePrevia->addWidget(vacio, 0, Qt::AlignCenter);
    sobrePrevia->addStretch();
    izquierda->addWidget(previa);
    izquierda->addSpacing(12);
    izquierda->addWidget(pantallasTit);
    izquierda->addStretch();
    auto* pie = new QHBoxLayout();
    pie->addWidget(aviso, 1);
    pie->addWidget(estadoTxt);
    izquierda->addLayout(pie);
    fila->addLayout(izquierda);

    // Right: devices, networks and the stream button.
    auto* derecha = new QVBoxLayout();
    derecha->setSpacing(9);
    derecha->addWidget(etiqueta("Cámara", 12, Peso::bold, colorSecundario()));
    derecha->addWidget(camSel);
    derecha->addWidget(camaraTxt);
    derecha->addWidget(etiqueta("Micrófono", 12, Peso::bold, colorSecundario()));
    derecha->addWidget(micSel);
    derecha->addWidget(monoCaja);
    derecha->addSpacing(12);
    derecha->addWidget(redesTxt);
    derecha->addWidget(celularTxt);
    derecha->addWidget(saldoTxt);
    derecha->addStretch();
    boton->setMinimumHeight(48);
    boton->setFont(fuente(15, Peso::bold));
    boton->setEnabled(false);
    derecha->addWidget(boton);
    fila->addLayout(derecha, 1);

    QObject::connect(boton, &QPushButton::clicked, this, [this] { pulsar(); });
    QObject::connect(camSel, &QComboBox::activated, this, [this] { cambioDispositivo(); });
    QObject::connect(micSel, &QComboBox::activated, this, [this] { cambioDispositivo(); });
}

void App::armarPrincipal() {
    armarVentana();
    principalLista = true;
    motor->alCamara = previa->receptorCamara();
    motor->alComponer = previa->receptorPrograma();
    QPointer<App> yo = this;
    motor->alFallar = [yo](const std::string& texto) {
        if (!yo) return;
        bitacora("aviso: " + texto);
        yo->alDetener(yo->motor->figuras().cortoElServidor);
        yo->decir(QString::fromStdString(texto), true);
    };
    motor->vigilarDispositivos([yo] {
        if (!yo || yo->motor->estaVivo()) return;
        yo->listar(false);
        if (yo->elegidos() != yo->abiertos) yo->abrirElegidos();
    });
    vigilarRedes();
    pedirPermisos();
    uiLista = true;
    if (auto n = entorno().numero(Tm::salir); n && *n >= 0) {
        QTimer::singleShot(int(std::lround(*n * 1000)), qApp, [] {
            bitacora("inicio: TM_SALIR, fin de la aplicación");
            QApplication::quit();
        });
    }
}

}  // namespace tt
