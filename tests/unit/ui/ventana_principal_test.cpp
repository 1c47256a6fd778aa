#include "ui/ventana_principal.h"

#include "ui/casilla.h"
#include "ui/lista.h"
#include "ui/pildora.h"
#include "ui/renglon.h"
#include "ui/vista_previa.h"

#include "soporte/soporte.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace tt;

namespace {
// A widget's rectangle in the window's coordinates.
QRect enVentana(const QWidget* w, const QWidget* ventana) {
    return QRect(w->mapTo(ventana, QPoint(0, 0)), w->size());
}
}  // namespace

TEST(VentanaPrincipal, oscuraConSusTresMenus) {
    VentanaPrincipal v;
    EXPECT_EQ(v.windowTitle(), QString::fromUtf8("Tremolante · Transmitir"));
    EXPECT_EQ(v.size(), QSize(1240, 746));  // the screen has room for it
    QImage foto = v.grab().toImage();
    EXPECT_LT(QColor(foto.pixel(600, 300)).lightness(), 20);
    EXPECT_EQ(v.insignia(), "Sin transmitir");

    QStringList menus, atajos;
    QAction *salir = nullptr, *sesion = nullptr;
    for (QAction* m : v.menuBar()->actions()) {
        menus << m->text();
        for (QAction* a : m->menu()->actions()) {
            if (a->isSeparator()) continue;
            atajos << a->text() + "=" + a->shortcut().toString();
            if (a->text() == "Salir") salir = a;
            if (a->text() == QString::fromUtf8("Cerrar sesión…")) sesion = a;
        }
    }
    EXPECT_EQ(menus, QStringList({"Tremolante", QString::fromUtf8("Edición"), "Ventana"}));
    EXPECT_TRUE(atajos.contains("Seleccionar todo=Ctrl+A"));
    EXPECT_TRUE(atajos.contains("Cerrar=Ctrl+W"));
    EXPECT_TRUE(atajos.contains(QString::fromUtf8("Acerca de Tremolante Transmitir=")));
    EXPECT_EQ(atajos.size(), 11);
    // Quitting and signing out are the application's decisions: the window only asks, and offers
    // to sign out only while signed in.
    ASSERT_NE(salir, nullptr);
    ASSERT_NE(sesion, nullptr);
    int pedidos = 0;
    QObject::connect(&v, &VentanaPrincipal::salirPedido, [&] { ++pedidos; });
    QObject::connect(&v, &VentanaPrincipal::cerrarSesionPedido, [&] { pedidos += 10; });
    salir->trigger();
    v.ponerSesion(false);
    EXPECT_FALSE(sesion->isEnabled());
    v.ponerSesion(true);
    sesion->trigger();
    EXPECT_EQ(pedidos, 11);

    // Where the user left it, at the same size.
    QSettings().setValue("principal-fija", QPoint(33, 57));
    VentanaPrincipal otra;
    EXPECT_EQ(otra.pos(), QPoint(33, 57));
    EXPECT_EQ(otra.size(), QSize(1240, 746));
    QSettings().remove("principal-fija");
}

