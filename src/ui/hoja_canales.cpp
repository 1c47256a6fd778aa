#include "ui/hoja_canales.h"

#include "channels/canales.h"
#include "channels/formulario.h"
#include "ui/atajos.h"
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/campo_secreto.h"
#include "ui/fuente.h"
#include "ui/marca.h"
#include "ui/pregunta.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace tt {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
const QColor rojoError = QColor::fromRgbF(1.0f, 0.4f, 0.42f);
const char* const notaComun =
    "La URL del servidor y la clave salen del panel de creador de Kick (Configuración → Stream). Si Kick te "
    "cambia la clave, ponla aquí otra vez. Cada canal tiene sus propias pantallas y se queda solo en esta "
    "computadora.";

QLabel* rotulo(const char* texto, QWidget* padre) {
    return etiqueta(QString::fromUtf8(texto), 12, Peso::semibold, colorSecundario(), padre);
}

}  // namespace

HojaCanales::HojaCanales(Canales& canales, std::optional<std::string> elegido, QWidget* sobre)
    : QDialog(sobre), canales(canales) {
    setWindowTitle("Canales");
    cerrarConTeclas(*this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedWidth(680);

    auto* cuerpo = new QVBoxLayout(this);
    cuerpo->setContentsMargins(22, 20, 22, 18);
    cuerpo->setSpacing(14);
    titulo = etiqueta({}, 16, Peso::heavy, Qt::white, this);
    titulo->setTextFormat(Qt::PlainText);
    cuerpo->addWidget(titulo);

    auto* medio = new QHBoxLayout();
    medio->setSpacing(18);
    auto* izquierda = new QVBoxLayout();
    izquierda->addWidget(rotulo("Canales", this));
    lista = new QListWidget(this);
    lista->setFixedWidth(190);
    // Rows a finger's height, the chosen one a rounded light fill rather than the system blue.
    lista->setFont(fuente(13, Peso::medium));
    lista->setStyleSheet(
        "QListWidget { background: rgba(255,255,255,10); border: 1px solid rgba(255,255,255,20); border-radius: 10px;"
        " padding: 4px; outline: 0; }"
        "QListWidget::item { padding: 8px 10px; border-radius: 7px; color: white; }"
        "QListWidget::item:hover:!selected { background: rgba(255,255,255,14); }"
        "QListWidget::item:selected { background: rgba(255,255,255,40); color: white; }"
        "QListWidget:focus { border: 1px solid rgb(10,132,255); }");
    izquierda->addWidget(lista, 1);
    medio->addLayout(izquierda);

    auto* forma = new QVBoxLayout();
    forma->setSpacing(6);
    nombre = new Campo({}, "Como se llama el canal en Kick", this);
    servidor = new Campo({}, q(Canal::servidorKick), this);
    claveOculta = new CampoSecreto(QString::fromUtf8("sk_us-west-2_…"), this);
    claveVista = new Campo({}, QString::fromUtf8("sk_us-west-2_…"), this);
    auto* claves = new QWidget(this);
    auto* pila = new QStackedLayout(claves);
    pila->addWidget(claveOculta);
    pila->addWidget(claveVista);
    ver = new Marca("Ver la clave", false, this);
    ver->al = [this, pila](bool si) {
        // The two fields hold the same key: the one shown takes what the other had.
        if (si) claveVista->poner(claveOculta->text());
        else claveOculta->setText(claveVista->text());
        pila->setCurrentIndex(si ? 1 : 0);
    };
    forma->addWidget(rotulo("Nombre del canal", this));
    forma->addWidget(nombre);
    forma->addSpacing(6);
    forma->addWidget(rotulo("URL del servidor", this));
    forma->addWidget(servidor);
    forma->addSpacing(6);
    forma->addWidget(rotulo("Clave de transmisión", this));
    forma->addWidget(claves);
    forma->addWidget(ver);
    nota_ = etiqueta({}, 12, Peso::regular, colorSecundario(), this);
    nota_->setTextFormat(Qt::PlainText);
    nota_->setWordWrap(true);
    forma->addWidget(nota_);
    anteriores = new QComboBox(this);
    forma->addWidget(anteriores);
    forma->addStretch(1);
    medio->addLayout(forma, 1);
    cuerpo->addLayout(medio, 1);

    auto* botones = new QHBoxLayout();
    eliminarBoton = new Boton("Eliminar", "papelera", this);
    eliminarBoton->tinta = rojoError;
    eliminarBoton->al = [this] { preguntarEliminar(); };
    guardarBoton = new Boton("Guardar canal", {}, this);
    guardarBoton->al = [this] { guardar(); };
    auto* cerrar = new Boton("Cerrar", {}, this);
    cerrar->al = [this] { accept(); };
    botones->addWidget(eliminarBoton);
    botones->addStretch(1);
    botones->addWidget(cerrar);
    botones->addWidget(guardarBoton);
    cuerpo->addLayout(botones);
    // A red note is about what was typed: it goes once the user types again.
    for (QLineEdit* c : std::initializer_list<QLineEdit*>{nombre, servidor, claveOculta, claveVista})
        connect(c, &QLineEdit::textEdited, this, [this] {
            if (rojo) decir(QString::fromUtf8(notaComun), false);
        });
    // Return saves, wherever the keyboard is in the form.
    for (Boton* b : {eliminarBoton, cerrar}) b->setAutoDefault(false);
    guardarBoton->setDefault(true);

    connect(lista, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const QString id = item->data(Qt::UserRole).toString();
        mostrar(id.isEmpty() ? std::nullopt : std::optional(id.toStdString()));
    });
    connect(anteriores, &QComboBox::activated, this, [this](int i) {
        const QString id = anteriores->itemData(i).toString();
        for (const Canal& c : this->canales.anteriores)
            if (q(c.id) == id) {
                actual = c;
                nombre->poner(q(c.nombre));
                servidor->poner(q(c.servidor));
                claveOculta->setText(q(c.clave));
                claveVista->poner(q(c.clave));
                decir(q(notaAnterior(c)), false);
            }
        anteriores->setCurrentIndex(0);
    });
    mostrar(elegido);
    nombre->setFocus();  // typing goes to the form, not to the list
}

