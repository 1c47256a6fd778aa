// The application object with its real window and engine, driven as the user and the test
// switches drive it (no camera is plugged into the machines that run these).
#include "app/app.h"

#include "channels/canales.h"
#include "comun/proceso.h"
#include "pantallas/almacen.h"
#include "soporte/soporte.h"
#include "ui/lista.h"
#include "ui/ventana_principal.h"

#include <QCheckBox>
#include <QLabel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>

namespace tt {
namespace {

using prueba::esperar;

void pasar(int ms) { esperar([] { return false; }, ms / 1000.0); }

// Switches added to the process's environment for one test; the channels and screens live in an
// account folder of their own, and the user defaults are wiped afterwards.
class AppPrueba : public ::testing::Test {
protected:
    void conSwitches(std::map<std::string, std::string> extra) {
        Proceso p = antes_;
        std::map<std::string, std::string> v{{"TM_DATOS", p.entorno.variable("TM_DATOS").value_or("")}};
        for (auto& [k, x] : extra) v[k] = x;
        p.entorno = Entorno(v);
        fijarProceso(p);
    }
    void SetUp() override {
        static int n = 0;
        usarCarpeta("app-" + std::to_string(++n));
    }
    void TearDown() override {
        fijarProceso(antes_);
        std::error_code ec;
        std::filesystem::remove_all(carpetaCuenta(), ec);
        usarCarpeta(std::nullopt);
        QSettings().clear();
    }
    Proceso antes_ = proceso();
};

TEST_F(AppPrueba, mezclarAMonoSeGuardaPorCanalYVuelveConEl) {
    Canal a = Canal::nuevo(), b = Canal::nuevo();
    a.nombre = "Uno";
    b.nombre = "Dos";
    {
        Canales canales;
        canales.guardar(a);
        canales.guardar(b);
    }
    QSettings().setValue("canal", QString::fromStdString(a.id));
    {
        App app;
        app.abrirPrincipal();
        auto* caja = app.ventanaPrincipal()->findChild<QCheckBox*>();
        ASSERT_TRUE(caja);
        EXPECT_FALSE(caja->isChecked());
        caja->click();
        EXPECT_TRUE(QSettings().value(QString::fromStdString("mono." + a.id)).toBool());

        // Another channel has its own choice; the first one's comes back with it.
        QSettings().setValue("canal", QString::fromStdString(b.id));
        app.abrirPrincipal();
        EXPECT_FALSE(caja->isChecked());
        QSettings().setValue("canal", QString::fromStdString(a.id));
        app.abrirPrincipal();
        EXPECT_TRUE(caja->isChecked());
        app.ventanaPrincipal()->close();
    }
    // And across a restart.
    App otra;
    otra.abrirPrincipal();
    EXPECT_TRUE(otra.ventanaPrincipal()->mono());
    otra.ventanaPrincipal()->close();
}

// The channel menu lists the channels and the sheet's item; choosing one stores it and loads its
// screens, while the sheet's item keeps the chosen channel selected.
TEST_F(AppPrueba, elMenuDeCanalesEligeYCargaElCanal) {
    Canal a = Canal::nuevo(), b = Canal::nuevo();
    a.nombre = "Uno";
    b.nombre = "Dos";
    {
        Canales canales;
        canales.guardar(a);
        canales.guardar(b);
    }
    App app;
    app.abrirPrincipal();
    VentanaPrincipal& v = *app.ventanaPrincipal();
    auto* menu = v.findChildren<Lista*>().value(2);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->count(), 4);
    EXPECT_EQ(menu->itemText(3), QString::fromUtf8("Editar canales…"));
    EXPECT_EQ(v.canal(), QString::fromStdString(a.id));

    Q_EMIT menu->activated(1);
    EXPECT_EQ(QSettings().value("canal").toString().toStdString(), b.id);
    EXPECT_EQ(v.canal(), QString::fromStdString(b.id));
    bool titulo = false;
    for (QLabel* l : v.findChildren<QLabel*>()) titulo = titulo || l->text() == "Pantallas de Dos";
    EXPECT_TRUE(titulo);

