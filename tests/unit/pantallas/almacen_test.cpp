#include "pantallas/almacen.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace tt {
namespace {

namespace fs = std::filesystem;
using prueba::CarpetaTemporal;
using prueba::escribir;
using prueba::leer;

class AlmacenTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The user defaults need a name; they live under the test run's own folder.
        QCoreApplication::setOrganizationName("Tremolante Pruebas");
        QCoreApplication::setApplicationName("pruebas_pantallas");
    }

    static std::vector<std::string> ids(const Almacen& a) {
        std::vector<std::string> v;
        for (const Pantalla& p : a.pantallas()) v.push_back(p.id);
        return v;
    }
    static std::vector<std::string> idsDelArchivo(const fs::path& lista) {
        std::vector<std::string> v;
        auto j = leerJson(lista);
        if (j)
            for (const Json& p : *j) v.push_back(p.value("id", ""));
        return v;
    }
    static bool esperar(const std::function<bool()>& listo, int ms) {
        QElapsedTimer t;
        t.start();
        while (!listo() && t.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return listo();
    }
    static std::string registro() { return leer(carpetaLog() / "app.log"); }

    CarpetaTemporal base;
    const std::vector<std::string> deSiempre = {"camara", "inicio", "pausa", "despedida", "audio"};
};

TEST_F(AlmacenTest, UnaListaVaciaTraeLasPantallasDeSiempreEnOrden) {
    escribir(base / "pantallas.json", "[]");
    Almacen a(base.ruta());
    EXPECT_EQ(ids(a), deSiempre);
    EXPECT_EQ(idsDelArchivo(a.lista()), deSiempre);  // written at once
    EXPECT_TRUE(fs::is_directory(base / "pantallas"));
    EXPECT_TRUE(a["camara"]->esDirecta());
    EXPECT_TRUE(a["camara"]->micro);
    EXPECT_EQ(a["pausa"]->nombre, "Volvemos en un momento");
    EXPECT_EQ(a["despedida"]->titulo, "Gracias por acompañarnos");
    EXPECT_EQ(a["audio"]->subtitulo, "Sube el volumen para seguir escuchándonos");
    EXPECT_EQ(*a["audio"], Almacen::soloAudio());
    EXPECT_EQ(a.deRespaldo()->id, "pausa");
    EXPECT_FALSE(a["nada"]);
    EXPECT_FALSE(fs::exists(base / "pantallas.json.dañado"));  // an empty list is not damage
}

TEST_F(AlmacenTest, LaPantallaDeAudioNoVuelveYLaCamaraNoSeBorra) {
    {
        Almacen a(base.ruta());  // no file at all
        EXPECT_EQ(ids(a), deSiempre);
        a.eliminar("audio");
        a.eliminar("camara");
        a.escribir();
        EXPECT_EQ(ids(a), (std::vector<std::string>{"camara", "inicio", "pausa", "despedida"}));
    }
    Almacen otra(base.ruta());
    EXPECT_EQ(ids(otra), (std::vector<std::string>{"camara", "inicio", "pausa", "despedida"}));

    // Another list (another path) gets its own audio screen once.
    CarpetaTemporal otraBase;
    EXPECT_EQ(ids(Almacen(otraBase.ruta())), deSiempre);
}

TEST_F(AlmacenTest, LaCamaraVuelveAlFrenteSiFaltaYSoloUnaVez) {
    escribir(base / "pantallas.json", R"([{"id": "x"}, {"id": "audio", "nombre": "Mío"}])");
    Almacen a(base.ruta());
    EXPECT_EQ(ids(a), (std::vector<std::string>{"camara", "x", "audio"}));
    EXPECT_EQ(a["audio"]->nombre, "Mío");
    Pantalla x;
    x.id = "x";
    EXPECT_EQ(*a["x"], x);
    Almacen b(base.ruta());
    EXPECT_EQ(ids(b), ids(a));
}

TEST_F(AlmacenTest, AgregarNombraSinRepetirYActualizarDejaUnSoloRespaldo) {
    Almacen a(base.ruta());
    Pantalla p1 = a.agregar(), p2 = a.agregar();
    EXPECT_EQ(p1.nombre, "Pantalla nueva");
    EXPECT_EQ(p2.nombre, "Pantalla nueva 2");
    EXPECT_NE(p1.id, p2.id);
    EXPECT_EQ(a.pantallas().back().id, p2.id);
    p1.nombre = "Otra";
    a.actualizar(p1);
    EXPECT_EQ(a.agregar().nombre, "Pantalla nueva");

    Pantalla d = *a["despedida"];
    d.sinInternet = true;
    a.actualizar(d);
    int marcadas = 0;
    for (const Pantalla& p : a.pantallas()) marcadas += p.sinInternet;
    EXPECT_EQ(marcadas, 1);
    EXPECT_EQ(a.deRespaldo()->id, "despedida");

    Pantalla ajena;
    ajena.sinInternet = true;
    a.actualizar(ajena);  // not in the list: nothing changes
    EXPECT_FALSE(a[ajena.id]);
    EXPECT_EQ(a.deRespaldo()->id, "despedida");

    Pantalla conRuta = *a["inicio"];
    conRuta.archivo = "../fuera.png";
    a.actualizar(conRuta);
    EXPECT_FALSE(a["inicio"]->archivo);
}

