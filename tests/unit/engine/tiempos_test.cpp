#include "engine/tiempos.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tt;

namespace {
// A transmission whose first frame arrives at `t` with a microphone absent.
Tiempos enMarcha(double t, double duracion = 1.0 / 60) {
    Tiempos x;
    x.armar(t);
    auto o = x.origen(t, duracion, 1920, 1080, 2, false, t, false);
    EXPECT_TRUE(o.arrancar);
    return x;
}

const FormatoAudio f{48000, 2, 16, false};

// A transmission at 0 with a microphone whose first buffer came before the first frame.
Tiempos conMicrofono(double duracion) {
    Tiempos x;
    x.armar(0);
    x.audio(0, 480, f, 0, false, false, false, 0);
    x.origen(0, duracion, 1920, 1080, 2, true, 0, false);
    return x;
}
}  // namespace

TEST(Tiempos, cuadrosPorSegundoDelPrimerCuadro) {
    struct { double duracion; int cps; } casos[] = {{1.0 / 25, 25}, {1.0 / 120, 60}, {1.0 / 5, 30}, {0, 60}, {1.0 / 30, 30}};
    for (auto c : casos) EXPECT_EQ(enMarcha(100, c.duracion).formato.cps, c.cps) << c.duracion;
}

TEST(Tiempos, esperaAlAudioHastaUnSegundoYMedio) {
    Tiempos x;
    x.armar(10);
    EXPECT_TRUE(x.origen(10.1, 1.0 / 60, 1280, 720, 2, true, 10.1, false).soltar);
    EXPECT_FALSE(x.t0);
    auto o = x.origen(11.6, 1.0 / 60, 1280, 720, 2, true, 11.6, false);
    EXPECT_TRUE(o.arrancar);
    EXPECT_EQ(x.t0, 11.6);
    EXPECT_EQ(x.formato.hz, 48000);
    EXPECT_EQ(x.formato.bytesMuestra, 2);
    // A microphone that starts after that is ignored for the whole transmission.
    auto a = x.audio(11.7, 480, {44100, 1, 32, true}, 11.7, true, true, false, 0);
    EXPECT_FALSE(a.escribir);
    EXPECT_FALSE(x.primeroA);
    EXPECT_EQ(x.formato.hz, 48000);
}

TEST(Tiempos, elOrigenEsElMasTardeDeVideoYAudio) {
    Tiempos x;
    x.armar(10);
    x.audio(10.2, 480, {44100, 1, 32, true}, 10.2, false, false, true, 0);
    auto o = x.origen(10.1, 1.0 / 30, 1280, 720, 2, true, 10.3, true);
    EXPECT_TRUE(o.arrancar);
    EXPECT_EQ(x.t0, 10.2);
    EXPECT_EQ(x.formato.hz, 44100);
    EXPECT_TRUE(x.formato.flotante);
    EXPECT_EQ(x.formato.bytesMuestra, 4);
    ASSERT_EQ(o.bitacora.size(), 1u);
    EXPECT_EQ(o.bitacora[0], "arranque: video 10.100, audio 10.200, t0 10.200");
}

TEST(Tiempos, copiasDeCuadrosTardiosYDuplicados) {
    Tiempos x = enMarcha(0);
    EXPECT_EQ(x.colocar(0, true, true, false, 0).copias, 1);
    EXPECT_TRUE(x.colocar(0.0, true, true, false, 0.0).copias == 0);  // same index: neither written nor skipped
    EXPECT_EQ(x.saltados, 0);
    // 2.6 periods after the last written frame.
    EXPECT_EQ(x.colocar(2.6 / 60, true, true, false, 2.6 / 60).copias, 3);
    EXPECT_EQ(x.escritosV, 4);
    EXPECT_EQ(x.colocar(-0.01, true, true, false, -0.01).copias, 0);  // before the origin
    EXPECT_EQ(x.colocar(1, true, false, false, 1).copias, 0);      // no pipe
}

TEST(Tiempos, laCamaraParaCincoSegundosYSeRecupera) {
    Tiempos x = enMarcha(0);
    int i = 0;
    for (; i < 60; ++i) {
        ASSERT_EQ(x.colocar(i / 60.0, true, true, false, i / 60.0).copias, 1);
        x.videoEscrito();
    }
    i += 300;  // five seconds without frames
    int cuatros = 0;
    for (;; ++i) {
        int c = x.colocar(i / 60.0, true, true, false, i / 60.0).copias;
        x.videoEscrito();
        if (c == 1) break;
        ASSERT_EQ(c, 4);
        ++cuatros;
    }
    EXPECT_EQ(cuatros, 100);  // 300 missing frames caught up three at a time
    EXPECT_EQ(x.escritosV, i + 1);
}

