// A handover's audio walked through every order of its events: the launch, the new FIFO's
// opening, the second's deadline and the audio crossing the switch.
#include "engine/relevo.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

using namespace tt;

namespace {

// The engine's side: the two encoders' audio as they receive it. Bytes count up, so the streams
// show order, gaps and repeats.
struct Banco {
    explicit Banco(std::size_t corte, bool urgente) : r(0, std::int64_t(corte), urgente), corte(corte) {}

    Relevo r;
    std::size_t corte;  // the switch, in bytes of the stream
    std::size_t enviado = 0;
    std::vector<std::uint8_t> viejo, nuevo;
    bool viejoCerrado = false, nuevoAbierto = false, completo = false;
    std::string faltas;

    void cumplir(Relevo::Paso p) {
        if (viejoCerrado && !p.alViejo.empty()) faltas += "audio al viejo cerrado; ";
        viejo.insert(viejo.end(), p.alViejo.begin(), p.alViejo.end());
        viejoCerrado = viejoCerrado || p.cerrarViejo;
        if (!nuevoAbierto && !p.alNuevo.empty()) faltas += "audio al nuevo sin abrir; ";
        nuevo.insert(nuevo.end(), p.alNuevo.begin(), p.alNuevo.end());
        if (p.completo && !viejoCerrado) faltas += "completo con el viejo abierto; ";
        completo = completo || p.completo;
    }
    // Ten bytes of audio; once the handover is complete the engine writes straight to the new FIFO.
    void audio() {
        std::vector<std::uint8_t> b(10);
        std::iota(b.begin(), b.end(), std::uint8_t(enviado));
        std::optional<std::size_t> antes;
        if (r.antesDelCorte() && corte < enviado + b.size()) antes = corte > enviado ? corte - enviado : 0;
        enviado += b.size();
        if (completo) nuevo.insert(nuevo.end(), b.begin(), b.end());
        else cumplir(r.audio(std::move(b), antes));
    }
    void abrir() {
        nuevoAbierto = true;
        cumplir(r.alAbrir());
    }
    static std::vector<std::uint8_t> serie(std::size_t desde, std::size_t hasta) {
        std::vector<std::uint8_t> v(hasta - desde);
        std::iota(v.begin(), v.end(), std::uint8_t(desde));
        return v;
    }
};

}  // namespace

// However the launch, the opening and the audio interleave, the old encoder gets the stream up to
// the switch and then its end, the new one the rest, in order, nothing twice and nothing lost.
TEST(Relevo, elAudioSeParteEnElCorteEnCualquierOrden) {
    for (int lanza = 0; lanza <= 6; ++lanza)
        for (int abre = lanza; abre <= 6; ++abre) {
            Banco b(25, false);
            for (int i = 0; i <= 6; ++i) {
                if (i == lanza) b.cumplir(b.r.alLanzar());
                if (i == abre) b.abrir();
                b.audio();
            }
            const std::string caso = "lanza " + std::to_string(lanza) + ", abre " + std::to_string(abre);
            EXPECT_EQ(b.faltas, "") << caso;
            EXPECT_EQ(b.viejo, Banco::serie(0, 25)) << caso;
            EXPECT_TRUE(b.viejoCerrado) << caso;
            EXPECT_TRUE(b.completo) << caso;
            EXPECT_EQ(b.nuevo, Banco::serie(25, 70)) << caso;
        }
}

// Urgent: everything after the decision is the new encoder's; the old one's audio ends at the
// launch. A silent microphone (no audio reaches the switch) switches at the deadline.
TEST(Relevo, urgenteYMicrofonoCallado) {
    Banco u(0, true);
    u.audio();
    EXPECT_FALSE(u.viejoCerrado);
    u.cumplir(u.r.alLanzar());
    EXPECT_TRUE(u.viejoCerrado);
    u.audio();
    u.abrir();
    u.audio();
    EXPECT_EQ(u.faltas, "");
    EXPECT_TRUE(u.viejo.empty());
    EXPECT_EQ(u.nuevo, Banco::serie(0, 30));

    Banco c(1000, false);
    c.cumplir(c.r.alVencer());  // not launched yet: nothing moves
    EXPECT_FALSE(c.viejoCerrado);
    c.cumplir(c.r.alLanzar());
    c.audio();
    c.cumplir(c.r.alVencer());
    c.audio();
    c.abrir();
    c.audio();
    EXPECT_EQ(c.faltas, "");
    EXPECT_EQ(c.viejo, Banco::serie(0, 10));
    EXPECT_EQ(c.nuevo, Banco::serie(10, 30));
    EXPECT_TRUE(c.completo);
}

// A launch that fails gives back what waited for the new encoder: the old one's audio carries on
// whole, never ended, whether the switch was reached or the handover was urgent.
TEST(Relevo, unLanzamientoFallidoDevuelveLoRetenido) {
    for (bool urgente : {false, true}) {
        Banco b(15, urgente);
        b.audio();
        b.audio();
        b.cumplir(b.r.alFallar());
        EXPECT_EQ(b.faltas, "");
        EXPECT_FALSE(b.viejoCerrado);
        EXPECT_EQ(b.viejo, Banco::serie(0, 20)) << urgente;
        EXPECT_TRUE(b.nuevo.empty());
    }
}
