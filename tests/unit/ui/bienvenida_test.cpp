// The sign-in window and its controls as a user meets them, with the service's answers given by
// hand: what is checked before any request, what is sent, and what each answer shows.
#include "ui/bienvenida.h"
#include "ui/boton_grande.h"
#include "ui/cajas_codigo.h"
#include "ui/campo.h"
#include "ui/campo_clave.h"
#include "ui/vista_reglas.h"

#include "soporte/soporte.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

using namespace tt;

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }

std::vector<bool> cumplidas(const QString& clave) {
    std::vector<bool> r;
    for (const Regla& x : reglasDeClave(clave)) r.push_back(x.cumple);
    return r;
}

// The window with a service that keeps each request and answers when the test says.
struct Banco {
    Bienvenida v;
    std::vector<PedidoCuenta> pedidos;
    std::vector<Bienvenida::Hecho> pendientes;
    int entradas = 0;
    Banco() {
        v.alPedir = [this](const PedidoCuenta& p, Bienvenida::Hecho h) {
            pedidos.push_back(p);
            pendientes.push_back(std::move(h));
        };
        v.alEntrar = [this] { ++entradas; };
        v.show();
    }
    void contestar(std::optional<std::string> error = std::nullopt) {
        auto h = std::move(pendientes.back());
        pendientes.pop_back();
        h(std::move(error));
    }
    QAbstractButton* boton(const char* titulo) {
        for (auto* b : v.findChildren<QAbstractButton*>())
            if (b->isVisible() && b->text() == u(titulo)) return b;
        return nullptr;
    }
    template <class T>
    T* uno() {
        for (auto* w : v.findChildren<T*>())
            if (w->isVisible()) return w;
        return nullptr;
    }
    // Types into the visible field with that placeholder (the password's dotted field too).
    void escribir(const char* indicacion, const QString& texto) {
        for (auto* c : v.findChildren<QLineEdit*>())
            if (c->isVisible() && c->placeholderText() == u(indicacion)) {
                c->setFocus();
                c->selectAll();
                QTest::keyClicks(c, texto);
                return;
            }
        ADD_FAILURE() << "no hay campo " << indicacion;
    }
    void pegar(QWidget* w, const QString& texto) {
        QApplication::clipboard()->setText(texto);
        w->setFocus();
        QTest::keySequence(w, QKeySequence::Paste);
    }
};

}  // namespace

