#include "pantallas/sonido_archivo.h"

#include "soporte/soporte.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tt {
namespace {

// A sound of one constant value, noting what it was asked for.
class SonidoFijo : public FuenteSonido {
public:
    explicit SonidoFijo(std::int16_t v) : v_(v) {}
    std::vector<std::int16_t> leer(int n, double x) override {
        pedidos.push_back({n, x});
        return std::vector<std::int16_t>(std::size_t(n) * 2, v_);
    }
    std::vector<std::pair<int, double>> pedidos;

private:
    std::int16_t v_;
};

std::vector<std::uint8_t> bloque(std::initializer_list<std::int16_t> muestras) {
    std::vector<std::uint8_t> b(muestras.size() * 2);
    std::memcpy(b.data(), std::data(muestras), b.size());
    return b;
}

std::vector<std::int16_t> muestras(const std::vector<std::uint8_t>& b) {
    std::vector<std::int16_t> m(b.size() / 2);
    std::memcpy(m.data(), b.data(), m.size() * 2);
    return m;
}

const ReglaMezcla kSonando{true, 1.0, 2.5, true};

TEST(Mezclar, SumaConTopeEnAmbosExtremos) {
    SonidoFijo video(10000);
    auto b = bloque({30000, -30000, 100, -100, 22767, -22768});
    mezclar(b, true, kSonando, &video);
    EXPECT_EQ(muestras(b), (std::vector<std::int16_t>{32767, -20000, 10100, 9900, 32767, -12768}));
    ASSERT_EQ(video.pedidos.size(), 1u);
    EXPECT_EQ(video.pedidos[0].first, 3);  // 12 bytes: three stereo frames of 4 bytes
    EXPECT_DOUBLE_EQ(video.pedidos[0].second, 2.5);

    SonidoFijo grave(-20000);
    auto c = bloque({-20000, -20000, 5, 5});
    mezclar(c, true, kSonando, &grave);
    EXPECT_EQ(muestras(c), (std::vector<std::int16_t>{-32768, -32768, -19995, -19995}));
}

TEST(Mezclar, VolumenYCondicionesDelVideo) {
    SonidoFijo video(1000);
    auto medio = bloque({0, 0});
    mezclar(medio, true, {true, 0.5, 0, true}, &video);
    EXPECT_EQ(muestras(medio), (std::vector<std::int16_t>{500, 500}));

    // Silent volume, unknown time, a paused or ended picture, no sound: nothing is added and the
    // sound is not even read (so it does not advance).
    for (ReglaMezcla r : {ReglaMezcla{true, 0.005, 1, true}, ReglaMezcla{true, 1, -1, true},
                          ReglaMezcla{true, 1, 1, false}}) {
        SonidoFijo s(1000);
        auto b = bloque({7, 7});
        mezclar(b, true, r, &s);
        EXPECT_EQ(muestras(b), (std::vector<std::int16_t>{7, 7}));
        EXPECT_TRUE(s.pedidos.empty());
    }
    auto b = bloque({7, 7});
    mezclar(b, true, kSonando, nullptr);
    EXPECT_EQ(muestras(b), (std::vector<std::int16_t>{7, 7}));
}

TEST(Mezclar, MicrofonoCerradoYFormatosAjenos) {
    // Microphone closed on this screen: only the video's sound goes out.
    SonidoFijo video(300);
    auto b = bloque({9000, -9000, 1, 2});
    mezclar(b, true, {false, 1, 0, true}, &video);
    EXPECT_EQ(muestras(b), (std::vector<std::int16_t>{300, 300, 300, 300}));

    // A block in another format: the microphone rule holds, the video's sound is not mixed.
    SonidoFijo otro(300);
    auto f = bloque({9000, -9000, 1, 2});
    mezclar(f, false, {false, 1, 0, true}, &otro);
    EXPECT_EQ(muestras(f), (std::vector<std::int16_t>{0, 0, 0, 0}));
    auto g = bloque({9000, -9000});
    mezclar(g, false, kSonando, &otro);
    EXPECT_EQ(muestras(g), (std::vector<std::int16_t>{9000, -9000}));
    EXPECT_TRUE(otro.pedidos.empty());

    std::vector<std::uint8_t> vacio;
    mezclar(vacio, true, kSonando, &otro);
    EXPECT_TRUE(vacio.empty());
}

TEST(SonidoArchivo, ArchivosSinSonidoNoAbren) {
    prueba::CarpetaTemporal dir;
    EXPECT_FALSE(SonidoArchivo::abrir((dir / "no-existe.mp4").string()));
    prueba::escribir(dir / "basura.mp4", std::string(4096, '\x07'));
    EXPECT_FALSE(SonidoArchivo::abrir((dir / "basura.mp4").string()));
    prueba::escribir(dir / "vacio.mp4", "");
    EXPECT_FALSE(SonidoArchivo::abrir((dir / "vacio.mp4").string()));
}

}  // namespace
}  // namespace tt