TEST_F(AlmacenTest, ElGuardadoEsperaMedioSegundoYNoSePierdeAlCerrar) {
    auto a = std::make_unique<Almacen>(base.ruta());
    const std::string antes = leer(a->lista());
    Pantalla p = a->agregar();
    EXPECT_TRUE(a->pendiente());
    EXPECT_EQ(leer(a->lista()), antes);
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(esperar([&] { return !a->pendiente(); }, 3000));
    EXPECT_GE(t.elapsed(), 400);
    auto enArchivo = idsDelArchivo(a->lista());
    EXPECT_NE(std::find(enArchivo.begin(), enArchivo.end(), p.id), enArchivo.end());

    Pantalla q = a->agregar();
    a.reset();  // still pending
    enArchivo = idsDelArchivo(base / "pantallas.json");
    EXPECT_NE(std::find(enArchivo.begin(), enArchivo.end(), q.id), enArchivo.end());
}

TEST_F(AlmacenTest, DuplicarCopiaElFondoYEliminarLoBorra) {
    Almacen a(base.ruta());
    Pantalla p = *a["pausa"];
    p.archivo = "pausa-1.png";
    a.actualizar(p);
    escribir(a.medios() / "pausa-1.png", "bytes del fondo");

    auto copia = a.duplicar("pausa");
    ASSERT_TRUE(copia);
    EXPECT_EQ(copia->nombre, "Volvemos en un momento (copia)");
    EXPECT_FALSE(copia->sinInternet);
    EXPECT_NE(copia->id, "pausa");
    ASSERT_TRUE(copia->archivo);
    EXPECT_EQ(*copia->archivo, copia->id + ".png");
    EXPECT_EQ(leer(*a.ruta(*copia)), "bytes del fondo");
    auto v = ids(a);
    EXPECT_EQ(std::find(v.begin(), v.end(), "pausa") + 1, std::find(v.begin(), v.end(), copia->id));
    EXPECT_EQ(a.deRespaldo()->id, "pausa");

    // A source file that has gone: the copy has no file.
    fs::remove(a.medios() / "pausa-1.png");
    EXPECT_FALSE(a.duplicar("pausa")->archivo);
    EXPECT_FALSE(a.duplicar("nada"));

    fs::path suyo = *a.ruta(*copia);
    a.eliminar(copia->id);
    EXPECT_FALSE(fs::exists(suyo));
    EXPECT_FALSE(a[copia->id]);
}

TEST_F(AlmacenTest, UnArchivoQueEsRutaNoTocaNadaFueraDeLosMedios) {
    // Files the hostile names would reach from the media folder.
    escribir(base / "x", "fuera");
    fs::create_directories(base / "a");
    escribir(base / "a" / "b", "fuera");
    escribir(base / "pantallas.json", R"([
        {"id": "uno", "archivo": "../x"}, {"id": "dos", "archivo": "/etc/passwd", "esVideo": true},
        {"id": "tres", "archivo": "../a/b"}])");
    Almacen a(base.ruta());
    for (const char* id : {"uno", "dos", "tres"}) {
        Pantalla p = *a[id];
        EXPECT_FALSE(p.archivo) << id;
        EXPECT_FALSE(a.ruta(p)) << id;
        EXPECT_FALSE(a.muestra(p)) << id;
        EXPECT_FALSE(a.duplicar(id)->archivo) << id;
        a.quitarFondo(p);
        a.eliminar(id);
    }
    // Even a screen handed in with a path is refused.
    Pantalla mala;
    mala.archivo = "../x";
    EXPECT_FALSE(a.ruta(mala));
    a.quitarFondo(mala);
    EXPECT_FALSE(mala.archivo);
    EXPECT_EQ(leer(base / "x"), "fuera");
    EXPECT_EQ(leer(base / "a" / "b"), "fuera");
    EXPECT_TRUE(fs::exists("/etc/passwd"));
}

