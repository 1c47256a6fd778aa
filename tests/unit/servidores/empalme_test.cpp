#include "relay/empalme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

using namespace tt::relay;

namespace {

// Bodies carry the name of the encoder that made them ("S1", "S2"; "P" for the picture) after
// their codec header, so a model player can tell which configuration and key frame each needs.
std::string avc(int tipoCuadro, int paquete, const std::string& quien) {
    std::string b{char(tipoCuadro << 4 | 7), char(paquete), 0, 0, 0};
    return b + quien;
}
std::string aac(int paquete, const std::string& quien) { return std::string{char(0xAF), char(paquete)} + quien; }
// The encoder's name; its frames add "#" and their number.
std::string quien(const Etiqueta& e) {
    auto q = e.cuerpo.substr(e.tipo == 9 ? 5 : 2);
    return q.substr(0, q.find('#'));
}
bool esClave(const Etiqueta& e) { return e.tipo == 9 && (std::uint8_t(e.cuerpo[0]) >> 4) == 1; }
bool esConfig(const Etiqueta& e) { return e.cuerpo[1] == 0; }

Relleno imagen() {
    Relleno r;
    r.configVideo = avc(1, 0, "P");
    for (int i = 0; i < 15; ++i) r.cuadros.push_back(avc(i == 0 ? 1 : 2, 1, "P"));
    r.configAudio = aac(0, "cfg");
    r.audio = aac(1, "P");
    r.msAudio = 1024.0 / 48;
    return r;
}

// What a player needs of the published stream: each frame decoded with its own encoder's
// configuration and after its own key frame, time stamps strictly increasing per track.
struct Reproductor {
    std::string configV, configA, gop;
    std::vector<Etiqueta> video, audio;  // frames, in order
    std::vector<std::string> fallos;

    void ver(const Etiqueta& e) {
        auto& pista = e.tipo == 9 ? video : audio;
        if (esConfig(e)) {
            (e.tipo == 9 ? configV : configA) = quien(e);
            if (!pista.empty() && e.ms < pista.back().ms) fallos.push_back("configuración hacia atrás");
            return;
        }
        if (!pista.empty() && e.ms <= pista.back().ms)
            fallos.push_back(quien(e) + " a " + std::to_string(e.ms) + " tras " + std::to_string(pista.back().ms));
        if (e.tipo == 9) {
            if (quien(e) != configV) fallos.push_back("cuadro de " + quien(e) + " con la configuración de " + configV);
            if (esClave(e)) gop = quien(e);
            else if (gop != quien(e)) fallos.push_back("cuadro de " + quien(e) + " tras la clave de " + gop);
        } else if (configA.empty()) {
            fallos.push_back("audio sin configuración");
        }
        pista.push_back(e);
    }
    static std::int64_t huecoMax(const std::vector<Etiqueta>& v) {
        std::int64_t h = 0;
        for (std::size_t i = 1; i < v.size(); ++i) h = std::max(h, v[i].ms - v[i - 1].ms);
        return h;
    }
    // The shortest step: a player placing frames at 30 per second must not find two in one slot.
    static std::int64_t pasoMin(const std::vector<Etiqueta>& v) {
        std::int64_t h = 1000;
        for (std::size_t i = 1; i < v.size(); ++i) h = std::min(h, v[i].ms - v[i - 1].ms);
        return h;
    }
};

struct Banco {
    Empalme e{1.5};
    Reproductor r;
    double reloj = 0;
    std::vector<double> empiezos, terminos;

    void tomar(Empalme::Salida s) {
        for (auto& t : s.etiquetas) r.ver(t);
        if (s.empieza) empiezos.push_back(reloj);
        if (s.termina) terminos.push_back(reloj);
    }
    // Walks the clock to `hasta`, checking four times a second as the relay does.
    void esperar(double hasta) {
        while (reloj + 0.25 <= hasta) {
            reloj += 0.25;
            tomar(e.revisar(reloj));
        }
        reloj = std::max(reloj, hasta);
    }
    void dar(Etiqueta t) { tomar(e.etiqueta(std::move(t), reloj)); }
};

// An encoder working in real time: 30 frames a second, a key frame every 2 s, AAC frames of 1024
// samples at 48 kHz; its time stamps count from `origen` (wall time).
struct Compresor {
    std::string nombre;
    double origen;
    std::int64_t v = 0, a = 0;
    bool configurado = false;

