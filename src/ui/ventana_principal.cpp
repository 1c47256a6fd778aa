#include "ui/ventana_principal.h"

#include "ui/boton.h"
#include "ui/sitio_ventana.h"
#include "ui/casilla.h"
#include "ui/fuente.h"
#include "ui/medidor.h"
#include "ui/pildora.h"
#include "ui/renglon.h"
#include "ui/vista_previa.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace tt {

namespace {

// The window's size where the screen has room, and the smallest it shrinks to: within a 1280×720
// screen less a panel and a title bar.
constexpr int anchoVentana = 1240;
constexpr int altoVentana = 746;
constexpr int anchoMinimo = 1040;
constexpr int altoMinimo = 620;
constexpr int margenArriba = 44;  // from the top of the window to the preview and the column
constexpr int anchoColumna = 296;
constexpr int anchoTarjeta = 148;  // a screen card of the strip
const char* claveMarco = "principal-fija";  // where the user left the window

const QColor rojoError = QColor::fromRgbF(1.0f, 0.4f, 0.42f);
// The warning oranges of the network line and of the balance.
const QColor naranjaRedes = QColor::fromRgbF(1.0f, 0.76f, 0.3f);
const QColor naranjaSaldo = QColor::fromRgbF(1.0f, 0.74f, 0.3f);
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

// The badge over the preview: its text on a rounded background (white at 0.1 level, or red on
// air), 12 points in from its ends.
class Insignia : public QLabel {
public:
    explicit Insignia(QWidget* padre) : QLabel(padre) {
        setContentsMargins(12, 0, 12, 0);
        setFixedHeight(26);
    }
    void ponerFondo(QColor c) {
        fondo_ = c;
        update();
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(fondo_);
        p.drawRoundedRect(QRectF(rect()), 13, 13);
        p.end();
        QLabel::paintEvent(e);
    }

private:
    QColor fondo_;
};

// A rounded block of the side column: faint fill and border.
class Bloque : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.07f), 1));
        p.setBrush(colorBloque());
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    }
};

// A title over the given views, 14 points in from the block's sides.
QWidget* bloque(QWidget* padre, const QString& titulo, std::initializer_list<QWidget*> vistas) {
    auto* caja = new Bloque(padre);
    auto* pila = new QVBoxLayout(caja);
    pila->setContentsMargins(14, 13, 14, 14);
    pila->setSpacing(9);
    pila->addWidget(etiqueta(titulo, 12, Peso::bold, colorSecundario(), caja));
    for (QWidget* v : vistas) {
        v->setParent(caja);
        pila->addWidget(v);
    }
    caja->setAccessibleName(titulo);
    return caja;
}

// A wrapping label of the side column, at most five lines.
QLabel* texto(const QString& t, QColor color, QWidget* padre) {
    QLabel* l = etiqueta(t, 12, Peso::medium, color, padre);
    l->setWordWrap(true);
    l->setMaximumHeight(5 * l->fontMetrics().lineSpacing());
    return l;
}

// A fade over one end of the strip, where more cards lie beyond the edge.
class Borde : public QWidget {
public:
    Borde(bool derecho, QWidget* padre) : QWidget(padre), derecho_(derecho) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFixedWidth(40);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient g(0, 0, width(), 0);
        const QColor fondo = QColor::fromRgbF(0.043f, 0.043f, 0.047f);
        QColor claro = fondo;
        claro.setAlphaF(0);
        g.setColorAt(derecho_ ? 0 : 1, claro);
        g.setColorAt(derecho_ ? 1 : 0, fondo);
        p.fillRect(rect(), g);
    }

private:
    bool derecho_;
};

