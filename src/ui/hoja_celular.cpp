#include "ui/hoja_celular.h"

#include "ui/atajos.h"
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/fuente.h"
#include "ui/pregunta.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <cctype>

namespace tt {

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }
QString q(const std::string& s) { return QString::fromStdString(s); }
const QColor rojoError = QColor::fromRgbF(1.0f, 0.4f, 0.42f);
constexpr int anchoCampos = 300;

// The code on a white rounded square, so a phone's camera finds its edges on the dark sheet.
class CuadroQR : public QWidget {
public:
    CuadroQR(QImage qr, QWidget* padre) : QWidget(padre), qr_(std::move(qr)) { setFixedSize(264, 264); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(rect(), 18, 18);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(QRectF(16, 16, 232, 232), qr_);
    }

private:
    QImage qr_;
};

std::string limpio(const std::string& t) {
    const auto a = t.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return t.substr(a, t.find_last_not_of(" \t") - a + 1);
}

}  // namespace

HojaCelular::HojaCelular(std::optional<std::string> correo, std::string sitio, QImage qr, QWidget* sobre)
    : QDialog(sobre), cuenta_(std::move(correo)), sitio_(std::move(sitio)), qr_(std::move(qr)) {
    setWindowTitle(u("Celular"));
    cerrarConTeclas(*this);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumWidth(420);
    auto* fuera = new QVBoxLayout(this);
    fuera->setContentsMargins(30, 24, 30, 22);
    fuera->setSizeConstraint(QLayout::SetFixedSize);
    armar();
}

void HojaCelular::armar() {
    if (cuerpo_) {
        cuerpo_->hide();
        cuerpo_->deleteLater();  // its button may be the one being clicked
    }
    borrar_ = nullptr;
    cuadro_ = nullptr;
    cuerpo_ = new QWidget(this);
    cuerpo_->setFixedWidth(360);
    auto* pila = new QVBoxLayout(cuerpo_);
    pila->setContentsMargins(0, 0, 0, 0);
    pila->setSpacing(14);
    auto centrar = [pila](QWidget* w) { pila->addWidget(w, 0, Qt::AlignHCenter); };
    auto texto = [this, pila](const QString& t) {
        auto* l = etiqueta(t, 13, Peso::regular, colorSecundario(), cuerpo_);
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignCenter);
        pila->addWidget(l);  // the whole width, so the layout gives it the height of its lines
    };
    auto titulo = [this, &centrar](const char* t) {
        auto* l = etiqueta(u(t), 18, Peso::heavy, Qt::white, cuerpo_);
        centrar(l);
    };
    linea_ = etiqueta({}, 12.5, Peso::medium, colorSecundario(), cuerpo_);
    linea_->setTextFormat(Qt::PlainText);
    nota_ = etiqueta({}, 12.5, Peso::medium, colorSecundario(), cuerpo_);
    nota_->setTextFormat(Qt::PlainText);  // the service's words, never markup
    nota_->setWordWrap(true);
    nota_->setAlignment(Qt::AlignCenter);
    nota_->setMaximumHeight(QFontMetrics(nota_->font()).lineSpacing() * 3 + 2);
    QWidget* primero = nullptr;

    if (cuenta_) {
        titulo("Abre la app en tu celular");
        cuadro_ = new CuadroQR(qr_, cuerpo_);
        centrar(cuadro_);
        texto(u("Apunta la cámara del teléfono a este código: abre ") + q(sitio_) +
              u(" con tu correo ya puesto. Entra con tu contraseña y desde ahí transmites, detienes y cambias de "
                "pantalla."));
        centrar(linea_);
        borrar_ = new Boton(u("Sacar a los celulares"), "sin-celular", cuerpo_);
        borrar_->setFixedWidth(anchoCampos);
        borrar_->al = [this] { preguntarDesvincular(); };
        centrar(borrar_);
        auto* salir = new Boton(u("Cerrar sesión en esta computadora"), {}, cuerpo_);
        salir->setFixedWidth(anchoCampos);
        salir->al = [this] {
            auto f = alSalir;  // the sheet ends first, then the account goes
            reject();
            if (f) f();
        };
        centrar(salir);
    } else if (!pideCodigo_) {
        titulo("Inicia sesión");
        texto(u("Con tu cuenta controlas las pantallas desde cualquier celular: entra con el mismo correo en ") +
              q(sitio_) + u(". Te mandamos un código, sin contraseñas."));
        auto* c = new Campo(q(correo_), u("tu@correo.com"), cuerpo_);
        c->setFixedWidth(anchoCampos);
        c->setMaxLength(1024);
        c->al = [this](const QString& t) { correo_ = t.toStdString(); };
        centrar(c);
        auto* enviar = new Boton(u("Enviarme un código"), {}, cuerpo_);
        enviar->setFixedWidth(anchoCampos);
        enviar->al = [this] { mandarCodigo(); };
        centrar(enviar);
        primero = c;
    } else {
        titulo("Inicia sesión");
        auto* c = new Campo({}, u("Código de 6 dígitos"), cuerpo_);
        c->setFixedWidth(anchoCampos);
        c->setMaxLength(64);
        c->al = [this](const QString& t) { codigo_ = t.toStdString(); };
        centrar(c);
        auto* entrar = new Boton(u("Entrar"), {}, cuerpo_);
        entrar->setFixedWidth(anchoCampos);
        entrar->al = [this] { entrarConCodigo(); };
        centrar(entrar);
        auto* otro = new Boton(u("Usar otro correo"), {}, cuerpo_);
        otro->setFixedWidth(anchoCampos);
        otro->al = [this] {
            pideCodigo_ = false;
            codigo_.clear();
            armar();
        };
        centrar(otro);
        primero = c;
    }
    pila->addWidget(nota_);
    auto* cerrar = new Boton(cuenta_ ? u("Cerrar") : u("Cancelar"), {}, cuerpo_);
    cerrar->al = [this] { reject(); };  // Escape does the same
    centrar(cerrar);
    layout()->addWidget(cuerpo_);
    decir({}, false);
    cuerpo_->show();
    if (primero) primero->setFocus();
}