TEST(Tiempos, contrapresionYCambioDeTamano) {
    Tiempos x = enMarcha(0);
    for (int i = 0; i < 31; ++i) EXPECT_EQ(x.colocar(i / 60.0, true, true, false, i / 60.0).copias, 1);
    EXPECT_EQ(x.colocar(40 / 60.0, true, true, false, 40 / 60.0).copias, 0);
    EXPECT_EQ(x.saltados, 4);
    auto o = x.origen(1, 1.0 / 60, 1280, 720, 2, false, 1, false);
    EXPECT_TRUE(o.soltar);
    ASSERT_EQ(o.bitacora.size(), 1u);
    EXPECT_EQ(o.bitacora[0], "la cámara cambió de tamaño al aire: 1280x720 en vez de 1920x1080; esos cuadros se saltan");
    EXPECT_TRUE(x.origen(1, 1.0 / 60, 1280, 720, 2, false, 1, false).bitacora.empty());  // logged once
    EXPECT_TRUE(x.origen(1, 1.0 / 60, 1920, 1080, 1, false, 1, false).soltar);            // one plane only
    EXPECT_EQ(x.saltados, 7);
}

TEST(Tiempos, pausaSinRedYContinuaSinSalto) {
    Tiempos x = enMarcha(0);
    for (int i = 0; i < 60; ++i) x.colocar(i / 60.0, true, true, false, i / 60.0), x.videoEscrito();
    EXPECT_EQ(x.colocar(60 / 60.0, true, true, false, 60 / 60.0).copias, 1);
    x.videoEscrito();
    auto p = x.colocar(2.0, true, true, true, 2.0);
    EXPECT_EQ(p.copias, 0);
    EXPECT_EQ(p.bitacora, std::vector<std::string>{"sin internet: transmisión en pausa"});
    EXPECT_TRUE(x.colocar(3.0, true, true, true, 3.0).bitacora.empty());
    auto v = x.colocar(4.0, true, true, false, 4.0);
    EXPECT_EQ(v.bitacora, std::vector<std::string>{"volvió el internet: sigue la transmisión"});
    EXPECT_TRUE(v.volvio);  // the engine asks for a key frame then
    EXPECT_EQ(v.copias, 1);
    EXPECT_EQ(x.escritosV, 62);  // the count continues, no jump
    x.videoEscrito();
    EXPECT_FALSE(x.colocar(4.0 + 1 / 60.0, true, true, false, 4.0 + 1 / 60.0).volvio);  // once
}

TEST(Tiempos, silencioPorCopiaSinMicrofono) {
    Tiempos x = enMarcha(0);
    EXPECT_TRUE(x.colocar(0, true, true, false, 0).silencio);
}

TEST(Tiempos, huecosYSolapesDeAudio) {
    Tiempos x = conMicrofono(1.0 / 60);
    auto a = x.audio(0, 480, f, 0, true, true, false, 0);
    EXPECT_TRUE(a.escribir);
    EXPECT_TRUE(a.mezclaSimple);
    EXPECT_EQ(a.silencio, 0);
    // 50 ms late: 2400 frames of silence first.
    a = x.audio(0.01 + 0.05, 480, f, 0, true, true, false, 0);
    EXPECT_EQ(a.silencio, 2400);
    EXPECT_EQ(x.escritasA, 480 + 2400 + 480);
    // 5 ms late: written as is.
    a = x.audio(double(x.escritasA) / 48000 + 0.005, 480, f, 0, true, true, false, 0);
    EXPECT_EQ(a.silencio, 0);
    EXPECT_EQ(a.corte, 0);
    // 20 ms early: overlap cut from the head.
    std::int64_t antes = x.escritasA;
    a = x.audio(double(antes) / 48000 - 0.02, 480, f, 0, true, true, false, 0);
    EXPECT_EQ(a.corte, 960 > 480 ? 480 : 960);
    EXPECT_EQ(x.escritasA, antes);
    // A ten-second gap: at most three seconds of silence at once.
    a = x.audio(double(x.escritasA) / 48000 + 10, 480, f, 0, true, true, false, 0);
    EXPECT_EQ(a.silencio, 3 * 48000);
}