// The strip's row: transparent, pinned to the top left, scrolling sideways with the wheel; a fade
// at an end says that cards lie beyond it.
class Franja : public QScrollArea {
public:
    explicit Franja(QWidget* padre) : QScrollArea(padre), izquierdo_(new Borde(false, this)), derecho_(new Borde(true, this)) {
        connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { pintarBordes(); });
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { pintarBordes(); });
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidgetResizable(false);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setFocusPolicy(Qt::NoFocus);  // the cards take the focus, not the row
        setAccessibleName("Pantallas");
    }

protected:
    void wheelEvent(QWheelEvent* e) override {
        const QPoint d = e->angleDelta();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (d.x() != 0 ? d.x() : d.y()) / 2);
        e->accept();
    }
    void resizeEvent(QResizeEvent* e) override {
        QScrollArea::resizeEvent(e);
        pintarBordes();
    }

private:
    void pintarBordes() {
        const QScrollBar* b = horizontalScrollBar();
        izquierdo_->setGeometry(0, 0, izquierdo_->width(), height());
        derecho_->setGeometry(width() - derecho_->width(), 0, derecho_->width(), height());
        izquierdo_->setVisible(b->value() > b->minimum());
        derecho_->setVisible(b->value() < b->maximum());
        izquierdo_->raise();
        derecho_->raise();
    }

    Borde* izquierdo_;
    Borde* derecho_;
};

// The preview's place: the preview is the largest 16:9 picture that fits, at the top left, so a
// shorter window takes its height from the preview first.
class Caja169 : public QWidget {
public:
    Caja169(QWidget* hijo, QWidget* padre) : QWidget(padre), hijo_(hijo) {
        hijo_->setParent(this);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    QSize minimumSizeHint() const override { return hijo_->minimumSizeHint(); }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        hijo_->setGeometry(QRect(QPoint(0, 0), QSize(16, 9).scaled(size(), Qt::KeepAspectRatio)));
    }

private:
    QWidget* hijo_;
};

}  // namespace

VentanaPrincipal::VentanaPrincipal(QWidget* padre) : QMainWindow(padre) {
    setWindowTitle(QString::fromUtf8("Tremolante · Transmitir"));
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor::fromRgbF(0.043f, 0.043f, 0.047f, 1.0f));
    setPalette(p);
    setAutoFillBackground(true);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::CustomizeWindowHint);
    armarMenu();

    // The window manager draws the title bar outside the window; the menu bar takes the top of
    // the window instead, so everything below keeps its place.
    const int barra = menuBar()->sizeHint().height();
    auto* centro = new QWidget(this);
    setCentralWidget(centro);
    armar(centro, std::max(0, margenArriba - barra));
    setMinimumSize(anchoMinimo, altoMinimo);
    colocar();
}

void VentanaPrincipal::colocar() {
    std::optional<QPoint> guardado;
    const QVariant v = QSettings().value(claveMarco);
    if (v.canConvert<QPoint>()) guardado = v.toPoint();
    ponerEnPantalla(*this, {anchoVentana, altoVentana}, guardado);
}

void VentanaPrincipal::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // Placed again once the frame is known, if the guess left part of it off the screen.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible() && !isMaximized() && screen() && !screen()->availableGeometry().contains(frameGeometry()))
                colocar();
        },
        Qt::QueuedConnection);
}

void VentanaPrincipal::ordenarTira(const std::vector<QWidget*>& tarjetas) {
    QWidget* antes = celularBoton_;
    bool conParada = false;
    for (QWidget* t : tarjetas) {
        setTabOrder(antes, t);
        antes = t;
        t->installEventFilter(this);
        conParada = conParada || t->focusPolicy() == Qt::StrongFocus;
    }
    setTabOrder(antes, boton_);
    if (!conParada && !tarjetas.empty()) tarjetas.front()->setFocusPolicy(Qt::StrongFocus);
}

bool VentanaPrincipal::eventFilter(QObject* objeto, QEvent* evento) {
    if (evento->type() == QEvent::FocusIn)
        if (auto* w = qobject_cast<QWidget*>(objeto)) franja_->ensureWidgetVisible(w, 12, 0);
    return QMainWindow::eventFilter(objeto, evento);
}

