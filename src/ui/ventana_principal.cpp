#include "ui/ventana_principal.h"

#include "ui/fuente.h"
#include "ui/medidor.h"
#include "ui/vista_previa.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>

#include <functional>

namespace tt {

namespace {

constexpr int anchoVentana = 1240;
constexpr int altoVentana = 746;
const char* claveMarco = "principal-fija";  // where the user left the window

const QColor rojoError = QColor::fromRgbF(1.0f, 0.4f, 0.42f);
const QColor naranja = QColor::fromRgbF(1.0f, 0.62f, 0.04f);
const QColor rojoVivo = QColor::fromRgbF(1.0f, 0.35f, 0.37f);
const QColor fondoQuieto = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f);

void colorear(QLabel* l, QColor c) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

// Sends a standard editing action to the widget with the keyboard focus.
void alEnfocado(const char* accion) {
    if (QWidget* w = QApplication::focusWidget())
        QMetaObject::invokeMethod(w, accion, Qt::DirectConnection);
}

QAction* item(QMenu* menu, const char* titulo, char tecla, std::function<void()> fn) {
    auto* a = menu->addAction(QString::fromUtf8(titulo));
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_A + (tecla - 'a'))));
    QObject::connect(a, &QAction::triggered, menu, std::move(fn));
    return a;
}

}  // namespace

VentanaPrincipal::VentanaPrincipal(QWidget* padre) : QMainWindow(padre) {
    setWindowTitle(QString::fromUtf8("Tremolante · Transmitir"));
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor::fromRgbF(0.043f, 0.043f, 0.047f, 1.0f));
    setPalette(p);
    setAutoFillBackground(true);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                   Qt::CustomizeWindowHint);
    armarMenu();

    auto* centro = new QWidget(this);
    centro->setFixedSize(anchoVentana, altoVentana);
    setCentralWidget(centro);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    armar(centro);

    // Centred, unless the user left it elsewhere; the size never comes from the saved place.
    if (QScreen* pantalla = QGuiApplication::primaryScreen())
        move(pantalla->availableGeometry().center() - QPoint(anchoVentana / 2, altoVentana / 2));
    QVariant guardada = QSettings().value(claveMarco);
    if (guardada.canConvert<QPoint>()) move(guardada.toPoint());
}

void VentanaPrincipal::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    if (isVisible()) QSettings().setValue(claveMarco, pos());
}

void VentanaPrincipal::armarMenu() {
    QMenuBar* barra = menuBar();
    auto* app = barra->addMenu(QString::fromUtf8("Tremolante"));
    item(app, "Ocultar Tremolante Transmitir", 'h', [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) w->showMinimized();
    });
    app->addSeparator();
    item(app, "Salir", 'q', [this] { Q_EMIT salirPedido(); });

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
}

void VentanaPrincipal::armar(QWidget* centro) {
    auto* fila = new QHBoxLayout(centro);
    fila->setContentsMargins(20, 20, 20, 14);
    fila->setSpacing(18);

    // Left: the preview with its badge and placeholder, the screens' title, the notice line.
    auto* izquierda = new QVBoxLayout();
    previa_ = new VistaPrevia(centro);
    previa_->setFixedSize(880, 495);
    auto* sobrePrevia = new QVBoxLayout(previa_);
    sobrePrevia->setContentsMargins(14, 14, 14, 14);
    insigniaFondo_ = new QWidget(previa_);
    auto* filaInsignia = new QHBoxLayout(insigniaFondo_);
    filaInsignia->setContentsMargins(10, 4, 10, 4);
    insignia_ = etiqueta("Sin transmitir", 12, Peso::bold, QColor(255, 255, 255), insigniaFondo_);
    filaInsignia->addWidget(insignia_);
    ponerInsignia("Sin transmitir", false);
    auto* arriba = new QHBoxLayout();
    arriba->addWidget(insigniaFondo_);
    arriba->addStretch();
    sobrePrevia->addLayout(arriba);
    sobrePrevia->addStretch();
    vacio_ = etiqueta("Cargando cámaras…", 15, Peso::medium, colorSecundario(), previa_);
    sobrePrevia->addWidget(vacio_, 0, Qt::AlignCenter);
    sobrePrevia->addStretch();
    izquierda->addWidget(previa_);
    izquierda->addSpacing(12);
    pantallasTit_ = etiqueta("Pantallas", 12, Peso::semibold, colorSecundario(), centro);
    izquierda->addWidget(pantallasTit_);
    izquierda->addStretch();
    auto* pie = new QHBoxLayout();
    aviso_ = etiqueta("", 13, Peso::medium, colorSecundario(), centro);
    estadoTxt_ = etiqueta("", 12, Peso::semibold, colorSecundario(), centro);
    pie->addWidget(aviso_, 1);
    pie->addWidget(estadoTxt_);
    izquierda->addLayout(pie);
    fila->addLayout(izquierda);

    // Right: devices, networks and the stream button.
    auto* derecha = new QVBoxLayout();
    derecha->setSpacing(9);
    camSel_ = new QComboBox(centro);
    micSel_ = new QComboBox(centro);
    camaraTxt_ = etiqueta("", 12, Peso::medium, colorTerciario(), centro);
    medidor_ = new Medidor(centro);
    monoCaja_ = new QCheckBox("Mezclar a mono", centro);
    redesTxt_ = etiqueta("Revisando redes…", 13, Peso::medium, colorSecundario(), centro);
    celularTxt_ = etiqueta("Conectando…", 12, Peso::medium, colorTerciario(), centro);
    saldoTxt_ = etiqueta("", 12.5, Peso::semibold, colorSecundario(), centro);
    boton_ = new QPushButton("Transmitir", centro);
    derecha->addWidget(etiqueta("Cámara", 12, Peso::bold, colorSecundario(), centro));
    derecha->addWidget(camSel_);
    derecha->addWidget(camaraTxt_);
    derecha->addWidget(etiqueta("Micrófono", 12, Peso::bold, colorSecundario(), centro));
    derecha->addWidget(micSel_);
    derecha->addWidget(medidor_);
    derecha->addWidget(monoCaja_);
    derecha->addSpacing(12);
    derecha->addWidget(redesTxt_);
    derecha->addWidget(celularTxt_);
    derecha->addWidget(saldoTxt_);
    derecha->addStretch();
    boton_->setMinimumHeight(48);
    boton_->setFont(fuente(15, Peso::bold));
    boton_->setEnabled(false);
    derecha->addWidget(boton_);
    fila->addLayout(derecha, 1);

    connect(boton_, &QPushButton::clicked, this, &VentanaPrincipal::pulsado);
    connect(camSel_, &QComboBox::activated, this, &VentanaPrincipal::dispositivoElegido);
    connect(micSel_, &QComboBox::activated, this, &VentanaPrincipal::dispositivoElegido);
    connect(monoCaja_, &QCheckBox::clicked, this, &VentanaPrincipal::monoCambiado);
}

