#include "channels/canales.h"
#include "channels/eleccion.h"
#include "channels/formulario.h"

#include "comun/proceso.h"
#include "pantallas/almacen.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QSettings>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tt {
namespace {

namespace fs = std::filesystem;
using prueba::CarpetaTemporal;
using prueba::escribir;
using prueba::leer;

Canal canal(const std::string& id, const std::string& nombre, const std::string& clave = "sk_secreta_123") {
    return Canal{id, nombre, Canal::servidorKick, clave};
}

class CanalesTest : public ::testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::setOrganizationName("Tremolante Pruebas");
        QCoreApplication::setApplicationName("pruebas_canales");
        fs::create_directories(cuenta);
    }
    CarpetaTemporal raiz;
    fs::path datos = raiz.ruta();
    fs::path cuenta = raiz / "cuentas" / "abc";
};

TEST_F(CanalesTest, SinArchivoNoHayCanalesYGuardarEscribeSoloParaElUsuario) {
    Canales c(cuenta, datos);
    EXPECT_TRUE(c.lista.empty());
    EXPECT_FALSE(c.cuentaEsDatos());
    c.guardar(canal("a", "Uno"));
    c.guardar(canal("b", "Dos"));
    c.guardar(canal("a", "Uno renombrado"));
    ASSERT_EQ(c.lista.size(), 2u);
    EXPECT_EQ(c.lista[0].nombre, "Uno renombrado");
    EXPECT_EQ(c["b"]->nombre, "Dos");
    EXPECT_FALSE(c["z"]);
    struct stat st {};
    ASSERT_EQ(::stat(c.archivo().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // stream keys inside

    Canales otra(cuenta, datos);
    EXPECT_EQ(otra.lista, c.lista);
    EXPECT_EQ(leer(carpetaLog() / "app.log").find("sk_secreta_123"), std::string::npos);
}

TEST_F(CanalesTest, UnArchivoDanadoNoSePierdeAlGuardar) {
    const std::string malo = R"([{"id":"a","nombre":"Uno","servidor":"rtmps://h/app/","clave":"sk_1"}, {"id":"b"}])";
    for (const std::string& contenido : {std::string("[{\"id\": \"a\",,}]"), malo, std::string(R"({"id":"a"})"),
                                         std::string("\xff\xfe[]")}) {
        escribir(cuenta / "canales.json", contenido);
        fs::remove(cuenta / "canales.json.dañado");
        Canales c(cuenta, datos);
        EXPECT_TRUE(c.lista.empty());
        c.guardar(canal("n", "Nuevo"));
        EXPECT_EQ(leer(cuenta / "canales.json.dañado"), contenido);
        EXPECT_EQ(Canales(cuenta, datos).lista.size(), 1u);
    }
    EXPECT_NE(leer(carpetaLog() / "app.log").find("canales.json estaba dañado"), std::string::npos);
}

TEST_F(CanalesTest, LosAnterioresVienenDeLaCarpetaDeDatos) {
    Canales deAntes(datos, datos);
    EXPECT_TRUE(deAntes.cuentaEsDatos());
    deAntes.guardar(canal("viejo", "De antes"));
    EXPECT_TRUE(deAntes.anteriores.empty());  // same folder: nothing earlier

    fs::create_directories(datos / "canales" / "viejo" / "pantallas");
    escribir(datos / "canales" / "viejo" / "pantallas.json", "[]");
    escribir(datos / "canales" / "viejo" / "pantallas" / "f.png", "fondo");

    Canales c(cuenta, datos);
    ASSERT_EQ(c.anteriores.size(), 1u);
    EXPECT_EQ(anterioresLibres(c).size(), 1u);
    EXPECT_EQ(notaAnterior(c.anteriores[0]), "Datos de «De antes» puestos. Revisa y guarda.");
    c.guardar(c.anteriores[0]);
    EXPECT_TRUE(anterioresLibres(c).empty());
    EXPECT_EQ(leer(cuenta / "canales" / "viejo" / "pantallas" / "f.png"), "fondo");
    EXPECT_EQ(leer(cuenta / "canales" / "viejo" / "pantallas.json"), "[]");
    EXPECT_TRUE(fs::exists(datos / "canales" / "viejo" / "pantallas.json"));  // copied, not moved

    // A folder already there under the account is left as it is.
    escribir(datos / "canales" / "viejo" / "pantallas.json", "cambiado");
    c.eliminar("viejo");
    fs::create_directories(cuenta / "canales" / "viejo");
    c.guardar(c.anteriores[0]);
    EXPECT_FALSE(fs::exists(cuenta / "canales" / "viejo" / "pantallas.json"));
}

TEST_F(CanalesTest, EliminarBorraSuCarpetaYNadaFueraDeCanales) {
    Canales c(cuenta, datos);
    c.guardar(canal("a", "Uno"));
    fs::create_directories(c.carpeta("a") / "pantallas");
    escribir(c.carpeta("a") / "pantallas.json", "[]");
    c.eliminar("a");
    EXPECT_TRUE(c.lista.empty());
    EXPECT_FALSE(fs::exists(c.carpeta("a")));
    EXPECT_TRUE(Canales(cuenta, datos).lista.empty());

    // Ids that are paths: each gets a folder inside "canales", and deleting stays there.
    escribir(cuenta / "importante.txt", "no borrar");
    escribir(datos / "otro.txt", "no borrar");
    const std::vector<std::string> hostiles = {"..", "../..", "../../..", "/", "/tmp", ".", "", "a/../..", std::string("x\0y", 3)};
    for (const std::string& id : hostiles) {
        fs::path carpeta = c.carpeta(id);
        EXPECT_EQ(carpeta.parent_path(), cuenta / "canales") << id;
        EXPECT_TRUE(esNombreLlano(carpeta.filename().string())) << id;
        c.guardar(canal(id, "Hostil"));
        c.eliminar(id);
    }
    EXPECT_NE(c.carpeta("a/b"), c.carpeta("a_b"));
    EXPECT_EQ(leer(cuenta / "importante.txt"), "no borrar");
    EXPECT_EQ(leer(datos / "otro.txt"), "no borrar");
    EXPECT_TRUE(fs::exists(cuenta / "canales.json"));
}

TEST_F(CanalesTest, ElCanalElegido) {
    Canales c(cuenta, datos);
    EXPECT_FALSE(canalElegido(c, std::nullopt));
    EXPECT_FALSE(canalElegido(c, std::string("a")));
    c.guardar(canal("a", "Uno"));
    c.guardar(canal("b", "Dos"));
    EXPECT_EQ(canalElegido(c, std::nullopt)->id, "a");
    EXPECT_EQ(canalElegido(c, std::string("b"))->id, "b");
    EXPECT_EQ(canalElegido(c, std::string("borrado"))->id, "a");

    QSettings preferidas;
    preferidas.remove("canal");
    EXPECT_EQ(canalElegido(c, preferidas)->id, "a");
    preferidas.setValue("canal", "b");
    EXPECT_EQ(canalElegido(c, preferidas)->id, "b");
    preferidas.remove("canal");
}

TEST_F(CanalesTest, CargarSoloCuandoCambiaElCanal) {
    auto a = canal("a", "Uno"), b = canal("b", "Dos");
    EXPECT_FALSE(hayQueCargar(a, std::string("a"), true, false));
    EXPECT_TRUE(hayQueCargar(a, std::string("a"), true, true));
    EXPECT_TRUE(hayQueCargar(a, std::string("a"), false, false));
    EXPECT_TRUE(hayQueCargar(b, std::string("a"), true, false));
    EXPECT_TRUE(hayQueCargar(a, std::nullopt, true, false));
    EXPECT_TRUE(hayQueCargar(std::nullopt, std::string("a"), true, false));
    EXPECT_FALSE(hayQueCargar(std::nullopt, std::nullopt, true, false));
}

TEST_F(CanalesTest, LasPantallasDeAntesPasanAlPrimerCanalUnaSolaVez) {
    // No account folder of its own: screens made before channels live in the data folder.
    Almacen previo(datos);
    Pantalla mia = previo.agregar();
    mia.archivo = "mia.png";
    previo.actualizar(mia);
    escribir(datos / "pantallas" / "mia.png", "fondo");

    Canales c(datos, datos);
    c.guardar(canal("a", "Uno"));
    std::optional<std::string> cargado;
    auto almacen = abrirCanal(c, c["a"], &previo, cargado);  // writes the pending change first
    EXPECT_EQ(cargado, "a");
    EXPECT_EQ(almacen->lista(), c.carpeta("a") / "pantallas.json");
    ASSERT_TRUE((*almacen)[mia.id]);
    EXPECT_EQ(leer(*almacen->ruta(*(*almacen)[mia.id])), "fondo");
    EXPECT_FALSE(fs::exists(datos / "pantallas.json"));
    EXPECT_FALSE(fs::exists(datos / "pantallas" / "mia.png"));
    int audios = 0;
    for (const Pantalla& p : almacen->pantallas()) audios += p.id == "audio";
    EXPECT_EQ(audios, 1);

    // The second channel starts with its own default screens.
    c.guardar(canal("b", "Dos"));
    auto otro = abrirCanal(c, c["b"], almacen.get(), cargado);
    EXPECT_EQ(cargado, "b");
    EXPECT_FALSE((*otro)[mia.id]);
    EXPECT_EQ(otro->pantallas().size(), 5u);

    // Without a channel the store is the account folder's.
    auto sinCanal = abrirCanal(c, std::nullopt, otro.get(), cargado);
    EXPECT_FALSE(cargado);
    EXPECT_EQ(sinCanal->lista(), datos / "pantallas.json");
}

TEST_F(CanalesTest, ConCuentaPropiaNoSeMueveNada) {
    escribir(datos / "pantallas.json", R"([{"id": "vieja"}])");
    Canales c(cuenta, datos);
    c.guardar(canal("a", "Uno"));
    fs::path base = baseDeCanal(c, c["a"]);
    EXPECT_EQ(base, cuenta / "canales" / "a");
    EXPECT_TRUE(fs::is_directory(base));
    EXPECT_TRUE(fs::exists(datos / "pantallas.json"));
    EXPECT_FALSE(fs::exists(base / "pantallas.json"));
    EXPECT_EQ(baseDeCanal(c, std::nullopt), cuenta);
}

TEST_F(CanalesTest, MonoPorCanalYMenu) {
    QSettings preferidas;
    preferidas.setValue("mono", true);
    preferidas.remove("mono.a");
    EXPECT_TRUE(mezclarMono(preferidas, canal("a", "Uno")));
    preferidas.setValue("mono.a", false);
    EXPECT_FALSE(mezclarMono(preferidas, canal("a", "Uno")));
    EXPECT_TRUE(mezclarMono(preferidas, std::nullopt));
    preferidas.remove("mono");
    preferidas.remove("mono.a");

    Canales c(cuenta, datos);
    MenuCanales vacio = menuCanales(c, std::nullopt);
    ASSERT_EQ(vacio.items.size(), 3u);
    EXPECT_EQ(vacio.items[0].titulo, "Sin canal: agrega el tuyo");
    EXPECT_EQ(vacio.items[0].marca, "+");
    EXPECT_TRUE(vacio.items[1].separador);
    EXPECT_EQ(vacio.items[2].titulo, "Editar canales…");
    EXPECT_EQ(vacio.items[2].marca, "+");
    EXPECT_EQ(vacio.elegido, 0);
    EXPECT_EQ(vacio.tituloPantallas, "Pantallas");

    c.guardar(canal("a", "Uno"));
    c.guardar(canal("b", "Dos"));
    MenuCanales m = menuCanales(c, c["b"]);
    ASSERT_EQ(m.items.size(), 4u);
    EXPECT_EQ(m.items[1].marca, "b");
    EXPECT_EQ(m.elegido, 1);
    EXPECT_EQ(m.tituloPantallas, "Pantallas de Dos");
}

TEST_F(CanalesTest, GuardarActualRevisaEnOrden) {
    Canales c(cuenta, datos);
    c.guardar(canal("a", "Ñandú TV"));
    auto probar = [&](Canal f) { return guardarActual(c, f, true); };

    Canal f = Canal::nuevo();
    f.nombre = "  ";
    f.clave = "sk x";
    f.servidor = "http://mal";
    auto r = probar(f);
    EXPECT_FALSE(r.guardado);
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.nota, "Ponle el nombre del canal, como aparece en Kick.");
    f.nombre = " ñandú tv ";
    EXPECT_EQ(probar(f).nota, "Ya hay un canal con ese nombre.");
    f.nombre = "Otro";
    f.clave = " \n";
    EXPECT_EQ(probar(f).nota, "Falta la clave de transmisión.");
    f.clave = "sk x";
    EXPECT_EQ(probar(f).nota, "La URL del servidor debe empezar con rtmps:// (o rtmp://) y la clave va sin espacios.");
    EXPECT_EQ(guardarActual(c, f, false).nota, "");
    EXPECT_EQ(c.lista.size(), 1u);

    f.clave = " sk_bien \n";
    f.servidor = "  ";
    r = probar(f);
    EXPECT_TRUE(r.guardado);
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.nota, "Guardado.");
    EXPECT_EQ(r.canal.servidor, Canal::servidorKick);
    EXPECT_EQ(r.canal.clave, "sk_bien");
    ASSERT_EQ(c.lista.size(), 2u);
    EXPECT_EQ(c[f.id]->clave, "sk_bien");

    // The same channel may keep its own name in another case.
    Canal a = *c["a"];
    a.nombre = "ÑANDÚ TV";
    EXPECT_TRUE(guardarActual(c, a, true).guardado);
    EXPECT_EQ(c["a"]->nombre, "ÑANDÚ TV");
    EXPECT_EQ(preguntaEliminar(a), "¿Eliminar el canal «ÑANDÚ TV»?");
}

}  // namespace
}  // namespace tt
