#include "engine/camara_falsa.h"

#include "comun/cola.h"
#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace tt {
namespace {

QImage gris() {
    QImage i(320, 180, QImage::Format_RGB32);
    i.fill(QColor(128, 128, 128));
    return i;
}

TEST(CuadrosFalsos, SinRuidoUnSoloCuadroBt709) {
    auto lista = cuadrosFalsos(gris(), false);
    ASSERT_EQ(lista.size(), 1u);
    EXPECT_EQ(lista[0].ancho, 1920);
    EXPECT_EQ(lista[0].alto, 1080);
    EXPECT_TRUE(lista[0].bt709);
    EXPECT_EQ(lista[0].memoria->size(), bytesNv12(1920, 1080));
    EXPECT_TRUE(cuadrosFalsos(QImage(), true).empty());
}

TEST(CuadrosFalsos, ConRuidoDoceCopiasConElTercioDelMedioCambiado) {
    auto lista = cuadrosFalsos(gris(), true, 7);
    ASSERT_EQ(lista.size(), 13u);
    const Cuadro& base = lista[0];
    const std::size_t luma = std::size_t(1920) * 1080, tercio = luma / 3;
    for (std::size_t i = 1; i < lista.size(); ++i) {
        const Cuadro& c = lista[i];
        ASSERT_EQ(c.ancho, 1920);
        EXPECT_FALSE(c.mismaImagen(base));
        // Outside the middle third the luma is the base's; the chroma is untouched.
        EXPECT_EQ(std::memcmp(c.y(), base.y(), tercio), 0);
        EXPECT_EQ(std::memcmp(c.y() + 2 * tercio, base.y() + 2 * tercio, luma - 2 * tercio), 0);
        EXPECT_EQ(std::memcmp(c.uv(), base.uv(), luma / 2), 0);
        // The middle third is noise: nearly every byte differs from the flat grey.
        std::size_t distintos = 0;
        for (std::size_t k = tercio; k < 2 * tercio; ++k) distintos += c.y()[k] != base.y()[k];
        EXPECT_GT(distintos, tercio * 9 / 10);
    }
    // The noise differs from copy to copy.
    EXPECT_NE(std::memcmp(lista[1].y() + tercio, lista[2].y() + tercio, tercio), 0);
}

TEST(CamaraFalsa, CicloDeCuadrosConSuHora) {
    CamaraFalsa falsa(cuadrosFalsos(gris(), true), 25);
    ASSERT_EQ(falsa.cuantos(), 13u);
    std::vector<Cuadro> vistos;
    for (int k = 0; k < 27; ++k) vistos.push_back(falsa.siguiente(100 + k * 0.04));
    EXPECT_DOUBLE_EQ(vistos[3].hora, 100.12);
    EXPECT_DOUBLE_EQ(vistos[3].duracion, 1.0 / 25);
    // Frame k mod 13, handed out without copying its pixels.
    EXPECT_TRUE(vistos[13].mismaImagen(vistos[0]));
    EXPECT_TRUE(vistos[26].mismaImagen(vistos[0]));
    EXPECT_TRUE(vistos[14].mismaImagen(vistos[1]));
    EXPECT_FALSE(vistos[1].mismaImagen(vistos[0]));
}

TEST(CamaraFalsa, EntregaEnSuColaHastaQueSeVa) {
    Cola cola("prueba.video");
    std::mutex m;
    std::condition_variable cv;
    std::vector<Cuadro> recibidos;
    bool enSuCola = true;
    auto falsa = std::make_unique<CamaraFalsa>(cuadrosFalsos(gris(), false), 100);
    falsa->arrancar(cola, [&](const Cuadro& c) {
        std::lock_guard l(m);
        enSuCola = enSuCola && cola.enEsta();
        recibidos.push_back(c);
        cv.notify_all();
    });
    {
        std::unique_lock l(m);
        ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(10), [&] { return recibidos.size() >= 5; }));
        EXPECT_TRUE(enSuCola);
        for (std::size_t i = 1; i < recibidos.size(); ++i) EXPECT_GT(recibidos[i].hora, recibidos[i - 1].hora);
        EXPECT_DOUBLE_EQ(recibidos[0].duracion, 0.01);
    }
    cola.sincrono([&] { falsa.reset(); });
    std::size_t al;
    {
        std::lock_guard l(m);
        al = recibidos.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard l(m);
    EXPECT_EQ(recibidos.size(), al);
}

TEST(LeerImagenFalsa, AnchoMaximoYArchivosMalos) {
    prueba::CarpetaTemporal dir;
    QImage grande(3840, 2160, QImage::Format_RGB32);
    grande.fill(Qt::green);
    ASSERT_TRUE(grande.save(QString::fromStdString((dir / "grande.png").string())));
    const QImage leida = leerImagenFalsa((dir / "grande.png").string());
    EXPECT_EQ(leida.size(), QSize(1920, 1080));
    EXPECT_TRUE(leerImagenFalsa((dir / "no-existe.png").string()).isNull());
    prueba::escribir(dir / "roto.png", std::string("\x89PNG\r\n\x1a\nbasura", 15));
    EXPECT_TRUE(leerImagenFalsa((dir / "roto.png").string()).isNull());
}

}  // namespace
}  // namespace tt
