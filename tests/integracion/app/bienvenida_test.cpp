// A new user's account through the real sign-in window against the control service in test mode:
// created with the mailed code, signed out from the phone sheet, signed in again by password; the
// phone sheet's QR code read back by a decoder.
#include "app/app.h"

#include "comun/proceso.h"
#include "cuenta/remoto.h"
#include "cuenta/textos.h"
#include "soporte/control_hijo.h"
#include "soporte/soporte.h"
#include "ui/bienvenida.h"
#include "ui/cajas_codigo.h"
#include "ui/hoja_celular.h"
#include "ui/ventana_principal.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>

namespace tt {
namespace {

using prueba::esperar;
QString u(const char* s) { return QString::fromUtf8(s); }

QAbstractButton* boton(QWidget* en, const char* titulo) {
    for (auto* b : en->findChildren<QAbstractButton*>())
        if (b->isVisible() && b->text() == u(titulo)) return b;
    return nullptr;
}

bool escribir(QWidget* en, const char* indicacion, const QString& texto) {
    for (auto* c : en->findChildren<QLineEdit*>())
        if (c->isVisible() && c->placeholderText() == u(indicacion)) {
            c->setFocus();
            QTest::keyClicks(c, texto);
            return true;
        }
    return false;
}

void pegarCodigo(Bienvenida* v, const std::string& codigo) {
    auto* cajas = v->findChild<CajasCodigo*>();
    ASSERT_TRUE(cajas);
    QApplication::clipboard()->setText(QString::fromStdString(codigo));
    QTest::keySequence(cajas, QKeySequence::Paste);
}

std::string salida(const std::string& orden) {
    std::string r;
    if (FILE* p = popen(orden.c_str(), "r")) {
        char b[512];
        while (std::size_t n = std::fread(b, 1, sizeof b, p)) r.append(b, n);
        pclose(p);
    }
    while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
    return r;
}

TEST(Bienvenida, cuentaNuevaConElCodigoSalirYEntrarConClave) {
    prueba::CarpetaTemporal d;
    prueba::ControlHijo control(d / "servicio", "secreto-de-prueba-1234567890", {"--prueba"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    const Proceso antes = prueba::entornoDeApp(d.ruta(), {{"TM_BIENVENIDA", "1"}, {"TM_CONTROL", control.sitio()}});
    const auto archivo = carpetaDatos() / "remoto.json";
    const std::string correo = "ana.tv+1@prueba.test";
    {
        App app;
        app.lanzado();
        Bienvenida* v = app.bienvenidaAbierta();
        ASSERT_TRUE(v && v->isVisible());
        EXPECT_EQ(app.ventanaPrincipal(), nullptr);

        boton(v, "Crear cuenta")->click();
        ASSERT_TRUE(escribir(v, "tu@correo.com", QString::fromStdString(correo)));
        ASSERT_TRUE(escribir(v, "Contraseña, mínimo 8 caracteres", "Piloto#4821"));
        boton(v, "Crear cuenta")->click();
        ASSERT_TRUE(esperar([&] { return v->paso() == "verificar"; }, 10)) << v->nota().toStdString();

        // The code the service returned in test mode, as the window shows it; first a wrong one.
        const std::string codigo = v->codigoDePrueba().toStdString();
        ASSERT_EQ(codigo, app.cuentaRemota().codigoDePrueba());
        ASSERT_EQ(codigo.size(), 6u);
        std::string otro = codigo;
        otro[0] = otro[0] == '9' ? '0' : char(otro[0] + 1);
        pegarCodigo(v, otro);
        EXPECT_TRUE(esperar([&] { return v->nota() == u("Código incorrecto."); }, 10)) << v->nota().toStdString();
        EXPECT_TRUE(v->notaEnRojo());
        EXPECT_FALSE(std::filesystem::exists(archivo));
        pegarCodigo(v, codigo);
        ASSERT_TRUE(esperar([&] { return app.ventanaPrincipal() && app.ventanaPrincipal()->isVisible(); }, 10))
            << v->nota().toStdString();
        EXPECT_TRUE(esperar([&] { return !app.bienvenidaAbierta(); }, 5));
        ASSERT_TRUE(app.cuentaRemota().cuenta());
        EXPECT_EQ(app.cuentaRemota().cuenta()->correo, correo);
        EXPECT_TRUE(std::filesystem::exists(archivo));

        // The phone sheet's code, read by a decoder, is exactly the phone page's link.
        app.abrirCelular();
        HojaCelular* hoja = app.hojaDelCelular();
        ASSERT_TRUE(hoja && hoja->cuadroQR());
        const auto png = d / "qr.png";
        ASSERT_TRUE(hoja->cuadroQR()->grab().toImage().save(QString::fromStdString(png.string())));
        ASSERT_EQ(std::system("command -v zbarimg >/dev/null"), 0) << "falta zbarimg (paquete zbar-tools)";
        EXPECT_EQ(salida("zbarimg --raw -q " + png.string()), "https://" + control.sitio() + "/#c=" + correo);

        // Signing this computer out from the sheet brings the sign-in window back.
        boton(hoja, "Cerrar sesión en esta computadora")->click();
        ASSERT_TRUE(esperar([&] { return app.bienvenidaAbierta() && app.bienvenidaAbierta()->isVisible(); }, 5));
        EXPECT_FALSE(app.ventanaPrincipal()->isVisible());
        EXPECT_FALSE(std::filesystem::exists(archivo));
        v = app.bienvenidaAbierta();
        boton(v, "Ya tengo cuenta")->click();
        ASSERT_EQ(v->paso(), "entrar");
        ASSERT_TRUE(escribir(v, "tu@correo.com", QString::fromStdString(correo)));
        ASSERT_TRUE(escribir(v, "Contraseña", "Piloto#4821"));
        QTest::keyClick(v, Qt::Key_Return);
        ASSERT_TRUE(esperar([&] { return app.ventanaPrincipal()->isVisible() && !app.bienvenidaAbierta(); }, 10));
        ASSERT_TRUE(app.cuentaRemota().cuenta());
        EXPECT_EQ(app.cuentaRemota().cuenta()->correo, correo);
        app.ventanaPrincipal()->close();
    }
    fijarProceso(antes);
    usarCarpeta(std::nullopt);
    EXPECT_EQ(control.detener(), 0) << control.registro();
}

}  // namespace
}  // namespace tt