    std::int64_t msV() const { return std::llround(double(v) * 1000 / 30); }
    std::int64_t msA() const { return std::llround(double(a) * 1024 * 1000 / 48000); }
    // Hands the relay what it made up to wall time `hasta`, in time-stamp order; a track not
    // delivered is made and lost.
    void hasta(Banco& b, double hasta, bool video = true, bool audio = true) {
        if (!configurado) {
            b.dar({9, 0, avc(1, 0, nombre)});
            b.dar({8, 0, aac(0, "cfg")});
            configurado = true;
        }
        for (;;) {
            const bool toca = msV() <= msA();
            const std::int64_t ms = toca ? msV() : msA();
            if (origen + double(ms) / 1000 > hasta) break;
            b.esperar(origen + double(ms) / 1000);
            if (toca) {
                if (video) b.dar({9, ms, avc(v % 60 == 0 ? 1 : 2, 1, nombre + "#" + std::to_string(v))});
                ++v;
            } else {
                if (audio) b.dar({8, ms, aac(1, nombre)});
                ++a;
            }
        }
    }
};

std::vector<Etiqueta> de(const std::vector<Etiqueta>& v, const std::string& q) {
    std::vector<Etiqueta> r;
    for (auto& e : v)
        if (quien(e) == q) r.push_back(e);
    return r;
}

}  // namespace

// The app pauses its encoder while it is offline and then goes on with the same time line, in
// the middle of a group of pictures.
TEST(Empalme, laImagenCubreElCorteYElFlujoVuelveEnSuCuadroClave) {
    Banco b;
    b.e.fijarRelleno(imagen());
    Compresor s1{"S1", 0};
    s1.hasta(b, 10.5);
    b.esperar(18.5);
    s1.origen += 8;  // paused for 8 s
    s1.hasta(b, 30);
    EXPECT_TRUE(b.r.fallos.empty()) << b.r.fallos.front();
    ASSERT_EQ(b.empiezos.size(), 1u);
    EXPECT_NEAR(b.empiezos[0], 12, 0.26);
    // Frame 315 resumes the stream; its next key frame is frame 360, 1.5 s later.
    ASSERT_EQ(b.terminos.size(), 1u);
    EXPECT_NEAR(b.terminos[0], 20, 0.05);
    const auto p = de(b.r.video, "P");
    ASSERT_GT(p.size(), 200u);
    // The picture's frames continue the stream's time line with no gap of more than two frames,
    // and the outage moves it on as the wall clock does (the 1.5 s before the picture excepted;
    // the picture is made up to a quarter second ahead).
    EXPECT_LE(Reproductor::huecoMax(b.r.video), 67);
    EXPECT_LE(Reproductor::huecoMax(b.r.audio), 43);
    EXPECT_GE(Reproductor::pasoMin(b.r.video), 33);
    EXPECT_NEAR(double(b.r.video.back().ms), (30 - 1.5) * 1000 + 150, 150);
    // Silence fills the audio only until the stream's own comes back.
    const auto silencio = de(b.r.audio, "P");
    ASSERT_FALSE(silencio.empty());
    EXPECT_LT(silencio.back().ms, de(b.r.audio, "S1").back().ms);
    EXPECT_NEAR(double(silencio.back().ms), double(p.front().ms) + 6500, 300);
}

TEST(Empalme, otroCompresorTrasElCorteConOtraConfiguracion) {
    Banco b;
    b.e.fijarRelleno(imagen());
    Compresor s1{"S1", 0};
    s1.hasta(b, 10.5);
    b.esperar(18.5);
    Compresor s2{"S2", 18.5};  // its time stamps start from 0 again
    s2.hasta(b, 25);
    EXPECT_TRUE(b.r.fallos.empty()) << b.r.fallos.front();
    // Every frame of the new encoder gets out (it starts on a key frame), after the picture.
    EXPECT_EQ(de(b.r.video, "S2").size(), std::size_t(s2.v));
    EXPECT_GT(de(b.r.video, "S2").front().ms, de(b.r.video, "P").back().ms);
    EXPECT_EQ(b.r.configV, "S2");
    EXPECT_LE(Reproductor::huecoMax(b.r.video), 67);
    EXPECT_LE(Reproductor::huecoMax(b.r.audio), 43);
    EXPECT_EQ(b.terminos.size(), 1u);
}

TEST(Empalme, audioYVideoVuelvenEnMomentosDistintos) {
    for (bool audioPrimero : {true, false}) {
        SCOPED_TRACE(audioPrimero ? "audio primero" : "video primero");
        Banco b;
        b.e.fijarRelleno(imagen());
        Compresor s1{"S1", 0};
        s1.hasta(b, 10.5);
        b.esperar(18.5);
        Compresor s2{"S2", 18.5};
        s2.hasta(b, 19.2, !audioPrimero, audioPrimero);
        s2.hasta(b, 25);
        EXPECT_TRUE(b.r.fallos.empty()) << b.r.fallos.front();
        EXPECT_LE(Reproductor::huecoMax(b.r.video), 67);
        EXPECT_LE(Reproductor::huecoMax(b.r.audio), 43);
        EXPECT_GE(Reproductor::pasoMin(b.r.video), 33);
        const auto audio = de(b.r.audio, "S2"), video = de(b.r.video, "S2");
        ASSERT_FALSE(audio.empty());
        ASSERT_FALSE(video.empty());
        // Nothing of the picture after the stream's own on either track; the track that came
        // back first was not held back for the other.
        EXPECT_LT(de(b.r.audio, "P").back().ms, audio.front().ms);
        EXPECT_LT(de(b.r.video, "P").back().ms, video.front().ms);
        if (audioPrimero)
            EXPECT_GT(video.front().ms - audio.front().ms, 1000);  // video waited for its key frame
        else
            EXPECT_NEAR(double(audio.front().ms - video.front().ms), 700, 50);
        ASSERT_EQ(b.terminos.size(), 1u);
    }
}