void VentanaPrincipal::decir(const QString& texto, bool error) {
    aviso_->setText(texto);
    colorear(aviso_, error ? rojoError : colorSecundario());
}

QString VentanaPrincipal::aviso() const { return aviso_->text(); }

void VentanaPrincipal::ponerInsignia(const QString& texto, bool alAire) {
    insignia_->setText(texto);
    const QColor fondo = alAire ? rojoVivo : fondoQuieto;
    insigniaFondo_->setStyleSheet(QString("background: rgba(%1,%2,%3,%4); border-radius: 13px;")
                                      .arg(fondo.red()).arg(fondo.green()).arg(fondo.blue()).arg(fondo.alphaF()));
}

QString VentanaPrincipal::insignia() const { return insignia_->text(); }

void VentanaPrincipal::ponerRedes(const QString& texto, Tono tono) {
    redesTxt_->setText(texto);
    colorear(redesTxt_, tono == Tono::rojo ? rojoError : tono == Tono::naranja ? naranja : colorSecundario());
}

QString VentanaPrincipal::redes() const { return redesTxt_->text(); }

void VentanaPrincipal::ponerEstado(const QString& texto) { estadoTxt_->setText(texto); }

void VentanaPrincipal::ponerVacio(std::optional<QString> texto) {
    if (texto) vacio_->setText(*texto);
    vacio_->setVisible(texto.has_value());
}

void VentanaPrincipal::ponerFormato(const QString& texto) { camaraTxt_->setText(texto); }

void VentanaPrincipal::ponerBoton(bool alAire) { boton_->setText(alAire ? "Detener" : "Transmitir"); }

void VentanaPrincipal::habilitarBoton(bool si) { boton_->setEnabled(si); }

void VentanaPrincipal::habilitarDispositivos(bool si) {
    for (QWidget* w : std::initializer_list<QWidget*>{camSel_, micSel_, monoCaja_}) w->setEnabled(si);
}

QComboBox* VentanaPrincipal::menu(Menu m) const { return m == Menu::camara ? camSel_ : micSel_; }

void VentanaPrincipal::llenar(Menu m, const std::vector<std::pair<QString, QString>>& items,
                              std::optional<int> elegido, const QString& vacio) {
    QComboBox* lista = menu(m);
    QSignalBlocker quieto(lista);
    lista->clear();
    if (items.empty()) {
        lista->addItem(vacio);
        lista->setEnabled(false);
        return;
    }
    for (auto& [titulo, id] : items) lista->addItem(titulo, id);
    lista->setEnabled(true);
    if (elegido) lista->setCurrentIndex(*elegido);
}

std::optional<std::string> VentanaPrincipal::elegido(Menu m) const {
    QComboBox* lista = menu(m);
    if (lista->currentIndex() < 0) return std::nullopt;
    QVariant id = lista->currentData();
    if (!id.isValid()) return std::nullopt;
    return id.toString().toStdString();
}

void VentanaPrincipal::ponerMono(bool si) {
    QSignalBlocker quieto(monoCaja_);
    monoCaja_->setChecked(si);
}

bool VentanaPrincipal::mono() const { return monoCaja_->isChecked(); }

void VentanaPrincipal::ponerNivel(float nivel) {
    medidor_->nivel = nivel;
    medidor_->update();
}

float VentanaPrincipal::nivel() const { return medidor_->nivel; }

}  // namespace tt
