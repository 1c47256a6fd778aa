// The strip of screens, the editor and the channel sheet driven as the user drives them, against
// the real store, channel list and compositor.
#include "app/app.h"

#include "channels/canales.h"
#include "comun/proceso.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "soporte/soporte.h"
#include "ui/boton.h"
#include "ui/campo.h"
#include "ui/campo_secreto.h"
#include "ui/editor.h"
#include "ui/hoja_canales.h"
#include "ui/lista.h"
#include "ui/tarjeta.h"
#include "ui/ventana_principal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

namespace tt {
namespace {

namespace fs = std::filesystem;
using prueba::esperar;

class TiraPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        usarCarpeta("tira-" + std::to_string(++n));
        app = std::make_unique<App>();
        app->abrirPrincipal();
    }
    void TearDown() override {
        app->ventanaPrincipal()->close();
        app.reset();
        std::error_code ec;
        fs::remove_all(carpetaCuenta(), ec);
        usarCarpeta(std::nullopt);
        QSettings().clear();
    }
    Tarjeta* tarjeta(const std::string& id) {
        for (const auto& t : app->tarjetasTira())
            if (t && t->id() == id) return t;
        return nullptr;
    }
    // Presses the button of that title in whichever question is showing.
    static bool responder(const char* boton) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible())
                for (QAbstractButton* b : m->buttons())
                    if (b->text() == QString::fromUtf8(boton)) {
                        b->click();
                        return true;
                    }
        return false;
    }
    template <class T>
    static T* campo(QWidget* en, const char* indicacion) {
        for (T* c : en->findChildren<T*>())
            if (c->placeholderText() == QString::fromUtf8(indicacion)) return c;
        return nullptr;
    }
    std::string archivo() { return prueba::leer(app->pantallas().lista()); }

    std::unique_ptr<App> app;
};

// The editor's import, waited for: the error text, or nothing once the file is the background.
std::optional<std::string> usar(Editor& e, const std::filesystem::path& archivo) {
    auto r = std::make_shared<std::optional<std::optional<std::string>>>();
    e.usarArchivo(archivo, [r](std::optional<std::string> error) { *r = std::move(error); });
    EXPECT_TRUE(esperar([&] { return r->has_value(); }, 20));
    return r->value_or("sin respuesta");
}