void VentanaPrincipal::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    if (isVisible()) QSettings().setValue(claveMarco, pos());
}

void VentanaPrincipal::armarMenu() {
    QMenuBar* barra = menuBar();
    // The menus in the application's font, their highlight rounded like its buttons (the menus
    // are the bar's children, so the sheet reaches them).
    barra->setFont(fuente(13, Peso::medium));
    barra->setStyleSheet(
        "QMenuBar { background: transparent; padding: 2px 6px; }"
        "QMenuBar::item { padding: 4px 10px; border-radius: 6px; }"
        "QMenuBar::item:selected { background: rgba(255,255,255,28); }"
        "QMenu { background: rgb(30,30,32); border: 1px solid rgba(255,255,255,30); padding: 6px; }"
        "QMenu::item { padding: 6px 28px 6px 12px; border-radius: 6px; color: white; }"
        "QMenu::item:selected { background: rgb(10,132,255); }"
        "QMenu::item:disabled { color: rgba(255,255,255,110); }"
        "QMenu::separator { height: 1px; background: rgba(255,255,255,30); margin: 5px 8px; }");
    auto* app = barra->addMenu(QString::fromUtf8("Tremolante"));
    app->setFont(barra->font());
    connect(app->addAction(QString::fromUtf8("Acerca de Tremolante Transmitir")), &QAction::triggered, this,
            [this] { Q_EMIT acercaPedido(); });
    app->addSeparator();
    cerrarSesion_ = app->addAction(QString::fromUtf8("Cerrar sesión…"));
    connect(cerrarSesion_, &QAction::triggered, this, [this] { Q_EMIT cerrarSesionPedido(); });
    app->addSeparator();
    item(app, "Ocultar Tremolante Transmitir", 'h', [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) w->showMinimized();
    });
    app->addSeparator();
    item(app, "Salir", 'q', [this] { Q_EMIT salirPedido(); });

    auto* edicion = barra->addMenu(QString::fromUtf8("Edición"));
    edicion->setFont(barra->font());
    item(edicion, "Deshacer", 'z', [] { alEnfocado("undo"); });
    edicion->addSeparator();
    item(edicion, "Cortar", 'x', [] { alEnfocado("cut"); });
    item(edicion, "Copiar", 'c', [] { alEnfocado("copy"); });
    item(edicion, "Pegar", 'v', [] { alEnfocado("paste"); });
    item(edicion, "Seleccionar todo", 'a', [] { alEnfocado("selectAll"); });

    auto* menuVentana = barra->addMenu(QString::fromUtf8("Ventana"));
    menuVentana->setFont(barra->font());
    item(menuVentana, "Minimizar", 'm', [] {
        if (QWidget* w = QApplication::activeWindow()) w->showMinimized();
    });
    item(menuVentana, "Cerrar", 'w', [] {
        if (QWidget* w = QApplication::activeWindow()) w->close();
    });
}

