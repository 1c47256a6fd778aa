#include "pantallas/pantalla.h"

#include <gtest/gtest.h>

namespace tt {
namespace {

TEST(Pantalla, EscribeLasClavesEnSuOrdenYSinArchivoCuandoNoHay) {
    Pantalla p;
    p.id = "x";
    std::vector<std::string> claves;
    const Json sinArchivo = aJson(p);
    for (auto& [k, v] : sinArchivo.items()) claves.push_back(k);
    const std::vector<std::string> orden = {
        "id", "nombre", "esVideo", "rellenar", "fondoTam", "fondoPos", "alTerminar", "volumen",
        "micro", "camara", "camTam", "camPos", "titulo", "subtitulo", "textoTam", "textoPos",
        "redes", "redesTam", "redesPos", "redesFila", "sinInternet"};
    EXPECT_EQ(claves, orden);

    p.archivo = "x-1.png";
    p.redes = {{"tiktok", "@yo"}};
    Json j = aJson(p);
    auto it = j.begin();
    ++it;
    ++it;
    EXPECT_EQ(it.key(), "archivo");
    EXPECT_EQ(j["redes"].dump(), R"([{"tipo":"tiktok","usuario":"@yo"}])");
    EXPECT_EQ(pantallaDeJson(j), p);
}

TEST(Pantalla, SoloElIdTomaTodoLoDemasPorDefecto) {
    bool perdio = false;
    Pantalla p = pantallaDeJson(Json::parse(R"({"id": "solo"})"), &perdio);
    Pantalla esperada;
    esperada.id = "solo";
    EXPECT_EQ(p, esperada);
    EXPECT_FALSE(perdio);
    EXPECT_EQ(p.nombre, "Pantalla nueva");
    EXPECT_DOUBLE_EQ(p.camTam, 0.32);
    EXPECT_EQ(p.camPos, 8);
    EXPECT_EQ(p.redesPos, 7);
    EXPECT_TRUE(p.rellenar);
    EXPECT_TRUE(p.redesFila);
    EXPECT_FALSE(p.archivo);
    // Without an id, each decoding makes its own.
    EXPECT_NE(pantallaDeJson(Json::object()).id, pantallaDeJson(Json::object()).id);
}

TEST(Pantalla, UnValorDeTipoEquivocadoTomaSuDefectoYSeNota) {
    Json j = Json::parse(R"({"id": 7, "nombre": ["a"], "esVideo": "si", "fondoTam": "grande",
        "fondoPos": 4.5, "camPos": 2.0, "camara": 99999999999, "micro": 1, "titulo": null,
        "textoTam": 0.9, "redes": {"tipo": "x"}, "sinInternet": true})");
    bool perdio = false;
    Pantalla p = pantallaDeJson(j, &perdio);
    EXPECT_TRUE(perdio);
    EXPECT_EQ(p.id.size(), 36u);  // a fresh UUID
    EXPECT_EQ(p.nombre, "Pantalla nueva");
    EXPECT_FALSE(p.esVideo);
    EXPECT_DOUBLE_EQ(p.fondoTam, 1.0);
    EXPECT_EQ(p.fondoPos, 4);
    EXPECT_EQ(p.camPos, 2);      // a whole number written with a point still counts
    EXPECT_EQ(p.camara, 0);      // beyond int
    EXPECT_FALSE(p.micro);       // a number is not a bool
    EXPECT_EQ(p.titulo, "");
    EXPECT_DOUBLE_EQ(p.textoTam, 0.9);
    EXPECT_TRUE(p.redes.empty());
    EXPECT_TRUE(p.sinInternet);
}

TEST(Pantalla, UnaRedIncompletaVaciaTodaLaFila) {
    auto redesDe = [](const char* texto) { return pantallaDeJson(Json::parse(texto)).redes; };
    EXPECT_EQ(redesDe(R"({"redes": [{"tipo": "kick", "usuario": "a"}, {"tipo": "x", "usuario": "b"}]})").size(), 2u);
    EXPECT_TRUE(redesDe(R"({"redes": [{"tipo": "kick", "usuario": "a"}, {"tipo": "x"}]})").empty());
    EXPECT_TRUE(redesDe(R"({"redes": [{"tipo": "kick", "usuario": 5}]})").empty());
    EXPECT_TRUE(redesDe(R"({"redes": ["kick"]})").empty());
    EXPECT_TRUE(redesDe(R"({"redes": "kick"})").empty());
}

TEST(Pantalla, UnArchivoQueEsRutaCuentaComoSinArchivo) {
    for (const char* malo : {"../../x", "/etc/passwd", "a/b", "..", ".", ""}) {
        bool perdio = false;
        Pantalla p = pantallaDeJson(Json{{"id", "a"}, {"archivo", malo}}, &perdio);
        EXPECT_FALSE(p.archivo) << malo;
        EXPECT_TRUE(perdio) << malo;
    }
    EXPECT_EQ(pantallaDeJson(Json{{"archivo", "a-1.mov"}}).archivo, "a-1.mov");
    EXPECT_EQ(pantallaDeJson(Json{{"archivo", "..mov"}}).archivo, "..mov");
    bool perdio = false;
    EXPECT_FALSE(pantallaDeJson(Json{{"archivo", nullptr}}, &perdio).archivo);
    EXPECT_FALSE(perdio);
    EXPECT_FALSE(esNombreLlano(std::string("a\0b", 3)));
}

TEST(Pantalla, ListaDeJsonExigeUnArregloDeObjetos) {
    EXPECT_EQ(pantallasDeJson(Json::parse("[]"))->size(), 0u);
    EXPECT_EQ(pantallasDeJson(Json::parse(R"([{"id":"a"},{"id":"b"}])"))->at(1).id, "b");
    EXPECT_FALSE(pantallasDeJson(Json::parse(R"({"id":"a"})")));
    EXPECT_FALSE(pantallasDeJson(Json::parse(R"([{"id":"a"}, 3])")));
    EXPECT_FALSE(pantallasDeJson(Json::parse("null")));
}

TEST(Pantalla, RedesVisiblesYDirecta) {
    Pantalla p;
    p.camara = 1;
    EXPECT_TRUE(p.esDirecta());
    p.redes = {{"instagram", "  "}, {"x", "\t\n"}, {"kick", "\u00a0"}};
    EXPECT_TRUE(p.redesVisibles().empty());
    EXPECT_TRUE(p.esDirecta());
    p.redes.push_back({"tiktok", " @yo "});
    ASSERT_EQ(p.redesVisibles().size(), 1u);
    EXPECT_EQ(p.redesVisibles()[0].tipo, "tiktok");
    EXPECT_FALSE(p.esDirecta());

    Pantalla q;
    q.camara = 1;
    q.subtitulo = "hola";
    EXPECT_FALSE(q.esDirecta());
    q.subtitulo.clear();
    q.archivo = "f.png";
    EXPECT_FALSE(q.esDirecta());
    q.archivo.reset();
    q.camara = 2;
    EXPECT_FALSE(q.esDirecta());
}

}  // namespace
}  // namespace tt