// A microphone that stops on air: after a second without its audio the frames carry silence up to
// where the picture is, logged and reported once; when it delivers again its buffers are placed
// by their own times, without a second copy of what the silence covered.
TEST(Tiempos, microfonoQueCallaAlAire) {
    Tiempos x = conMicrofono(1.0 / 30);
    int i = 0;
    for (; i < 30; ++i) {  // one second of both, the audio arriving with its frames
        ASSERT_EQ(x.colocar(i / 30.0, true, true, false, i / 30.0).callado, 0);
        x.videoEscrito();
        x.audio(i / 30.0, 1600, f, i / 30.0, true, true, false, 0);
    }
    for (; i < 60; ++i) {  // the microphone is gone: a second of grace
        ASSERT_EQ(x.colocar(i / 30.0, true, true, false, i / 30.0).callado, 0) << i;
        x.videoEscrito();
    }
    auto c = x.colocar(2.0, true, true, false, 2.0);
    x.videoEscrito();
    EXPECT_TRUE(c.microCallo);
    EXPECT_EQ(c.bitacora, std::vector<std::string>{"micrófono: no llega sonido; la transmisión sigue en silencio"});
    EXPECT_EQ(c.inicioCallado, 30 * 1600);
    EXPECT_EQ(x.escritasA, 61 * 1600);  // up to the end of frame 60
    c = x.colocar(61 / 30.0, true, true, false, 61 / 30.0);
    EXPECT_FALSE(c.microCallo);
    EXPECT_EQ(c.callado, 1600);
    // Back, with a buffer that starts inside what the silence already covered.
    const auto a = x.audio(61.5 / 30, 1600, f, 62 / 30.0, true, true, false, 0);
    EXPECT_TRUE(a.microVolvio);
    EXPECT_EQ(a.corte, 800);
    EXPECT_EQ(x.escritasA, 62 * 1600 + 800);
    x.videoEscrito();
    EXPECT_EQ(x.colocar(62 / 30.0, true, true, false, 62 / 30.0).callado, 0);
}

TEST(Tiempos, empaquetado) {
    // 4×2 picture from planes with padding; the chroma plane is too short and stays zero.
    std::uint8_t y[2][6] = {{1, 2, 3, 4, 9, 9}, {5, 6, 7, 8, 9, 9}};
    std::uint8_t uv[1][6] = {{10, 11, 12, 13, 9, 9}};
    std::uint8_t destino[12];
    std::memset(destino, 0xee, sizeof destino);
    empacarNv12(&y[0][0], 6, 2, &uv[0][0], 6, 1, 4, 2, destino);
    std::uint8_t esperado[12] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13};
    EXPECT_EQ(0, std::memcmp(destino, esperado, 12));
    empacarNv12(&y[0][0], 3, 2, &uv[0][0], 6, 0, 4, 2, destino);
    for (auto b : destino) EXPECT_EQ(b, 0);
}

TEST(Relevo, cuadroDesfaseYMuestra) {
    // The switch frame follows the clock, never behind what was already written; the old encoder's
    // picture is carried up to it by repeats, a second at most.
    EXPECT_EQ(cuadroDeRelevo(148, 10.0, 5.0, 30).cuadro, 150);
    EXPECT_EQ(cuadroDeRelevo(148, 10.0, 5.0, 30).relleno, 2);
    EXPECT_EQ(cuadroDeRelevo(100, 10.0, 5.0, 30).relleno, 30);
    EXPECT_EQ(cuadroDeRelevo(200, 10.0, 5.0, 30).cuadro, 200);
    EXPECT_EQ(cuadroDeRelevo(200, 10.0, 5.0, 30).relleno, 0);
    // Frame 6000 at 30 cps after a handover at 3000 with offset 100 s: 200 s.
    EXPECT_DOUBLE_EQ(desfaseDeRelevo(false, 5000u, 6000, 3000, 30, 100.0), 200.0);
    // Urgent: after the old reader's last tag, whatever the frame count says.
    EXPECT_DOUBLE_EQ(desfaseDeRelevo(true, 123456u, 6000, 3000, 30, 100.0), 123.556);
    EXPECT_DOUBLE_EQ(desfaseDeRelevo(true, std::nullopt, 6000, 3000, 30, 100.0), 0.1);
    EXPECT_EQ(muestraDeRelevo(48000, 9000, 60), 7200000);
    EXPECT_EQ(muestraDeRelevo(44100, 1001, 30), 1471470);  // 1471470.0 exactly
    EXPECT_EQ(muestraDeRelevo(44100, 1, 60), 735);
}

TEST(Relevo, audioPartidoEnLaMuestra) {
    // 1024 frames from 7 199 500 with the switch at 7 200 000: 500 old, 524 new.
    EXPECT_EQ(antesDelRelevo(7200000, 7199500, 1024), 500);
    EXPECT_EQ(antesDelRelevo(7200000, 7200100, 1024), 0);     // all past the switch
    EXPECT_EQ(antesDelRelevo(7200000, 7190000, 1024), 1024);  // all before it

    // The placed start index is what the split counts from, silence included.
    Tiempos x = conMicrofono(1.0 / 60);
    EXPECT_EQ(x.audio(0, 480, f, 0, true, true, false, 0).inicio, 0);
    auto a = x.audio(0.01 + 0.05, 480, f, 0, true, true, false, 0);  // 50 ms late: silence first
    EXPECT_EQ(a.inicio, 480);
    EXPECT_EQ(antesDelRelevo(480 + 1000, a.inicio, a.silencio + 480), 1000);
}