void VentanaPrincipal::armar(QWidget* centro, int arriba) {
    // The preview, its badge in the top left corner and the placeholder in its centre.
    previa_ = new VistaPrevia(centro);
    previa_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* sobrePrevia = new QGridLayout(previa_);
    sobrePrevia->setContentsMargins(14, 14, 14, 14);
    auto* insignia = new Insignia(previa_);
    insignia_ = insignia;
    insignia_->setFont(fuente(12, Peso::bold));
    colorear(insignia_, Qt::white);
    sobrePrevia->addWidget(insignia_, 0, 0, Qt::AlignTop | Qt::AlignLeft);
    ponerInsignia("Sin transmitir", false);
    vacio_ = etiqueta(QString::fromUtf8("Cargando cámaras…"), 15, Peso::medium, colorSecundario(), previa_);
    sobrePrevia->addWidget(vacio_, 0, 0, Qt::AlignCenter);

    // The controls of the side column.
    camSel_ = new Lista(centro);
    micSel_ = new Lista(centro);
    camSel_->setAccessibleName(QString::fromUtf8("Cámara"));
    micSel_->setAccessibleName(QString::fromUtf8("Micrófono"));
    for (Lista* l : {camSel_, micSel_}) l->esperar(QString::fromUtf8("Cargando…"));
    canalSel_ = new Lista(centro);
    canalSel_->setAccessibleName("Canal de Kick");
    monoCaja_ = new Casilla("Mezclar a mono", centro);
    medidor_ = new Medidor(centro);
    medidor_->setAccessibleName("Nivel del audio");
    redesTxt_ = texto(QString::fromUtf8("Revisando redes…"), colorSecundario(), centro);
    camaraTxt_ = texto("", colorTerciario(), centro);
    celularTxt_ = texto(QString::fromUtf8("Conectando…"), colorTerciario(), centro);
    celularBoton_ = new Boton(QString::fromUtf8("Abrir app móvil"), "celular", centro);
    saldoTxt_ = etiqueta("", 12.5, Peso::semibold, colorSecundario(), centro);
    boton_ = new Pildora(centro);
    boton_->setEnabled(false);

    auto* columna = new QWidget(centro);
    columna->setFixedWidth(anchoColumna);
    auto* pila = new QVBoxLayout(columna);
    pila->setContentsMargins(0, 0, 0, 18);
    pila->setSpacing(12);
    pila->addWidget(bloque(columna, QString::fromUtf8("Cámara"), {camSel_, camaraTxt_}));
    pila->addWidget(bloque(columna, "Audio", {micSel_, medidor_, monoCaja_}));
    pila->addWidget(bloque(columna, "Canal de Kick", {canalSel_, redesTxt_}));
    pila->addWidget(bloque(columna, "Celular", {celularTxt_, celularBoton_}));
    pila->addStretch(1);
    saldoTxt_->setParent(columna);
    boton_->setParent(columna);
    pila->addWidget(saldoTxt_);
    pila->addWidget(boton_);

    // The strip of screen cards: as tall as a card's 16:9 picture plus its name.
    pantallasTit_ = etiqueta("Pantallas", 12, Peso::semibold, colorSecundario(), centro);
    const int altoTira = int(std::lround(anchoTarjeta * 9.0 / 16)) + 24;
    auto* franja = new Franja(centro);
    franja_ = franja;
    franja->setFixedHeight(altoTira + 4);
    auto* fila = new QWidget(franja);
    fila->setAutoFillBackground(false);
    fila->setFixedHeight(altoTira);
    tira_ = new QHBoxLayout(fila);
    tira_->setContentsMargins(0, 0, 0, 0);
    tira_->setSpacing(12);
    tira_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tira_->setSizeConstraint(QLayout::SetFixedSize);  // as wide as its cards
    franja->setWidget(fila);

    auto* izquierda = new QVBoxLayout();
    izquierda->setContentsMargins(0, 0, 0, 14);
    izquierda->setSpacing(16);
    izquierda->addWidget(new Caja169(previa_, centro), 1);
    auto* columnaTira = new QVBoxLayout();
    columnaTira->setSpacing(8);
    columnaTira->addWidget(pantallasTit_);
    columnaTira->addWidget(franja);
    izquierda->addLayout(columnaTira);

    auto* cuerpo = new QHBoxLayout();
    cuerpo->setContentsMargins(22, arriba, 22, 0);
    cuerpo->setSpacing(18);
    cuerpo->addLayout(izquierda, 1);
    cuerpo->addWidget(columna);

    // The footer: a separator, the notice on the left (it gives way) and the status on the right
    // (never cut), at least 20 points apart.
    auto* pie = new QWidget(centro);
    pie->setFixedHeight(36);
    auto* piePila = new QVBoxLayout(pie);
    piePila->setContentsMargins(0, 0, 0, 0);
    piePila->setSpacing(0);
    auto* separador = new QFrame(pie);
    separador->setFixedHeight(1);
    separador->setAutoFillBackground(true);
    QPalette ps = separador->palette();
    ps.setColor(QPalette::Window, QColor::fromRgbF(1, 1, 1, 0.1f));
    separador->setPalette(ps);
    piePila->addWidget(separador);
    auto* lineas = new QHBoxLayout();
    lineas->setContentsMargins(22, 0, 22, 0);
    lineas->setSpacing(20);
    aviso_ = new Renglon(pie);
    aviso_->setFont(fuente(12.5, Peso::medium));
    colorear(aviso_, colorSecundario());
    estadoTxt_ = new QLabel(pie);
    // The plain system font: its digits are all one width, so the figures do not jitter.
    QFont cifras = estadoTxt_->font();
    cifras.setPointSizeF(12 * 0.75);
    cifras.setWeight(QFont::DemiBold);
    estadoTxt_->setFont(cifras);
    estadoTxt_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    colorear(estadoTxt_, colorSecundario());
    lineas->addWidget(aviso_, 1);
    lineas->addWidget(estadoTxt_);
    piePila->addLayout(lineas, 1);

    auto* todo = new QVBoxLayout(centro);
    todo->setContentsMargins(0, 0, 0, 0);
    todo->setSpacing(0);
    todo->addLayout(cuerpo, 1);
    todo->addWidget(pie);

    // Tab walks the column from top to bottom.
    QWidget* orden[] = {camSel_, micSel_, monoCaja_, canalSel_, celularBoton_, boton_};
    for (size_t i = 1; i < std::size(orden); ++i) setTabOrder(orden[i - 1], orden[i]);

    connect(boton_, &QPushButton::clicked, this, &VentanaPrincipal::pulsado);
    camSel_->al = micSel_->al = [this](const QString&) { Q_EMIT dispositivoElegido(); };
    canalSel_->al = [this](const QString& id) { Q_EMIT canalElegido(id); };
    monoCaja_->al = [this](bool si) { Q_EMIT monoCambiado(si); };
    celularBoton_->al = [this] { Q_EMIT celularPedido(); };
}

