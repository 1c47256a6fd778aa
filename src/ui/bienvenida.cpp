#include "ui/bienvenida.h"

#include "ui/boton_grande.h"
#include "ui/cajas_codigo.h"
#include "ui/campo.h"
#include "ui/campo_clave.h"
#include "ui/sitio_ventana.h"
#include "ui/fuente.h"
#include "ui/isologo.h"
#include "ui/vista_reglas.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tt {

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }
QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }
const QColor rojoError = QColor::fromRgbF(1.0f, 0.4f, 0.42f);
constexpr int anchoCampos = 300;
constexpr int largoMaximoCorreo = 254;
const char* const correoEjemplo = "tu@correo.com";
const char* const sitioLegal = "https://tremolante.app/";

QString sinBordes(QString t) {
    while (!t.isEmpty() && (t.front() == u' ' || t.front() == u'\t')) t.remove(0, 1);
    while (!t.isEmpty() && (t.back() == u' ' || t.back() == u'\t')) t.chop(1);
    return t;
}

}  // namespace

Bienvenida::Bienvenida(QWidget* padre) : QWidget(padre) {
    setWindowTitle(u("Tremolante · Transmitir"));
    setMinimumSize(480, 680);
    ponerEnPantalla(*this, {1240, 746});
    auto* fuera = new QVBoxLayout(this);
    // The form sits 12 points above the middle of the window.
    fuera->setContentsMargins(20, 20, 20, 44);
    fuera->addStretch(1);
    fuera->addStretch(1);
    cuenta_ = new QTimer(this);
    connect(cuenta_, &QTimer::timeout, this, [this] {
        --faltan_;
        pintarReenvio();
        if (faltan_ < 1) cuenta_->stop();
    });
    armar();
}

void Bienvenida::ir(const QString& paso) {
    paso_ = paso;
    codigo_.clear();
    if (paso != "verificar") clave2_.clear();
    armar();
}

void Bienvenida::probar(const QString& paso) {
    correo_ = u("prueba@tremolante.app");
    ir(paso);
}

QString Bienvenida::nota() const { return nota_->text(); }

// ---- Building a step ----

QLabel* Bienvenida::titulo(const char* t) {
    auto* l = etiqueta(u(t), 28, Peso::heavy, Qt::white, hoja_);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignCenter);
    pila_->addWidget(l, 0, Qt::AlignHCenter);
    pila_->addSpacing(8);  // 20 after the title
    return l;
}

QLabel* Bienvenida::texto(const QString& t, double tam) {
    auto* l = etiqueta(t, tam, Peso::regular, colorSecundario(), hoja_);
    l->setTextFormat(Qt::PlainText);  // the typed address goes in some of them
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    pila_->addWidget(l);  // the whole width, so the layout gives it the height of its lines
    return l;
}

QPushButton* Bienvenida::enlace(const char* t, const char* paso) {
    auto* b = new QPushButton(u(t), hoja_);
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setFont(fuente(13, Peso::semibold));
    b->setStyleSheet("QPushButton { border: none; background: transparent; color: rgba(255,255,255,140); padding: 2px; }"
                     "QPushButton:hover { color: rgba(255,255,255,220); }"
                     "QPushButton:disabled { color: rgba(255,255,255,64); }");
    if (paso) {
        const QString destino = u(paso);
        connect(b, &QPushButton::clicked, this, [this, destino] {
            if (!ocupado_) ir(destino);
        });
    }
    pila_->addWidget(b, 0, Qt::AlignHCenter);
    return b;
}

void Bienvenida::campoCorreo() {
    auto* c = new Campo(correo_, u(correoEjemplo), hoja_);
    c->setFixedWidth(anchoCampos);
    c->setFixedHeight(34);
    c->setMaxLength(1024);
    c->al = [this](const QString& t) { correo_ = t; };
    pila_->addWidget(c, 0, Qt::AlignHCenter);
    if (!primero_) primero_ = c;
}

void Bienvenida::principal(const char* t, std::function<void()> al) {
    principal_ = new BotonGrande(u(t), false, hoja_);
    principal_->al = std::move(al);
    pila_->addWidget(principal_, 0, Qt::AlignHCenter);
}