TEST_F(AlmacenTest, UnArchivoDanadoQuedaApartadoAntesDeSobrescribirse) {
    std::string invalido = "[{\"id\": \"a\xff\xfe\"}]";
    std::string basura(50 << 20, '\0');
    for (std::size_t i = 0; i < basura.size(); ++i) basura[i] = char((i * 7919) >> 3);
    const std::vector<std::pair<std::string, std::vector<std::string>>> casos = {
        {"esto no es json", deSiempre},
        {invalido, deSiempre},
        {R"({"id": "inicio"})", deSiempre},
        {R"([{"id": "a"}, "b"])", deSiempre},
        {basura, deSiempre},
        {R"([{"id": 1, "nombre": 2, "micro": "no", "redes": 3}])", {}},  // read leniently, values lost
    };
    for (const auto& [contenido, esperados] : casos) {
        CarpetaTemporal b;
        escribir(b / "pantallas.json", contenido);
        Almacen a(b.ruta());
        if (!esperados.empty()) EXPECT_EQ(ids(a), esperados) << contenido.substr(0, 40);
        else EXPECT_EQ(a.pantallas().size(), 3u);  // camara, the lenient one, audio
        a.agregar();
        a.escribir();
        EXPECT_EQ(leer(b / "pantallas.json.dañado"), contenido) << contenido.substr(0, 40);
        EXPECT_TRUE(leerJson(b / "pantallas.json"));
        // Kept once: the second save does not push the new file aside.
        a.escribir();
        EXPECT_FALSE(fs::exists(b / "pantallas.json.dañado 2"));
    }
    EXPECT_NE(registro().find("pantallas.json estaba dañado; quedó guardado como pantallas.json.dañado"), std::string::npos);

    // A second damaged file beside an earlier one keeps both.
    escribir(base / "pantallas.json.dañado", "viejo");
    escribir(base / "pantallas.json", "roto");
    Almacen a(base.ruta());
    EXPECT_EQ(leer(base / "pantallas.json.dañado"), "viejo");
    EXPECT_EQ(leer(base / "pantallas.json.dañado 2"), "roto");
}

TEST_F(AlmacenTest, ImportarDiceQueNoEsVideoNiImagen) {
    Almacen a(base.ruta());
    Pantalla p = *a["inicio"];
    escribir(base / "texto.mp4", "no soy un video, solo texto\n");
    escribir(base / "vacio.mov", "");
    escribir(base / "vacio.png", "");
    escribir(base / "texto.txt", "hola");
    escribir(base / "sinext", "hola");
    escribir(base / "cancion.mp3", std::string(4096, '\0'));
    const std::string noVideo = "Ese archivo no trae video que se pueda reproducir.";
    const std::string nada = "Ese archivo no es un video ni una imagen.";
    EXPECT_EQ(a.importar(base / "texto.mp4", p), noVideo);
    EXPECT_EQ(a.importar(base / "vacio.mov", p), noVideo);
    EXPECT_EQ(a.importar(base / "cancion.mp3", p), noVideo);
    EXPECT_EQ(a.importar(base / "vacio.png", p), nada);
    EXPECT_EQ(a.importar(base / "texto.txt", p), nada);
    EXPECT_EQ(a.importar(base / "sinext", p), nada);
    EXPECT_EQ(a.importar(base / "no-existe.png", p), nada);
    EXPECT_FALSE(p.archivo);
    EXPECT_TRUE(fs::is_empty(a.medios()));
}

// In the background: the progress climbs to the end and the copy is whole; a copy that cannot be
// written says so and leaves nothing in the media folder.
TEST_F(AlmacenTest, ImportarEnFondoDaElProgresoYNoDejaCopiasAMedias) {
    Almacen a(base.ruta());
    QImage roja(64, 64, QImage::Format_RGB32);
    roja.fill(Qt::red);
    ASSERT_TRUE(roja.save(QString::fromStdString((base / "roja.jpg").string())));
    std::ofstream(base / "roja.jpg", std::ios::app) << std::string(9 << 20, 'x');  // a JPEG ignores a tail
    std::vector<int> avance;
    std::optional<Almacen::Resultado> r;
    a.importarEnFondo(base / "roja.jpg", "inicio", [&](int n) { avance.push_back(n); },
                      [&](Almacen::Resultado x) { r = std::move(x); });
    ASSERT_TRUE(prueba::esperar([&] { return r.has_value(); }, 20));
    ASSERT_TRUE(std::holds_alternative<Almacen::Copia>(*r));
    EXPECT_TRUE(std::is_sorted(avance.begin(), avance.end()));
    ASSERT_FALSE(avance.empty());
    EXPECT_EQ(avance.back(), 100);
    const auto& c = std::get<Almacen::Copia>(*r);
    EXPECT_EQ(fs::file_size(a.medios() / c.nombre), fs::file_size(base / "roja.jpg"));
    Pantalla p = *a["inicio"];
    a.usar(c, p);
    EXPECT_EQ(p.archivo, c.nombre);

    fs::remove_all(a.medios());  // nowhere to write the copy
    r.reset();
    a.importarEnFondo(base / "roja.jpg", "pausa", nullptr, [&](Almacen::Resultado x) { r = std::move(x); });
    ASSERT_TRUE(prueba::esperar([&] { return r.has_value(); }, 20));
    ASSERT_TRUE(std::holds_alternative<std::string>(*r));
    EXPECT_EQ(std::get<std::string>(*r).rfind("No se pudo copiar el archivo: ", 0), 0u);
    EXPECT_FALSE(fs::exists(a.medios()));
}