void VentanaPrincipal::decir(const QString& texto, bool error) {
    aviso_->setText(texto);
    aviso_->setAccessibleName(texto);
    colorear(aviso_, error ? rojoError : colorSecundario());
    avisoError_ = error;
}

QString VentanaPrincipal::aviso() const { return aviso_->text(); }

void VentanaPrincipal::ponerInsignia(const QString& texto, bool alAire) {
    insignia_->setText(texto);
    static_cast<Insignia*>(insignia_)->ponerFondo(alAire ? rojoVivo : fondoQuieto);
}

QString VentanaPrincipal::insignia() const { return insignia_->text(); }

void VentanaPrincipal::ponerRedes(const QString& texto, Tono tono) {
    redesTxt_->setText(texto);
    colorear(redesTxt_, tono == Tono::rojo ? rojoError : tono == Tono::naranja ? naranjaRedes : colorSecundario());
}

QString VentanaPrincipal::redes() const { return redesTxt_->text(); }

void VentanaPrincipal::ponerEstado(const QString& texto) { estadoTxt_->setText(texto); }

void VentanaPrincipal::ponerVacio(std::optional<QString> texto) {
    if (texto) vacio_->setText(*texto);
    vacio_->setVisible(texto.has_value());
}

void VentanaPrincipal::ponerFormato(const QString& texto, const QString& salida) {
    camaraTxt_->setText(salida.isEmpty() ? texto : texto + "\n" + salida);
}

void VentanaPrincipal::ponerBoton(bool alAire) { boton_->ponerEnVivo(alAire); }