// Five screens and the new-screen card; a click puts a screen in the program and in the
// compositor, marks its card and says what the stream will start with.
TEST_F(TiraPrueba, unClicEnUnaTarjetaLaPoneEnElPrograma) {
    const auto& t = app->tarjetasTira();
    ASSERT_EQ(t.size(), 6u);
    std::vector<std::string> ids;
    for (const auto& x : t) ids.push_back(x->id().value_or("+"));
    EXPECT_EQ(ids, (std::vector<std::string>{"camara", "inicio", "pausa", "despedida", "audio", "+"}));
    EXPECT_TRUE(esperar([&] { return tarjeta("inicio")->tieneFoto(); }, 10));  // drawn off this thread
    EXPECT_TRUE(tarjeta("pausa")->respaldo());
    EXPECT_EQ(tarjeta("camara")->estado(), 1);

    QTest::mouseClick(tarjeta("despedida"), Qt::LeftButton, {}, QPoint(20, 60));
    EXPECT_EQ(app->pantallaAlAire(), "despedida");
    ASSERT_TRUE(esperar([&] { return !app->compositor().cargando(); }, 5));  // its media open off this thread
    ASSERT_TRUE(app->compositor().puesta());
    EXPECT_EQ(app->compositor().puesta()->id, "despedida");
    EXPECT_EQ(tarjeta("despedida")->estado(), 1);
    EXPECT_EQ(tarjeta("camara")->estado(), 0);
    EXPECT_EQ(app->ventanaPrincipal()->aviso(),
              QString::fromUtf8("«Despedida» en la vista: con eso arranca la transmisión. Micrófono cerrado."));

    // A double click opens the editor instead, and leaves the program alone.
    QTest::mouseDClick(tarjeta("inicio"), Qt::LeftButton, {}, QPoint(20, 60));
    ASSERT_TRUE(app->editorAbierto());
    EXPECT_EQ(app->editorAbierto()->pantalla().id, "inicio");
    EXPECT_EQ(app->pantallaAlAire(), "despedida");
    // Escape and Ctrl+W close it, as any secondary window.
    app->editorAbierto()->activateWindow();
    ASSERT_TRUE(esperar([&] { return QApplication::activeWindow() == app->editorAbierto(); }, 5));
    QTest::keyClick(app->editorAbierto(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(esperar([&] { return !app->editorAbierto(); }, 2));
    app->editar("pausa");
    ASSERT_TRUE(app->editorAbierto());
    ASSERT_TRUE(esperar([&] { return QApplication::activeWindow() == app->editorAbierto(); }, 5));
    QTest::keyClick(app->editorAbierto(), Qt::Key_Escape);
    EXPECT_TRUE(esperar([&] { return !app->editorAbierto(); }, 2));
}

// From the keyboard the strip is one Tab stop between the phone button and the stream button;
// the arrows walk its cards and Return puts the focused screen in the program.
TEST_F(TiraPrueba, elTecladoRecorreLaTira) {
    VentanaPrincipal* v = app->ventanaPrincipal();
    v->habilitarBoton(true);  // as once the devices are open
    v->activateWindow();
    ASSERT_TRUE(esperar([&] { return QApplication::activeWindow() == v; }, 5));
    auto botones = v->findChildren<Boton*>();  // the phone block's, the only one
    ASSERT_EQ(botones.size(), 1);
    QWidget* celular = botones.front();
    celular->setFocus(Qt::TabFocusReason);
    QTest::keyClick(celular, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), tarjeta("camara"));
    QTest::keyClick(tarjeta("camara"), Qt::Key_Right);
    QTest::keyClick(tarjeta("inicio"), Qt::Key_Right);
    ASSERT_EQ(QApplication::focusWidget(), tarjeta("pausa"));
    QTest::keyClick(tarjeta("pausa"), Qt::Key_Return);
    EXPECT_EQ(app->pantallaAlAire(), "pausa");
    QTest::keyClick(tarjeta("pausa"), Qt::Key_Tab);
    EXPECT_STREQ(QApplication::focusWidget()->metaObject()->className(), "tt::Pildora");
    // Back into the strip: the card left last.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), tarjeta("pausa"));
}

// The program screen asks before it goes, hands the program to the camera and leaves the file;
// the camera screen cannot be deleted.
TEST_F(TiraPrueba, eliminarPreguntaYNuncaQuitaLaCamara) {
    app->ponerPantalla("despedida");
    app->eliminar("despedida", true);
    ASSERT_TRUE(esperar([] { return responder("Cancelar"); }, 2));
    EXPECT_TRUE(app->pantallas()["despedida"]);
    app->eliminar("despedida", true);
    ASSERT_TRUE(esperar([] { return responder("Eliminar"); }, 2));
    EXPECT_FALSE(app->pantallas()["despedida"]);
    EXPECT_EQ(app->pantallaAlAire(), "camara");
    ASSERT_TRUE(esperar([&] { return !app->compositor().cargando(); }, 5));
    EXPECT_EQ(app->compositor().puesta()->id, "camara");
    EXPECT_FALSE(tarjeta("despedida"));

    app->eliminar("camara", false);
    EXPECT_TRUE(app->pantallas()["camara"]);
    app->editar("camara");
    ASSERT_TRUE(app->editorAbierto());
    for (auto* b : app->editorAbierto()->findChildren<QPushButton*>()) EXPECT_NE(b->text(), "Eliminar");
    EXPECT_TRUE(esperar([&] { return archivo().find("\"despedida\"") == std::string::npos; }, 3));
}

// Typing a title in the editor reaches pantallas.json and, the screen being the program, the
// compositor; duplicating from the editor opens the copy.
TEST_F(TiraPrueba, loQueSeEscribeEnElEditorLlegaAlArchivoYAlPrograma) {
    app->ponerPantalla("inicio");
    app->editar("inicio");
    Editor* e = app->editorAbierto();
    ASSERT_TRUE(e);
    Campo* titulo = campo<Campo>(e, "Título");
    ASSERT_TRUE(titulo);
    titulo->selectAll();
    QTest::keyClicks(titulo, "Hola <b>a todos</b> ");
    QTest::sendKeyEvent(QTest::Click, titulo, Qt::Key_unknown, QString::fromUtf8("🎉"), Qt::NoModifier);
    const std::string nuevo = "Hola <b>a todos</b> 🎉";
    ASSERT_TRUE(esperar([&] { return !app->compositor().cargando(); }, 5));
    EXPECT_EQ(app->compositor().puesta()->titulo, nuevo);
    EXPECT_TRUE(esperar([&] { return archivo().find(nuevo) != std::string::npos; }, 3));
    EXPECT_FALSE(e->vista().isNull());
    EXPECT_NE(e->notas().indexOf(QString::fromUtf8("Micrófono cerrado")), -1);

    for (auto* b : e->findChildren<QPushButton*>())
        if (b->text() == "Duplicar") b->click();
    ASSERT_TRUE(esperar([&] { return app->editorAbierto() && app->editorAbierto()->pantalla().id != "inicio"; }, 2));
    EXPECT_EQ(app->editorAbierto()->pantalla().nombre, "Inicio (copia)");
    EXPECT_EQ(app->editorAbierto()->pantalla().titulo, nuevo);
    EXPECT_EQ(app->tarjetasTira().size(), 7u);
}

// A photo of 4000 × 3000 turned by its EXIF tag and a video with a rotation both show upright;
// a file that is neither is refused with the store's message and the screen keeps its background.
TEST_F(TiraPrueba, importarDesdeElEditorDaMuestrasDerechas) {
    prueba::CarpetaTemporal dir;
    const std::string ffmpeg = (recursos() / "ffmpeg").string() + " -hide_banner -loglevel error -nostdin -y ";
    ASSERT_EQ(std::system((ffmpeg + "-f lavfi -i color=c=red:s=4000x3000 -frames:v 1 -q:v 4 " + (dir / "p.jpg").string()).c_str()), 0);
    std::string jpeg = prueba::leer(dir / "p.jpg");
    const std::string tiff("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00", 26);
    prueba::escribir(dir / "foto.jpg", jpeg.substr(0, 2) + std::string("\xff\xe1\x00\x22", 4) + std::string("Exif\0\0", 6) +
                                           tiff + jpeg.substr(2));
    ASSERT_EQ(std::system((ffmpeg + "-f lavfi -i testsrc=s=320x180:r=10:d=1 -c:v libx264 -pix_fmt yuv420p " +
                           (dir / "p.mp4").string() + " && " + ffmpeg + "-i " + (dir / "p.mp4").string() +
                           " -c copy -metadata:s:v:0 rotate=90 " + (dir / "video.mp4").string()).c_str()), 0);
    prueba::escribir(dir / "nada.png", "esto no es una imagen");

    app->editar("inicio");
    Editor* e = app->editorAbierto();
    ASSERT_TRUE(e);
    EXPECT_EQ(usar(*e, dir / "foto.jpg"), std::nullopt);
    auto p = app->pantallas()["inicio"];
    ASSERT_TRUE(p && p->archivo);
    EXPECT_EQ(app->pantallas().muestra(*p)->size(), QSize(960, 1280));  // portrait: turned upright

    app->editar("pausa");
    e = app->editorAbierto();
    ASSERT_TRUE(esperar([&] { return tarjeta("pausa")->tieneFoto(); }, 10));
    const QImage antes = tarjeta("pausa")->foto();
    EXPECT_EQ(usar(*e, dir / "video.mp4"), std::nullopt);
    p = app->pantallas()["pausa"];
    ASSERT_TRUE(p && p->esVideo);
    EXPECT_EQ(app->pantallas().muestra(*p)->size(), QSize(180, 320));
    EXPECT_TRUE(esperar([&] { return tarjeta("pausa")->foto() != antes; }, 10));  // its card drawn again
    EXPECT_NE(e->notas().indexOf("cuadro quieto"), -1);

    EXPECT_EQ(usar(*e, dir / "nada.png"), "Ese archivo no es un video ni una imagen.");
    EXPECT_TRUE(esperar([] { return responder("Entendido"); }, 2));
    EXPECT_EQ(app->pantallas()["pausa"]->archivo, p->archivo);
}

// The sheet refuses a key with a space or a line break with its own words, in red, and saves
// nothing; a good channel shows in the menu, gets its folder and becomes the chosen one.
TEST_F(TiraPrueba, laHojaDeCanalesRechazaClavesMalasYGuardaLasBuenas) {
    app->abrirCanales();
    HojaCanales* h = app->hojaCanales();
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->esNuevo());
    // It opens with the keyboard in its first field.
    ASSERT_TRUE(esperar([&] { return QApplication::activeWindow() == h; }, 5));
    ASSERT_EQ(QApplication::focusWidget(), campo<Campo>(h, "Como se llama el canal en Kick"));
    QTest::keyClicks(QApplication::focusWidget(), "Mi canal");
    auto* clave = h->findChild<CampoSecreto*>();
    ASSERT_TRUE(clave);
    const char* rechazo = "La URL del servidor debe empezar con rtmps:// (o rtmp://) y la clave va sin espacios.";
    for (const char* mala : {"sk_abc def", "sk_abc\ndef"}) {
        clave->setText(QString::fromUtf8(mala));
        EXPECT_FALSE(h->guardar());
        EXPECT_EQ(h->nota(), QString::fromUtf8(rechazo));
        EXPECT_TRUE(h->notaEnRojo());
    }
    clave->clear();
    EXPECT_FALSE(h->guardar());
    EXPECT_EQ(h->nota(), QString::fromUtf8("Falta la clave de transmisión."));
    QTest::keyClicks(clave, "sk");  // typing again clears the red note
    EXPECT_FALSE(h->notaEnRojo());
    EXPECT_TRUE(Canales().lista.empty());

    clave->setText("sk_us-west-2_buena");
    QTest::keyClick(clave, Qt::Key_Return);  // Return saves
    EXPECT_EQ(h->nota(), QString::fromUtf8("Guardado."));
    h->accept();
    Canales guardados;
    ASSERT_EQ(guardados.lista.size(), 1u);
    const Canal c = guardados.lista.front();
    EXPECT_EQ(c.destino(), Canal::servidorKick + "sk_us-west-2_buena");
    EXPECT_TRUE(fs::is_directory(guardados.carpeta(c.id)));
    EXPECT_EQ(app->ventanaPrincipal()->canal(), QString::fromStdString(c.id));
    EXPECT_EQ(app->pantallas().lista(), guardados.carpeta(c.id) / "pantallas.json");
    EXPECT_FALSE(app->hojaCanales());

    // A second one with the same name, whatever its case, is refused.
    app->abrirCanales();
    h = app->hojaCanales();
    h->mostrar(std::nullopt);
    QTest::keyClicks(campo<Campo>(h, "Como se llama el canal en Kick"), "MI CANAL");
    h->findChild<CampoSecreto*>()->setText("otra");
    EXPECT_FALSE(h->guardar());
    EXPECT_EQ(h->nota(), QString::fromUtf8("Ya hay un canal con ese nombre."));
    h->reject();
}