// Wrapped texts need the height of their lines at this width, not of their preferred shape.
void HojaCelular::ajustar() {
    QLayout* l = cuerpo_->layout();
    l->invalidate();
    cuerpo_->setFixedHeight(l->hasHeightForWidth() ? l->totalHeightForWidth(cuerpo_->width()) : l->totalSizeHint().height());
}

void HojaCelular::pintar(const QString& linea, bool hayCelulares) {
    linea_->setText(linea);
    if (borrar_) borrar_->setVisible(hayCelulares);
    ajustar();
}

QString HojaCelular::nota() const { return nota_->text(); }

void HojaCelular::decir(const QString& t, bool error) {
    rojo_ = error;
    nota_->setText(t);
    QPalette p = nota_->palette();
    p.setColor(QPalette::WindowText, error ? rojoError : colorSecundario());
    nota_->setPalette(p);
    ajustar();
}

void HojaCelular::mandarCodigo() {
    std::string c = limpio(correo_);
    for (char& ch : c) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    correo_ = c;
    if (c.find('@') == std::string::npos || c.find('.') == std::string::npos || c.size() > 254) {
        decir(u("Escribe un correo válido."), true);
        return;
    }
    decir(u("Enviando…"), false);
    if (!alPedirCodigo) return;
    QPointer<HojaCelular> yo = this;
    alPedirCodigo(c, [yo, c](std::optional<std::string> error) {
        if (!yo) return;
        if (error) {
            yo->decir(q(*error), true);
            return;
        }
        yo->pideCodigo_ = true;
        yo->armar();
        yo->decir(u("Te enviamos un código a ") + q(c) + u(". Revisa también no deseados."), false);
    });
}

void HojaCelular::entrarConCodigo() {
    std::string digitos;
    for (char ch : codigo_)
        if (ch >= '0' && ch <= '9') digitos += ch;
    if (digitos.size() != 6) {
        decir(u("El código tiene 6 dígitos."), true);
        return;
    }
    decir(u("Entrando…"), false);
    if (!alEntrar) return;
    QPointer<HojaCelular> yo = this;
    alEntrar(correo_, digitos, [yo](std::optional<std::string> error) {
        if (!yo) return;
        if (error) {
            yo->decir(q(*error), true);
            return;
        }
        yo->reabrir_ = true;  // the owner opens it again, signed in
        yo->accept();
    });
}

void HojaCelular::preguntarDesvincular() {
    QPointer<HojaCelular> yo = this;
    preguntar(this,
              {u("¿Cerrar la sesión en todos los celulares?"),
               u("Dejan de poder cambiar pantallas hasta que vuelvan a entrar."),
               {u("Cancelar"), u("Cerrar sus sesiones")}, 0, 1, 0},
              [yo](std::optional<int> r) {
                  if (yo && r == 1 && yo->alDesvincular) yo->alDesvincular();
              });
}

void HojaCelular::done(int r) {
    QDialog::done(r);
    if (alCerrar) {
        auto f = std::move(alCerrar);
        alCerrar = nullptr;
        f(reabrir_);
    }
}

}  // namespace tt