// Where things sit: the preview and the column 44 points down, the column 296 wide with the
// stream button at its foot 18 points above the 36-point footer, the blocks in their order, and
// every control named for a screen reader.
TEST(VentanaPrincipal, colocacionYNombresAccesibles) {
    VentanaPrincipal v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    const QRect previa = enVentana(v.previa(), &v);
    EXPECT_EQ(previa.left(), 22);
    EXPECT_EQ(previa.top(), 44);
    EXPECT_EQ(previa.width(), 1240 - 22 - 18 - 296 - 22);
    EXPECT_GT(previa.height(), 480);

    auto* boton = v.findChild<Pildora*>();
    ASSERT_TRUE(boton);
    const QRect pildora = enVentana(boton, &v);
    EXPECT_EQ(pildora.width(), 296);
    EXPECT_EQ(pildora.right(), 1240 - 22 - 1);
    EXPECT_EQ(pildora.bottom() + 1, 746 - 36 - 18);
    EXPECT_EQ(pildora.height(), 50);

    // At its smallest the preview gives way and stays 16:9; the blocks, the button and the strip
    // keep their room above the footer.
    v.resize(v.minimumSize());
    QApplication::processEvents();
    const QRect chica = enVentana(v.previa(), &v);
    EXPECT_LT(chica.height(), previa.height());
    EXPECT_NEAR(chica.width() * 9.0 / 16, chica.height(), 1);
    std::vector<QRect> columna;
    for (QWidget* w : v.findChildren<QWidget*>())
        if (w->parentWidget() == boton->parentWidget() && w->isVisible()) columna.push_back(enVentana(w, &v));
    std::sort(columna.begin(), columna.end(), [](QRect a, QRect b) { return a.top() < b.top(); });
    ASSERT_GE(columna.size(), 5u);
    for (std::size_t i = 1; i < columna.size(); ++i) EXPECT_LT(columna[i - 1].bottom(), columna[i].top()) << i;
    EXPECT_EQ(enVentana(boton, &v).height(), 50);
    EXPECT_EQ(enVentana(boton, &v).bottom() + 1, v.height() - 36 - 18);
    const QRect tira = enVentana(v.tira()->parentWidget(), &v);
    EXPECT_LE(tira.bottom(), v.height() - 36);
    EXPECT_GT(tira.top(), chica.bottom());

    QStringList titulos;
    for (QLabel* l : v.findChildren<QLabel*>())
        if (!l->text().isEmpty() && l->parentWidget()->accessibleName() == l->text()) titulos << l->text();
    EXPECT_EQ(titulos, QStringList({QString::fromUtf8("Cámara"), "Audio", "Canal de Kick", "Celular"}));

    // Tab walks the column down to the stream button.
    QStringList orden;
    for (QWidget* w = v.findChildren<Lista*>().value(0); w && orden.size() < 6; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            orden << (w->accessibleName().isEmpty() ? w->property("text").toString() : w->accessibleName());
    EXPECT_EQ(orden, QStringList({QString::fromUtf8("Cámara"), QString::fromUtf8("Micrófono"), "Mezclar a mono",
                                  "Canal de Kick", QString::fromUtf8("Abrir app móvil"), "Transmitir"}));
    for (QWidget* w : v.findChildren<QWidget*>()) {
        if (w->focusPolicy() == Qt::NoFocus || !w->isVisible()) continue;
        auto* b = qobject_cast<QAbstractButton*>(w);
        EXPECT_FALSE(w->accessibleName().isEmpty() && !(b && !b->text().isEmpty()))
            << w->metaObject()->className();
    }
    v.close();
}

// Before the devices are listed both device menus read "Cargando…", disabled, and the stream
// button is disabled. A long notice is cut at its end; the status line keeps every character and
// 20 points of room.
TEST(VentanaPrincipal, antesDeLosDispositivosYAvisoLargo) {
    VentanaPrincipal v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    for (Lista* l : v.findChildren<Lista*>()) {
        if (l->accessibleName() == "Canal de Kick") continue;
        EXPECT_FALSE(l->isEnabled());
        EXPECT_EQ(l->currentText(), QString::fromUtf8("Cargando…"));
    }
    EXPECT_FALSE(v.findChild<Pildora*>()->isEnabled());

    const QString estado = QString::fromUtf8("00:12:34 · 1.6 Mbps · 30 cps · 2 redes");
    v.ponerEstado(estado);
    v.decir(QString("No se pudo abrir la cámara porque otra aplicación la está usando. ").repeated(4), true);
    QCoreApplication::processEvents();
    auto* aviso = v.findChild<Renglon*>();
    ASSERT_TRUE(aviso);
    QLabel* estadoTxt = nullptr;
    for (QLabel* l : v.findChildren<QLabel*>())
        if (l->text() == estado) estadoTxt = l;
    ASSERT_TRUE(estadoTxt);
    EXPECT_TRUE(aviso->visible().endsWith(QString::fromUtf8("…")));
    EXPECT_GE(estadoTxt->width(), estadoTxt->fontMetrics().horizontalAdvance(estado));
    EXPECT_GE(estadoTxt->x() - aviso->geometry().right() - 1, 20);
    EXPECT_EQ(v.aviso().size(), aviso->text().size());  // the whole text is kept
    v.close();
}

// The signals carry what the user did, never what the application painted.
TEST(VentanaPrincipal, senialesSoloDeLoQueHaceElUsuario) {
    VentanaPrincipal v;
    int pulsados = 0, elegidos = 0, celular = 0;
    std::vector<bool> mono;
    std::vector<QString> canales;
    QObject::connect(&v, &VentanaPrincipal::pulsado, [&] { ++pulsados; });
    QObject::connect(&v, &VentanaPrincipal::dispositivoElegido, [&] { ++elegidos; });
    QObject::connect(&v, &VentanaPrincipal::monoCambiado, [&](bool si) { mono.push_back(si); });
    QObject::connect(&v, &VentanaPrincipal::canalElegido, [&](const QString& id) { canales.push_back(id); });
    QObject::connect(&v, &VentanaPrincipal::celularPedido, [&] { ++celular; });
    auto* boton = v.findChild<Pildora*>();
    auto* caja = v.findChild<Casilla*>();
    ASSERT_TRUE(boton && caja);

    boton->click();  // disabled until the devices are ready
    EXPECT_EQ(pulsados, 0);
    v.habilitarBoton(true);
    boton->click();
    EXPECT_EQ(pulsados, 1);
    v.ponerBoton(true);
    EXPECT_TRUE(boton->enVivo());

    v.ponerMono(true);
    EXPECT_TRUE(mono.empty());
    caja->click();
    EXPECT_EQ(mono, std::vector<bool>{false});
    EXPECT_FALSE(v.mono());

    using Menu = VentanaPrincipal::Menu;
    v.llenar(Menu::camara, {{"Uno", "id-1"}, {"Cam Link 4K", "id-2"}}, 1, "No hay cámaras conectadas");
    v.llenar(Menu::microfono, {}, std::nullopt, "No hay micrófonos");
    v.llenarCanales({{"Mío", "c1"}, {"Otro", "c2"}, {"", "", true}, {"Editar canales…", "+"}}, 1);
    EXPECT_EQ(elegidos, 0);
    EXPECT_TRUE(canales.empty());
    EXPECT_EQ(v.elegido(Menu::camara), "id-2");
    EXPECT_EQ(v.elegido(Menu::microfono), std::nullopt);  // the placeholder item names no device
    EXPECT_EQ(v.canal(), "c2");
    auto listas = v.findChildren<Lista*>();
    ASSERT_EQ(listas.size(), 3);
    EXPECT_FALSE(listas[1]->isEnabled());
    Q_EMIT listas[0]->activated(0);
    Q_EMIT listas[2]->activated(3);
    EXPECT_EQ(elegidos, 1);
    EXPECT_EQ(canales, std::vector<QString>{"+"});

    v.ponerCelular("Inicia sesión", "Iniciar sesión…");
    for (QAbstractButton* b : v.findChildren<QAbstractButton*>())
        if (b->text() == QString::fromUtf8("Iniciar sesión…")) b->click();
    EXPECT_EQ(celular, 1);
}

// Space on the focused button starts; while the start is asked for the button is disabled and
// the keyboard comes back to it afterwards, so the next Space stops instead of opening the phone
// sheet. One the user moved elsewhere meanwhile stays where they put it.
TEST(VentanaPrincipal, elTecladoVuelveAlBotonTrasPedirElPermiso) {
    VentanaPrincipal v;
    int pulsados = 0;
    QObject::connect(&v, &VentanaPrincipal::pulsado, [&] { ++pulsados; });
    v.show();
    v.activateWindow();
    ASSERT_TRUE(prueba::esperar([&] { return QApplication::activeWindow() == &v; }, 5));
    auto* boton = v.findChild<Pildora*>();
    v.habilitarBoton(true);
    boton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(boton, Qt::Key_Space);
    EXPECT_EQ(pulsados, 1);
    v.habilitarBoton(false);
    EXPECT_FALSE(boton->hasFocus());
    v.habilitarBoton(true);
    EXPECT_TRUE(boton->hasFocus());

    v.habilitarBoton(false);
    QWidget* otro = nullptr;
    for (auto* w : v.findChildren<QWidget*>())
        if (w != QApplication::focusWidget() && w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::ClickFocus))
            otro = w;
    ASSERT_TRUE(otro);
    otro->setFocus(Qt::MouseFocusReason);
    v.habilitarBoton(true);
    EXPECT_TRUE(otro->hasFocus());
}