// Hostile names and handles are kept byte for byte and shown as plain text.
TEST_F(TiraPrueba, nombresLargosYMarcadoSeGuardanTalCual) {
    Pantalla p = *app->pantallas()["inicio"];
    p.nombre = std::string(10000, 'n');
    p.titulo = "🎉🎉🎉";
    p.redes = {{"instagram", "<img src=x onerror=alert(1)>"}};
    app->pantallas().actualizar(p);
    app->pantallas().escribir();
    app->pintarTira();
    EXPECT_EQ(tarjeta("inicio")->nombre().size(), 10000);
    app->editar("inicio");
    Campo* nombre = campo<Campo>(app->editorAbierto(), "Nombre de la pantalla");
    ASSERT_TRUE(nombre);
    EXPECT_EQ(nombre->text().size(), 10000);
    QTest::keyClick(nombre, Qt::Key_End);
    QTest::keyClicks(nombre, "x");
    ASSERT_TRUE(esperar([&] { return Almacen(app->pantallas().lista().parent_path())["inicio"]->nombre.size() == 10001; }, 3));
    auto leida = Almacen(app->pantallas().lista().parent_path())["inicio"];
    EXPECT_EQ(leida->titulo, "🎉🎉🎉");
    EXPECT_EQ(leida->redes.at(0).usuario, "<img src=x onerror=alert(1)>");
    EXPECT_EQ(leida->nombre, std::string(10000, 'n') + "x");
}

}  // namespace
}  // namespace tt