TEST_F(AlmacenTest, ImportarUnaImagenYSuMuestra) {
    Almacen a(base.ruta());
    Pantalla p = *a["inicio"];
    QImage roja(200, 100, QImage::Format_RGB32);
    roja.fill(Qt::red);
    ASSERT_TRUE(roja.save(QString::fromStdString((base / "Foto.PNG").string())));
    QImage azul(3000, 1000, QImage::Format_RGB32);
    azul.fill(Qt::blue);
    ASSERT_TRUE(azul.save(QString::fromStdString((base / "grande.jpg").string())));

    EXPECT_EQ(a.importar(base / "Foto.PNG", p), std::nullopt);
    ASSERT_TRUE(p.archivo);
    EXPECT_EQ(p.archivo->rfind("inicio-", 0), 0u);
    EXPECT_EQ(p.archivo->substr(p.archivo->size() - 4), ".png");
    EXPECT_FALSE(p.esVideo);
    auto m = a.muestra(p);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), QSize(200, 100));
    EXPECT_EQ(m->pixelColor(10, 10), QColor(Qt::red));

    // The cache answers without the file; removing the background forgets both.
    fs::path primera = *a.ruta(p);
    fs::remove(primera);
    EXPECT_TRUE(a.muestra(p));
    escribir(primera, "x");
    a.quitarFondo(p);
    EXPECT_FALSE(fs::exists(primera));
    EXPECT_FALSE(p.archivo);
    EXPECT_FALSE(a.muestra(p));

    EXPECT_EQ(a.importar(base / "grande.jpg", p), std::nullopt);
    m = a.muestra(p);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->width(), 1280);
    EXPECT_NEAR(m->height(), 427, 1);

    // A new import replaces the old file, even within the same second.
    fs::path segunda = *a.ruta(p);
    EXPECT_EQ(a.importar(base / "grande.jpg", p), std::nullopt);
    EXPECT_TRUE(fs::exists(*a.ruta(p)));
    if (*a.ruta(p) != segunda) {
        EXPECT_FALSE(fs::exists(segunda));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(a.medios()), fs::directory_iterator()), 1);
}

TEST_F(AlmacenTest, UnaMuestraFallidaSeReintentaYElIdNoSaleDeLosMedios) {
    Almacen a(base.ruta());
    Pantalla p = a.agregar();
    p.archivo = "roto.png";
    escribir(a.medios() / "roto.png", "\x89PNG\r\n\x1a\n y nada más");
    EXPECT_FALSE(a.muestra(p));
    QImage verde(64, 64, QImage::Format_RGB32);
    verde.fill(Qt::green);
    ASSERT_TRUE(verde.save(QString::fromStdString((a.medios() / "roto.png").string()), "PNG"));
    EXPECT_TRUE(a.muestra(p));

    Pantalla hostil;
    hostil.id = "../../fuera";
    ASSERT_TRUE(verde.save(QString::fromStdString((base / "v.png").string())));
    EXPECT_EQ(a.importar(base / "v.png", hostil), std::nullopt);
    ASSERT_TRUE(hostil.archivo);
    EXPECT_TRUE(esNombreLlano(*hostil.archivo));
    EXPECT_TRUE(fs::exists(a.medios() / *hostil.archivo));
}

TEST_F(AlmacenTest, SiNoSePuedeCopiarLoDice) {
    Almacen a(base.ruta());
    Pantalla p = *a["inicio"];
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    ASSERT_TRUE(img.save(QString::fromStdString((base / "i.png").string())));
    fs::remove_all(a.medios());
    auto error = a.importar(base / "i.png", p);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->rfind("No se pudo copiar el archivo: ", 0), 0u);
    EXPECT_GT(error->size(), std::string("No se pudo copiar el archivo: ").size());
    EXPECT_FALSE(p.archivo);
}

}  // namespace
}  // namespace tt
