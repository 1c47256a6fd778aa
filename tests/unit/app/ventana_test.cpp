#include "app/app.h"

#include <QApplication>
#include <QMenuBar>
#include <QMainWindow>
#include <gtest/gtest.h>

using namespace tt;

TEST(Ventana, oscuraDeTamanoFijoConSusTresMenus) {
    App app;
    app.armarMenu();
    app.abrirPrincipal();
    QMainWindow* v = app.ventanaPrincipal();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->windowTitle(), QString::fromUtf8("Tremolante · Transmitir"));
    EXPECT_EQ(v->centralWidget()->size(), QSize(1240, 746));
    QImage foto = v->centralWidget()->grab().toImage();
    EXPECT_LT(QColor(foto.pixel(600, 300)).lightness(), 20);

    QStringList menus, atajos;
    for (QAction* m : v->menuBar()->actions()) {
        menus << m->text();
        for (QAction* a : m->menu()->actions())
            if (!a->isSeparator()) atajos << a->text() + "=" + a->shortcut().toString();
    }
    EXPECT_EQ(menus, QStringList({"Tremolante", QString::fromUtf8("Edición"), "Ventana"}));
    EXPECT_TRUE(atajos.contains("Salir=Ctrl+Q"));
    EXPECT_TRUE(atajos.contains("Seleccionar todo=Ctrl+A"));
    EXPECT_TRUE(atajos.contains("Cerrar=Ctrl+W"));
    EXPECT_EQ(atajos.size(), 9);
    v->close();
}