// Disabled while a start is asked for, the button hands the keyboard to the next control; it takes
// it back when enabled again, unless the user moved on meanwhile.
void VentanaPrincipal::habilitarBoton(bool si) {
    const bool teniaFoco = !si && boton_->hasFocus();
    boton_->setEnabled(si);
    if (teniaFoco) focoPrestado_ = QApplication::focusWidget();
    if (!si) return;
    if (focoPrestado_ && QApplication::focusWidget() == focoPrestado_) boton_->setFocus(Qt::OtherFocusReason);
    focoPrestado_ = nullptr;
}

void VentanaPrincipal::habilitarDispositivos(bool si) {
    for (QWidget* w : std::initializer_list<QWidget*>{camSel_, micSel_, monoCaja_, canalSel_}) w->setEnabled(si);
}

Lista* VentanaPrincipal::menu(Menu m) const { return m == Menu::camara ? camSel_ : micSel_; }

void VentanaPrincipal::llenar(Menu m, const std::vector<std::pair<QString, QString>>& items,
                              std::optional<int> elegido, const QString& vacio) {
    Lista* lista = menu(m);
    if (items.empty()) {
        lista->esperar(vacio);
        return;
    }
    std::vector<Lista::Item> todos;
    for (auto& [titulo, id] : items) todos.push_back({titulo, id});
    std::optional<QString> id;
    if (elegido && *elegido >= 0 && *elegido < int(items.size())) id = items[size_t(*elegido)].second;
    lista->llenar(todos, id);
}

std::optional<std::string> VentanaPrincipal::elegido(Menu m) const {
    if (auto id = menu(m)->elegido()) return id->toStdString();
    return std::nullopt;
}

void VentanaPrincipal::ponerMono(bool si) { monoCaja_->poner(si); }

bool VentanaPrincipal::mono() const { return monoCaja_->isChecked(); }

void VentanaPrincipal::ponerNivel(float nivel) {
    medidor_->nivel = nivel;
    medidor_->update();
}

float VentanaPrincipal::nivel() const { return medidor_->nivel; }

void VentanaPrincipal::llenarCanales(const std::vector<Lista::Item>& items, int elegido) {
    canalSel_->llenar(items);
    const QSignalBlocker quieto(canalSel_);
    canalSel_->setCurrentIndex(elegido >= 0 && elegido < canalSel_->count() ? elegido : 0);
}

std::optional<QString> VentanaPrincipal::canal() const { return canalSel_->elegido(); }

void VentanaPrincipal::ponerTituloPantallas(const QString& texto) { pantallasTit_->setText(texto); }

void VentanaPrincipal::ponerCelular(const QString& texto, const QString& boton) {
    celularTxt_->setText(texto);
    celularBoton_->ponerTitulo(boton);
}

QString VentanaPrincipal::celular() const { return celularTxt_->text(); }

void VentanaPrincipal::ponerSesion(bool abierta) { cerrarSesion_->setEnabled(abierta); }

void VentanaPrincipal::ponerSaldo(const QString& texto, Tono tono) {
    saldoTxt_->setText(texto);
    colorear(saldoTxt_, tono == Tono::rojo ? rojoError : tono == Tono::naranja ? naranjaSaldo : colorSecundario());
}

QString VentanaPrincipal::saldo() const { return saldoTxt_->text(); }

bool VentanaPrincipal::botonHabilitado() const { return boton_->isEnabled(); }

std::vector<std::pair<QString, QString>> VentanaPrincipal::items(Menu m) const {
    std::vector<std::pair<QString, QString>> r;
    Lista* lista = menu(m);
    for (int i = 0; i < lista->count(); ++i) {
        const QString id = lista->itemData(i).toString();
        if (!id.isEmpty()) r.emplace_back(lista->itemText(i), id);
    }
    return r;
}

bool VentanaPrincipal::elegir(Menu m, const QString& id) {
    Lista* lista = menu(m);
    const QSignalBlocker quieto(lista);
    lista->elegir(id);
    return lista->elegido() == id;
}

}  // namespace tt