// The relay closes a transmission after 330 s of silence; until then the picture keeps pace.
TEST(Empalme, unCorteMasLargoQueElCierre) {
    Banco b;
    b.e.fijarRelleno(imagen());
    Compresor s1{"S1", 0};
    s1.hasta(b, 10.5);
    b.esperar(12);
    ASSERT_TRUE(b.e.mostrando());
    const std::int64_t alEmpezar = b.r.video.back().ms;
    b.esperar(412);
    EXPECT_NEAR(double(b.r.video.back().ms - alEmpezar), 400000, 60);
    EXPECT_LE(Reproductor::huecoMax(b.r.video), 34);
    EXPECT_LE(Reproductor::huecoMax(b.r.audio), 22);
    Compresor s2{"S2", 412};
    s2.hasta(b, 415);
    EXPECT_TRUE(b.r.fallos.empty()) << b.r.fallos.front();
    EXPECT_FALSE(b.e.mostrando());
}

TEST(Empalme, sinImagenRepiteLaUltimaClaveYNoMuestraNadaTrasElFinDelCompresor) {
    Banco b;
    Compresor s1{"S1", 0};
    s1.hasta(b, 10.5);
    const Etiqueta clave = [&] {
        for (auto it = b.r.video.rbegin(); it != b.r.video.rend(); ++it)
            if (esClave(*it)) return *it;
        return Etiqueta{};
    }();
    const std::size_t antes = b.r.video.size(), audioAntes = b.r.audio.size();
    b.esperar(16);
    ASSERT_EQ(b.empiezos.size(), 1u);
    ASSERT_GT(b.r.video.size(), antes + 6);
    for (std::size_t i = antes; i < b.r.video.size(); ++i) EXPECT_EQ(b.r.video[i].cuerpo, clave.cuerpo);
    EXPECT_EQ(b.r.audio.size(), audioAntes);  // no silence to play without the encoder's
    // Back on the same time line in mid-group: the first frame after the repeats is a key frame.
    s1.origen += 5.5;
    s1.hasta(b, 22);
    auto despues = std::find_if(b.r.video.begin() + long(antes), b.r.video.end(),
                                [&](const Etiqueta& e) { return e.cuerpo != clave.cuerpo; });
    ASSERT_NE(despues, b.r.video.end());
    EXPECT_EQ(despues->cuerpo, avc(1, 1, "S1#360"));
    EXPECT_TRUE(b.r.fallos.empty()) << b.r.fallos.front();

    // The encoder ends its stream: the silence before the closing chunk is not an outage.
    b.dar({9, s1.msV(), avc(1, 2, "")});
    const std::size_t alFin = b.r.video.size();
    b.esperar(40);
    EXPECT_EQ(b.r.video.size(), alFin);
    EXPECT_EQ(b.empiezos.size(), 1u);
}

TEST(Empalme, bytesEnTrozosCualquieraYBasura) {
    // The same tags cut anywhere give the same output.
    std::string flv = cabeceraFlv();
    flv += enFlv({18, 0, "onMetaData"});
    flv += enFlv({9, 0, avc(1, 0, "S1")});
    for (int i = 0; i < 40; ++i) flv += enFlv({9, i * 33, avc(i % 20 == 0 ? 1 : 2, 1, "S1")});
    Empalme entero, byteAByte;
    const auto r = entero.poner(flv, 1);
    std::vector<Etiqueta> otra;
    for (char c : flv)
        for (auto& e : byteAByte.poner(std::string_view(&c, 1), 1).etiquetas) otra.push_back(e);
    ASSERT_EQ(r.etiquetas.size(), 42u);
    ASSERT_EQ(otra.size(), r.etiquetas.size());
    for (std::size_t i = 0; i < otra.size(); ++i) {
        EXPECT_EQ(otra[i].ms, r.etiquetas[i].ms);
        EXPECT_EQ(otra[i].cuerpo, r.etiquetas[i].cuerpo);
    }

    // Garbage is refused once, on its header; the viewers then get the picture as in an outage.
    auto basura = entero.poner(std::string("\x30\xff\xff\xff", 4) + std::string(20, 'x'), 1.1);
    EXPECT_NE(basura.error, "");
    EXPECT_EQ(entero.poner(flv, 1.2).error, "");
    EXPECT_TRUE(entero.poner(flv, 1.2).etiquetas.empty());
    EXPECT_TRUE(entero.revisar(3).empieza);
}