void HojaCanales::mostrar(const std::optional<std::string>& id) {
    std::optional<Canal> c;
    if (id) c = canales[*id];
    nuevo = !c;
    actual = c ? *c : Canal::nuevo();
    titulo->setText(nuevo ? QString("Canal nuevo") : q(actual.nombre));
    nombre->poner(q(actual.nombre));
    servidor->poner(nuevo ? QString() : q(actual.servidor));
    claveOculta->setText(q(actual.clave));
    claveVista->poner(q(actual.clave));
    eliminarBoton->setVisible(!nuevo);
    decir(QString::fromUtf8(notaComun), false);
    pintarLista();
    pintarAnteriores();
}

void HojaCanales::pintarLista() {
    lista->clear();
    for (const Canal& c : canales.lista) {
        auto* item = new QListWidgetItem(q(c.nombre), lista);
        item->setData(Qt::UserRole, q(c.id));
        if (!nuevo && c.id == actual.id) lista->setCurrentItem(item);
    }
    auto* mas = new QListWidgetItem(QString::fromUtf8("+  Agregar canal"), lista);
    mas->setData(Qt::UserRole, QString());
    if (nuevo) lista->setCurrentItem(mas);
}

void HojaCanales::pintarAnteriores() {
    anteriores->clear();
    const auto libres = anterioresLibres(canales);
    anteriores->setVisible(nuevo && !libres.empty());
    anteriores->addItem(QString::fromUtf8("Usar un canal que ya tenías en esta computadora…"));
    for (const Canal& c : libres) anteriores->addItem(q(c.nombre), q(c.id));
}

Canal HojaCanales::formulario() const {
    Canal c = actual;
    c.nombre = nombre->text().toStdString();
    c.servidor = servidor->text().toStdString();
    c.clave = (ver->isChecked() ? claveVista->text() : claveOculta->text()).toStdString();
    return c;
}

QString HojaCanales::nota() const { return nota_->text(); }

void HojaCanales::decir(const QString& texto, bool error) {
    rojo = error;
    nota_->setText(texto);
    QPalette p = nota_->palette();
    p.setColor(QPalette::WindowText, error ? QColor(rojoError) : colorSecundario());
    nota_->setPalette(p);
}

bool HojaCanales::guardar() {
    const ResultadoCanal r = guardarActual(canales, formulario(), true);
    decir(q(r.nota), r.error);
    if (!r.guardado) return false;
    actual = r.canal;
    nuevo = false;
    elegir_ = actual.id;
    titulo->setText(q(actual.nombre));
    eliminarBoton->setVisible(true);
    anteriores->setVisible(false);
    pintarLista();
    return true;
}

void HojaCanales::preguntarEliminar() {
    if (nuevo) return;
    QPointer<HojaCanales> yo = this;
    preguntar(this, {q(preguntaEliminar(actual)), QString::fromUtf8(explicacionEliminar), {"Cancelar", "Eliminar"}, 0, 1, 0},
              [yo, this](std::optional<int> r) {
        if (!yo || r != 1) return;
        const std::string id = actual.id;
        canales.eliminar(id);
        if (elegir_ == id) elegir_.reset();
        mostrar(canales.lista.empty() ? std::nullopt : std::optional(canales.lista.front().id));
    });
}

void HojaCanales::done(int r) {
    QDialog::done(r);
    if (alCerrar) {
        auto f = std::move(alCerrar);
        alCerrar = nullptr;
        // The channel the sheet shows when it closes, if it was saved; else the last one saved.
        std::optional<std::string> id = elegir_;
        if (!nuevo && canales[actual.id]) id = actual.id;
        if (id && !canales[*id]) id.reset();
        f(id);
    }
}

}  // namespace tt