    menu->setCurrentIndex(3);
    Q_EMIT menu->activated(3);
    EXPECT_EQ(v.canal(), QString::fromStdString(b.id));
    EXPECT_EQ(QSettings().value("canal").toString().toStdString(), b.id);
    v.close();
}

// A background video that ends "to the camera" hands the screen back to the camera instead of
// freezing on its last frame.
TEST_F(AppPrueba, alTerminarElVideoVuelveLaCamara) {
    std::string id;
    {
        Almacen almacen(carpetaCuenta());
        const auto corto = almacen.medios() / "corto.mp4";
        const std::string orden = (recursos() / "ffmpeg").string() +
                                  " -v error -y -f lavfi -i testsrc=size=160x90:rate=10:duration=1 -pix_fmt yuv420p " +
                                  corto.string();
        ASSERT_EQ(std::system(orden.c_str()), 0);
        Pantalla p = almacen.agregar();
        p.archivo = "corto.mp4";
        p.esVideo = true;
        p.alTerminar = 1;
        almacen.actualizar(p);
        almacen.escribir();
        id = p.id;
    }
    prueba::CarpetaTemporal carpeta;
    QImage imagen(64, 36, QImage::Format_RGB32);
    imagen.fill(Qt::darkGreen);
    ASSERT_TRUE(imagen.save(QString::fromStdString((carpeta / "cam.png").string())));
    conSwitches({{"TM_CAMARA_FALSA", (carpeta / "cam.png").string()}, {"TM_PANTALLA", id}});

    App app;
    app.abrirPrincipal();
    ASSERT_TRUE(esperar([&] { return app.pantallaAlAire() == id; }));
    EXPECT_TRUE(esperar([&] { return app.pantallaAlAire() == "camara"; }));
    app.ventanaPrincipal()->close();
}

// TM_AUTO presses once, 3 s after the devices were asked for, even when no camera opened, and a
// later reopening of the devices does not arm it again.
TEST_F(AppPrueba, tmAutoPulsaUnaVezAunqueNoSeAbraLaCamara) {
    conSwitches({{"TM_AUTO", "si"}, {"TM_ARCHIVO", "1"}});
    App app;
    app.abrirPrincipal();
    VentanaPrincipal& v = *app.ventanaPrincipal();
    pasar(1000);
    app.listar(true);
    ASSERT_TRUE(esperar([&] { return v.insignia() == "PRUEBA EN SECO"; }, 5)) << v.aviso().toStdString();
    app.pulsar();
    EXPECT_EQ(v.insignia(), "Sin transmitir");
    pasar(1500);  // past 3 s after the reopening
    EXPECT_EQ(v.insignia(), "Sin transmitir");
    v.close();
}

// On air the badge names the screen on air, and the level meter moves (the synthetic camera's
// gentle wave); the badge goes back when the transmission stops.
TEST_F(AppPrueba, alAireLaInsigniaNombraLaPantallaYElMedidorSeMueve) {
    prueba::CarpetaTemporal carpeta;
    QImage imagen(64, 36, QImage::Format_RGB32);
    imagen.fill(Qt::darkGreen);
    ASSERT_TRUE(imagen.save(QString::fromStdString((carpeta / "cam.png").string())));
    conSwitches({{"TM_CAMARA_FALSA", (carpeta / "cam.png").string()}, {"TM_ARCHIVO", "1"}, {"TM_AUTO", "si"},
                 {"TM_GUION", "0.5:inicio"}});
    App app;
    app.abrirPrincipal();
    VentanaPrincipal& v = *app.ventanaPrincipal();
    ASSERT_TRUE(esperar([&] { return v.insignia() == QString::fromUtf8("PRUEBA EN SECO · Inicio"); }, 8))
        << v.insignia().toStdString();
    EXPECT_GT(v.nivel(), 0.02f);
    EXPECT_FALSE(app.soloAudio());
    EXPECT_FALSE(app.calidadTexto());
    app.pulsar();
    EXPECT_EQ(v.insignia(), "Sin transmitir");
    v.close();
}

}  // namespace
}  // namespace tt