void Bienvenida::armar() {
    if (hoja_) {
        hoja_->hide();
        hoja_->deleteLater();  // its button may be the one being clicked
    }
    principal_ = nullptr;
    reglas_ = nullptr;
    reenviar_ = nullptr;
    primero_ = nullptr;
    hoja_ = new QWidget(this);
    hoja_->setFixedWidth(340);
    pila_ = new QVBoxLayout(hoja_);
    pila_->setContentsMargins(0, 0, 0, 0);
    pila_->setSpacing(12);
    pila_->addWidget(new Isologo(hoja_), 0, Qt::AlignHCenter);
    pila_->addSpacing(10);  // 22 after the logo
    nota_ = etiqueta({}, 12.5, Peso::medium, colorSecundario(), hoja_);
    nota_->setTextFormat(Qt::PlainText);  // the service's words are shown, never interpreted
    nota_->setAlignment(Qt::AlignCenter);
    nota_->setWordWrap(true);
    nota_->setMaximumHeight(QFontMetrics(nota_->font()).lineSpacing() * 3 + 2);

    prueba_ = nullptr;
    auto codigo = [this] {
        auto* c = new CajasCodigo(hoja_);
        pila_->addWidget(c, 0, Qt::AlignHCenter);
        if (!primero_) primero_ = c;
        prueba_ = etiqueta({}, 12.5, Peso::semibold, colorSecundario(), hoja_);
        prueba_->setAlignment(Qt::AlignCenter);
        pila_->addWidget(prueba_);
        ponerCodigoDePrueba(codigoPrueba_);
        return c;
    };
    auto clave = [this](const char* indicacion, QString* destino) {
        auto* c = new CampoClave(u(indicacion), hoja_);
        c->setFixedWidth(anchoCampos);
        c->poner(*destino);
        pila_->addWidget(c, 0, Qt::AlignHCenter);
        if (!primero_) primero_ = c;
        return c;
    };

    if (paso_ == "inicio") {
        titulo("Tremolante Transmitir");
        texto(u("Transmite a Kick con tus pantallas de inicio, pausa y despedida, y contrólalas desde la "
                "computadora o desde tu celular."),
              14.5);
        principal("Crear cuenta", [this] { ir("crear"); });
        auto* ya = new BotonGrande(u("Ya tengo cuenta"), true, hoja_);
        ya->al = [this] { ir("entrar"); };
        pila_->addWidget(ya, 0, Qt::AlignHCenter);
    } else if (paso_ == "crear") {
        titulo("Crea tu cuenta");
        campoCorreo();
        primero_->setFixedWidth(anchoCampos - 4);
        auto* c = clave("Contraseña, mínimo 8 caracteres", &clave_);
        c->setFixedWidth(anchoCampos - 4);
        reglas_ = new VistaReglas(hoja_);
        reglas_->setFixedWidth(anchoCampos - 4);
        reglas_->poner(clave_);
        pila_->addWidget(reglas_, 0, Qt::AlignHCenter);
        principal("Crear cuenta", [this] { crear(); });
        principal_->setFixedWidth(anchoCampos - 4);
        principal_->setEnabled(claveAceptable(clave_));
        c->al = [this](const QString& t) {
            clave_ = t;
            reglas_->poner(t);
            if (!ocupado_) principal_->setEnabled(claveAceptable(t));
        };
        auto* legal = etiqueta({}, 11.5, Peso::regular, colorSecundario(), hoja_);
        legal->setTextFormat(Qt::RichText);
        legal->setText(QString("Al crear tu cuenta aceptas los <a style=\"color:#fff\" href=\"%1terminos\">Términos</a> y "
                               "el <a style=\"color:#fff\" href=\"%1privacidad\">Aviso de Privacidad</a>")
                           .arg(u(sitioLegal)));
        legal->setTextInteractionFlags(Qt::TextBrowserInteraction);
        legal->setOpenExternalLinks(true);
        legal->setAlignment(Qt::AlignCenter);
        legal->setWordWrap(true);
        pila_->addWidget(legal);
        enlace("¿Ya tienes cuenta? Inicia sesión", "entrar");
    } else if (paso_ == "verificar") {
        titulo("Confirma tu correo");
        texto(u("Te enviamos un código de 6 dígitos a ") + correo_ +
              u(". Revisa tu bandeja de entrada; si no aparece, busca en la carpeta de spam."));
        auto* c = codigo();
        c->al = [this](const QString& v) {
            codigo_ = v;
            if (v.size() == 6 && !ocupado_) verificarCodigo(PedidoCuenta::Tipo::verificar);
        };
        principal("Verificar y continuar", [this] { verificarCodigo(PedidoCuenta::Tipo::verificar); });
        reenviar_ = enlace("Reenviar código", nullptr);
        connect(reenviar_, &QPushButton::clicked, this, &Bienvenida::reenviar);
        enlace("Usar otro correo", "crear");
        contar();
    } else if (paso_ == "entrar") {
        titulo("Inicia sesión");
        campoCorreo();
        auto* c = clave("Contraseña", &clave2_);
        c->al = [this](const QString& t) { clave2_ = t; };
        principal("Iniciar sesión", [this] { conClave(); });
        enlace("Entrar con un código", "pedir");
        enlace("¿Olvidaste tu contraseña?", "olvide");
        enlace("¿Es tu primera vez? Crea una cuenta", "crear");
    } else if (paso_ == "pedir" || paso_ == "olvide") {
        const bool recuperar = paso_ == "olvide";
        titulo(recuperar ? "Recuperar contraseña" : "Entra con un código");
        texto(recuperar ? u("Te enviaremos un código de 6 dígitos a tu correo para que crees una nueva contraseña.")
                        : u("Te enviamos un código de 6 dígitos a tu correo."));
        campoCorreo();
        principal(recuperar ? "Enviarme el código" : "Enviarme un código", [this, recuperar] { mandarCodigo(recuperar); });
        enlace(recuperar ? "Volver a iniciar sesión" : "Prefiero usar mi contraseña", "entrar");
    } else if (paso_ == "codigo") {
        titulo("Revisa tu correo");
        texto(u("Te enviamos un código de 6 dígitos a ") + correo_ +
              u(". Revisa tu bandeja de entrada y la carpeta de spam."));
        auto* c = codigo();
        c->al = [this](const QString& v) {
            codigo_ = v;
            if (v.size() == 6 && !ocupado_) verificarCodigo(PedidoCuenta::Tipo::entrar);
        };
        principal("Entrar", [this] { verificarCodigo(PedidoCuenta::Tipo::entrar); });
        enlace("Cambiar correo o reenviar", "pedir");
    } else {
        titulo("Nueva contraseña");
        texto(u("Escribe el código que llegó a ") + correo_ +
              u(" y crea una contraseña. Se cerrará la sesión en los demás dispositivos."));
        auto* cajas = codigo();
        cajas->al = [this](const QString& v) { codigo_ = v; };
        auto* c = clave("Nueva contraseña", &clave2_);
        reglas_ = new VistaReglas(hoja_);
        reglas_->setFixedWidth(anchoCampos - 4);
        pila_->addWidget(reglas_, 0, Qt::AlignHCenter);
        c->al = [this](const QString& t) {
            clave2_ = t;
            reglas_->poner(t);
        };
        principal("Cambiar contraseña", [this] { nuevaClave(); });
        enlace("Solicitar un código nuevo", "olvide");
    }
    pila_->addWidget(nota_);
    decir({}, false);
    static_cast<QVBoxLayout*>(layout())->insertWidget(1, hoja_, 0, Qt::AlignHCenter);
    hoja_->show();
    if (auto* c = qobject_cast<CampoClave*>(primero_)) c->enfocar();
    else if (primero_) primero_->setFocus();
}