TEST(Reglas, caracteresVisiblesNumeroEspecialYBordes) {
    EXPECT_EQ(cumplidas("        "), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(cumplidas("Piloto#4821"), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(cumplidas("Piloto#4821\t"), (std::vector<bool>{true, true, true, false}));
    // A family emoji is one character on screen, not five code points.
    EXPECT_EQ(cumplidas(u("👨‍👩‍👧1!abcd")), (std::vector<bool>{false, true, true, true}));
    EXPECT_FALSE(claveAceptable({}));
}

TEST(CajasCodigo, pegarTeclearYBorrar) {
    CajasCodigo c;
    std::vector<QString> oidos;
    c.al = [&](const QString& v) { oidos.push_back(v); };
    c.show();
    QTest::keyClick(&c, Qt::Key_Backspace);
    EXPECT_EQ(c.valor(), "");
    QApplication::clipboard()->setText(" 12-34 56 78 ");
    QTest::keySequence(&c, QKeySequence::Paste);
    EXPECT_EQ(c.valor(), "123456");
    QTest::keyClicks(&c, "9");  // a seventh digit changes nothing
    QTest::keyClicks(&c, "x");
    QTest::keyClick(&c, Qt::Key_Backspace);
    EXPECT_EQ(c.valor(), "12345");
    EXPECT_EQ(oidos, (std::vector<QString>{"123456", "12345"}));
}

TEST(CampoClave, mostrarConservaLoEscritoYAvisa) {
    CampoClave c(u("Contraseña"));
    QString oido;
    c.al = [&](const QString& t) { oido = t; };
    c.show();
    auto campo = [&](QLineEdit::EchoMode modo) {
        for (auto* l : c.findChildren<QLineEdit*>())
            if (l->echoMode() == modo) return l;
        return static_cast<QLineEdit*>(nullptr);
    };
    QTest::keyClicks(campo(QLineEdit::Password), "Abc#1");
    c.alternar();
    EXPECT_TRUE(c.visible());
    EXPECT_EQ(c.valor(), "Abc#1");
    QTest::keyClicks(campo(QLineEdit::Normal), "2");
    EXPECT_EQ(oido, "Abc#12");
    c.alternar();
    EXPECT_EQ(c.valor(), "Abc#12");
}

// Creating an account: the address is cleaned before it goes, the button waits for the rules,
// the verify step sends one request for a pasted code and shows the service's own words.
TEST(Bienvenida, crearVerificarYReenviar) {
    Banco b;
    b.v.periodoReenvio = 5;
    b.boton("Crear cuenta")->click();
    ASSERT_EQ(b.v.paso(), "crear");
    b.escribir("tu@correo.com", u("  Ana@Ejemplo.COM\t"));
    b.escribir("Contraseña, mínimo 8 caracteres", u("corta"));
    auto* crear = b.uno<BotonGrande>();
    EXPECT_FALSE(crear->isEnabled());
    b.escribir("Contraseña, mínimo 8 caracteres", u("Piloto#4821"));
    EXPECT_TRUE(crear->isEnabled());
    QTest::keyClick(&b.v, Qt::Key_Return);
    ASSERT_EQ(b.pedidos.size(), 1u);
    EXPECT_EQ(b.pedidos[0].tipo, PedidoCuenta::Tipo::registrar);
    EXPECT_EQ(b.pedidos[0].correo, "ana@ejemplo.com");
    EXPECT_EQ(b.pedidos[0].clave, "Piloto#4821");
    EXPECT_FALSE(crear->isEnabled());
    EXPECT_EQ(b.v.nota(), u("Creando cuenta…"));
    b.contestar();
    ASSERT_EQ(b.v.paso(), "verificar");

    auto* reenviar = b.boton("Reenviar en 50s");
    ASSERT_TRUE(reenviar);
    EXPECT_FALSE(reenviar->isEnabled());
    EXPECT_TRUE(prueba::esperar([&] { return reenviar->text() == u("Reenviar código"); }, 5));
    EXPECT_TRUE(reenviar->isEnabled());

    auto* cajas = b.uno<CajasCodigo>();
    b.pegar(cajas, "12 34-5678");
    ASSERT_EQ(b.pedidos.size(), 2u);
    EXPECT_EQ(b.pedidos[1].tipo, PedidoCuenta::Tipo::verificar);
    EXPECT_EQ(b.pedidos[1].codigo, "123456");
    // While it is in flight, a sixth digit typed again sends nothing.
    QTest::keyClick(cajas, Qt::Key_Backspace);
    QTest::keyClicks(cajas, "6");
    EXPECT_EQ(b.pedidos.size(), 2u);
    b.contestar("<b>Código incorrecto.</b>");
    EXPECT_EQ(b.v.paso(), "verificar");
    EXPECT_EQ(b.v.nota(), "<b>Código incorrecto.</b>");
    EXPECT_TRUE(b.v.notaEnRojo());
    EXPECT_EQ(b.entradas, 0);
    QTest::keyClick(&b.v, Qt::Key_Return);
    ASSERT_EQ(b.pedidos.size(), 3u);
    b.contestar();
    EXPECT_EQ(b.entradas, 1);
}

// What is refused before any request: a bad address, no password, a password of a megabyte, a
// short code; and a reset that goes through.
TEST(Bienvenida, rechazosAntesDePedirYNuevaClave) {
    Banco b;
    b.v.probar("entrar");
    b.escribir("tu@correo.com", u("ana ejemplo.com"));
    b.boton("Iniciar sesión")->click();
    EXPECT_EQ(b.v.nota(), u("Escribe un correo válido."));
    EXPECT_TRUE(b.v.notaEnRojo());
    b.escribir("tu@correo.com", u("ana@ejemplo.com"));
    b.boton("Iniciar sesión")->click();
    EXPECT_EQ(b.v.nota(), u("Escribe tu correo y contraseña."));
    QString mega;
    for (int i = 0; i < 250000; ++i) mega += u("Aa1!");
    auto* clave = b.uno<CampoClave>();
    b.pegar(clave->findChildren<QLineEdit*>()[0], mega);
    b.boton("Iniciar sesión")->click();
    EXPECT_EQ(b.v.nota(), u("La contraseña es demasiado larga: usa como máximo 256 caracteres."));
    EXPECT_TRUE(b.pedidos.empty());

    b.boton("¿Olvidaste tu contraseña?")->click();
    ASSERT_EQ(b.v.paso(), "olvide");
    b.boton("Enviarme el código")->click();
    ASSERT_EQ(b.pedidos.size(), 1u);
    EXPECT_EQ(b.pedidos[0].modo, "recuperar");
    b.contestar();
    ASSERT_EQ(b.v.paso(), "nueva");
    b.pegar(b.uno<CajasCodigo>(), "123");
    b.boton("Cambiar contraseña")->click();
    EXPECT_EQ(b.v.nota(), u("Escribe los 6 dígitos del código."));
    b.pegar(b.uno<CajasCodigo>(), "123456");
    b.escribir("Nueva contraseña", u("sin-numero"));
    b.boton("Cambiar contraseña")->click();
    EXPECT_EQ(b.v.nota(), u("La contraseña no cumple todos los requisitos."));
    b.escribir("Nueva contraseña", u("Nueva#2024"));
    b.boton("Cambiar contraseña")->click();
    ASSERT_EQ(b.pedidos.size(), 2u);
    EXPECT_EQ(b.pedidos[1].tipo, PedidoCuenta::Tipo::restablecer);
    EXPECT_EQ(b.pedidos[1].codigo, "123456");
    EXPECT_EQ(b.pedidos[1].clave, "Nueva#2024");
    b.contestar();
    EXPECT_EQ(b.entradas, 1);
}
