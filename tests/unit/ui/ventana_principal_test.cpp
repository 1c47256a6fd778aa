#include "ui/ventana_principal.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace tt;

TEST(VentanaPrincipal, oscuraDeTamanoFijoConSusTresMenus) {
    VentanaPrincipal v;
    EXPECT_EQ(v.windowTitle(), QString::fromUtf8("Tremolante · Transmitir"));
    EXPECT_EQ(v.centralWidget()->size(), QSize(1240, 746));
    QImage foto = v.centralWidget()->grab().toImage();
    EXPECT_LT(QColor(foto.pixel(600, 300)).lightness(), 20);
    EXPECT_EQ(v.insignia(), "Sin transmitir");

    QStringList menus, atajos;
    QAction* salir = nullptr;
    for (QAction* m : v.menuBar()->actions()) {
        menus << m->text();
        for (QAction* a : m->menu()->actions()) {
            if (a->isSeparator()) continue;
            atajos << a->text() + "=" + a->shortcut().toString();
            if (a->text() == "Salir") salir = a;
        }
    }
    EXPECT_EQ(menus, QStringList({"Tremolante", QString::fromUtf8("Edición"), "Ventana"}));
    EXPECT_TRUE(atajos.contains("Seleccionar todo=Ctrl+A"));
    EXPECT_TRUE(atajos.contains("Cerrar=Ctrl+W"));
    EXPECT_EQ(atajos.size(), 9);
    // Quitting is the application's decision: the window only asks.
    ASSERT_NE(salir, nullptr);
    int pedidos = 0;
    QObject::connect(&v, &VentanaPrincipal::salirPedido, [&] { ++pedidos; });
    salir->trigger();
    EXPECT_EQ(pedidos, 1);
}

// The signals carry what the user did, never what the application painted.
TEST(VentanaPrincipal, senialesSoloDeLoQueHaceElUsuario) {
    VentanaPrincipal v;
    int pulsados = 0, elegidos = 0;
    std::vector<bool> mono;
    QObject::connect(&v, &VentanaPrincipal::pulsado, [&] { ++pulsados; });
    QObject::connect(&v, &VentanaPrincipal::dispositivoElegido, [&] { ++elegidos; });
    QObject::connect(&v, &VentanaPrincipal::monoCambiado, [&](bool si) { mono.push_back(si); });
    auto* boton = v.findChild<QPushButton*>();
    auto* caja = v.findChild<QCheckBox*>();
    ASSERT_TRUE(boton && caja);

    boton->click();  // disabled until the devices are ready
    EXPECT_EQ(pulsados, 0);
    v.habilitarBoton(true);
    boton->click();
    EXPECT_EQ(pulsados, 1);

    v.ponerMono(true);
    EXPECT_TRUE(mono.empty());
    caja->click();
    EXPECT_EQ(mono, std::vector<bool>{false});
    EXPECT_FALSE(v.mono());

    using Menu = VentanaPrincipal::Menu;
    v.llenar(Menu::camara, {{"Uno", "id-1"}, {"Cam Link 4K", "id-2"}}, 1, "No hay cámaras conectadas");
    v.llenar(Menu::microfono, {}, std::nullopt, "No hay micrófonos");
    EXPECT_EQ(elegidos, 0);
    EXPECT_EQ(v.elegido(Menu::camara), "id-2");
    EXPECT_EQ(v.elegido(Menu::microfono), std::nullopt);  // the placeholder item names no device
    auto menus = v.findChildren<QComboBox*>();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_FALSE(menus[1]->isEnabled());
    Q_EMIT menus[0]->activated(0);
    EXPECT_EQ(elegidos, 1);
}