void Bienvenida::keyPressEvent(QKeyEvent* e) {
    const bool intro = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (intro && paso_ != "inicio" && principal_ && principal_->isEnabled()) {
        principal_->click();
        return;
    }
    QWidget::keyPressEvent(e);
}

// ---- State of a request ----

void Bienvenida::decir(const QString& t, bool error) {
    rojo_ = error;
    nota_->setText(t);
    QPalette p = nota_->palette();
    p.setColor(QPalette::WindowText, error ? rojoError : colorSecundario());
    nota_->setPalette(p);
    // Wrapped texts need the height of their lines at this width, not of their preferred shape.
    pila_->invalidate();
    hoja_->setFixedHeight(pila_->hasHeightForWidth() ? pila_->totalHeightForWidth(hoja_->width())
                                                     : pila_->totalSizeHint().height());
}

void Bienvenida::ocupar(const char* t) {
    ocupado_ = true;
    if (principal_) principal_->setEnabled(false);
    decir(u(t), false);
}

void Bienvenida::soltar() {
    ocupado_ = false;
    if (principal_) principal_->setEnabled(true);
}

void Bienvenida::terminar(std::optional<std::string> error) {
    soltar();
    if (error) {
        decir(q(*error), true);
        return;
    }
    cuenta_->stop();
    clave_.clear();
    clave2_.clear();
    if (alEntrar) alEntrar();
}

bool Bienvenida::correoListo() {
    correo_ = sinBordes(correo_).toLower();
    if (auto* c = qobject_cast<Campo*>(primero_)) c->poner(correo_);
    bool bien = correo_.contains(u'@') && correo_.contains(u'.') && correo_.size() <= largoMaximoCorreo;
    for (QChar c : correo_) bien = bien && !c.isSpace();
    if (!bien) decir(u("Escribe un correo válido."), true);
    return bien;
}

bool Bienvenida::claveLarga(const QString& clave) {
    if (clave.size() <= kLargoMaximoClave) return false;
    decir(u("La contraseña es demasiado larga: usa como máximo %1 caracteres.").arg(kLargoMaximoClave), true);
    return true;
}

void Bienvenida::pedir(PedidoCuenta p, std::function<void(std::optional<std::string>)> luego) {
    if (!alPedir) {
        luego("No hay conexión con el servicio. Revisa el internet.");
        return;
    }
    QPointer<Bienvenida> yo = this;
    alPedir(p, [yo, luego = std::move(luego)](std::optional<std::string> error) {
        if (yo) luego(std::move(error));
    });
}

// ---- The steps' actions ----

void Bienvenida::crear() {
    if (ocupado_ || !correoListo()) return;
    if (!claveAceptable(clave_)) {
        decir(u("Tu contraseña no cumple todos los requisitos."), true);
        return;
    }
    if (claveLarga(clave_)) return;
    ocupar("Creando cuenta…");
    pedir({PedidoCuenta::Tipo::registrar, s(correo_), s(clave_), {}, {}}, [this](std::optional<std::string> e) {
        ocupado_ = false;
        if (e) {
            soltar();
            decir(q(*e), true);
            return;
        }
        paso_ = "verificar";
        codigo_.clear();
        armar();
    });
}

void Bienvenida::conClave() {
    if (ocupado_ || !correoListo()) return;
    if (clave2_.isEmpty()) {
        decir(u("Escribe tu correo y contraseña."), true);
        return;
    }
    if (claveLarga(clave2_)) return;
    ocupar("Iniciando sesión…");
    pedir({PedidoCuenta::Tipo::entrarConClave, s(correo_), s(clave2_), {}, {}},
          [this](std::optional<std::string> e) { terminar(std::move(e)); });
}

void Bienvenida::mandarCodigo(bool recuperar) {
    if (ocupado_ || !correoListo()) return;
    ocupar("Enviando código…");
    pedir({PedidoCuenta::Tipo::pedirCodigo, s(correo_), {}, {}, recuperar ? "recuperar" : "entrar"},
          [this, recuperar](std::optional<std::string> e) {
              soltar();
              if (e) decir(q(*e), true);
              else ir(recuperar ? "nueva" : "codigo");
          });
}

void Bienvenida::verificarCodigo(PedidoCuenta::Tipo tipo) {
    if (ocupado_) return;
    if (codigo_.size() != 6) {
        decir(u("Escribe los 6 dígitos del código."), true);
        return;
    }
    ocupar("Verificando…");
    pedir({tipo, s(correo_), {}, s(codigo_), {}}, [this](std::optional<std::string> e) { terminar(std::move(e)); });
}

void Bienvenida::nuevaClave() {
    if (ocupado_) return;
    if (codigo_.size() != 6) {
        decir(u("Escribe los 6 dígitos del código."), true);
        return;
    }
    if (!claveAceptable(clave2_)) {
        decir(u("La contraseña no cumple todos los requisitos."), true);
        return;
    }
    if (claveLarga(clave2_)) return;
    ocupar("Actualizando…");
    pedir({PedidoCuenta::Tipo::restablecer, s(correo_), s(clave2_), s(codigo_), {}},
          [this](std::optional<std::string> e) { terminar(std::move(e)); });
}

void Bienvenida::ponerCodigoDePrueba(const QString& codigo) {
    codigoPrueba_ = codigo;
    if (!prueba_) return;
    prueba_->setText(codigo.isEmpty() ? QString() : u("Código de prueba: ") + codigo);
    prueba_->setVisible(!codigo.isEmpty());
}

QString Bienvenida::codigoDePrueba() const { return prueba_ && prueba_->isVisible() ? codigoPrueba_ : QString(); }

void Bienvenida::reenviar() {
    if (ocupado_) return;
    ocupar("Enviando…");
    pedir({PedidoCuenta::Tipo::registrar, s(correo_), s(clave_), {}, {}}, [this](std::optional<std::string> e) {
        soltar();
        if (e) {
            decir(q(*e), true);
            return;
        }
        decir(u("Te enviamos otro código."), false);
        contar();
    });
}

void Bienvenida::contar() {
    cuenta_->stop();
    faltan_ = 50;
    pintarReenvio();
    cuenta_->start(periodoReenvio);
}

void Bienvenida::pintarReenvio() {
    if (!reenviar_) return;
    reenviar_->setText(faltan_ < 1 ? u("Reenviar código") : u("Reenviar en %1s").arg(faltan_));
    reenviar_->setEnabled(faltan_ < 1);
}

}  // namespace tt
