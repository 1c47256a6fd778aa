#include "engine/cortador.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace tt;

namespace {

std::string be(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}

std::string cabecera() { return std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13); }

std::string etiqueta(int tipo, std::uint32_t ms, std::size_t d, char relleno = 'x') {
    return char(tipo) + be(std::uint32_t(d), 3) + be(ms & 0xFFFFFF, 3) + char(ms >> 24) + std::string(3, '\0') +
           std::string(d, relleno) + be(std::uint32_t(d + 11), 4);
}

struct Recogido {
    std::vector<std::string> piezas;
    std::string todo() const {
        std::string t;
        for (const auto& p : piezas) t += p;
        return t;
    }
    Cortador::Entregar entregar() {
        return [this](std::string p) { piezas.push_back(std::move(p)); };
    }
};

}  // namespace

TEST(Cortador, cabeceraTrasUnaLecturaCortaSeEntregaOSeQuita) {
    const std::string flujo = cabecera() + etiqueta(9, 40, 100);
    for (bool quitar : {false, true}) {
        Cortador c(quitar);
        Recogido r;
        EXPECT_EQ(c.datos(flujo.substr(0, 5), r.entregar()), Cortador::Paso::seguir);
        EXPECT_TRUE(r.piezas.empty());
        c.datos(flujo.substr(5, 20), r.entregar());
        if (quitar) {
            EXPECT_TRUE(r.piezas.empty());
        } else {
            ASSERT_EQ(r.piezas.size(), 1u);
            EXPECT_EQ(r.piezas[0], cabecera());
        }
        EXPECT_EQ(c.pendientes(), 12u);  // bytes 14..25: the start of the tag, not handed on
        c.datos(flujo.substr(25), r.entregar());
        EXPECT_EQ(r.todo(), quitar ? flujo.substr(13) : flujo);
        EXPECT_EQ(c.etiquetas(), 1u);
        EXPECT_EQ(c.ultimoMs(), 40u);
    }
}

TEST(Cortador, etiquetaPartidaEntreLecturasSaleEnteraYSoloAlFinal) {
    const std::string t1 = etiqueta(8, 23, 300, 'a'), t2 = etiqueta(9, 33, 7, 'b');
    const std::string flujo = cabecera() + t1 + t2;
    Cortador c(false);
    Recogido r;
    for (std::size_t i = 0; i < flujo.size(); ++i) {
        c.datos(flujo.substr(i, 1), r.entregar());
        const std::size_t n = r.todo().size();
        // Only whole units ever come out, whatever the read size.
        EXPECT_TRUE(n == 0 || n == 13 || n == 13 + t1.size() || n == flujo.size()) << i;
    }
    EXPECT_EQ(r.todo(), flujo);
    EXPECT_EQ(c.pendientes(), 0u);
}

TEST(Cortador, etiquetaGrandeEnPiezasDe16384) {
    const std::string t = etiqueta(9, 0, 40000);
    Cortador c(true);
    Recogido r;
    c.datos(cabecera() + t + etiqueta(8, 0, 16384 - 15), r.entregar());
    ASSERT_EQ(r.piezas.size(), 4u);
    EXPECT_EQ(r.piezas[0].size(), 16384u);
    EXPECT_EQ(r.piezas[1].size(), 16384u);
    EXPECT_EQ(r.piezas[2].size(), 7247u);  // 40 015 in all; the next tag is not merged into it
    EXPECT_EQ(r.piezas[0] + r.piezas[1] + r.piezas[2], t);
    EXPECT_EQ(r.piezas[3].size(), 16384u);  // exactly one piece
}

TEST(Cortador, ultimoMsLlevaElByteDeExtension) {
    std::string t = etiqueta(9, 0, 10);
    t[4] = 0x00, t[5] = 0x01, t[6] = char(0xF4), t[7] = 0x01;
    Cortador c(false);
    Recogido r;
    c.datos(cabecera() + etiqueta(9, 0xFFFFFF, 1), r.entregar());
    EXPECT_EQ(c.ultimoMs(), 0xFFFFFFu);
    c.datos(t, r.entregar());
    EXPECT_EQ(c.ultimoMs(), 500u + 16777216u);
}

TEST(Cortador, cortarDetieneAntesDeLaSiguienteEtiquetaCompleta) {
    const std::string t1 = etiqueta(9, 1, 50), t2 = etiqueta(9, 2, 50);
    Cortador c(false);
    Recogido r;
    int preguntas = 0;
    // True from the second question on: after the first tag, with the second complete in the buffer.
    const auto paso = c.datos(cabecera() + t1 + t2 + etiqueta(9, 3, 5).substr(0, 8), r.entregar(),
                              [&] { return ++preguntas > 1; });
    EXPECT_EQ(paso, Cortador::Paso::cortado);
    EXPECT_EQ(r.todo(), cabecera() + t1);
    EXPECT_EQ(c.ultimoMs(), 1u);
    EXPECT_EQ(c.pendientes(), 0u);  // the rest is discarded
    EXPECT_EQ(c.datos(etiqueta(9, 4, 5), r.entregar()), Cortador::Paso::cortado);
    EXPECT_EQ(r.todo(), cabecera() + t1);

    // Set while only part of a tag is there: the bytes run out and the cutter stops all the same.
    Cortador d(true);
    Recogido s;
    EXPECT_EQ(d.datos(cabecera() + t1.substr(0, 20), s.entregar(), [] { return true; }), Cortador::Paso::cortado);
    EXPECT_TRUE(s.piezas.empty());
}

TEST(Cortador, basuraSeRechazaSinEsperarLoQueDice) {
    {
        Cortador c(false);
        Recogido r;
        EXPECT_EQ(c.datos("<html>no es un flujo FLV</html>", r.entregar()), Cortador::Paso::danado);
        EXPECT_TRUE(r.piezas.empty());
        EXPECT_FALSE(c.error().empty());
    }
    {
        // A good tag, then a header of unknown type: the good one is handed on, then nothing.
        Cortador c(false);
        Recogido r;
        const std::string bien = cabecera() + etiqueta(18, 0, 30);
        EXPECT_EQ(c.datos(bien + std::string(11, '\x07'), r.entregar()), Cortador::Paso::danado);
        EXPECT_EQ(r.todo(), bien);
        EXPECT_EQ(c.datos(etiqueta(9, 0, 3), r.entregar()), Cortador::Paso::danado);
        EXPECT_EQ(r.todo(), bien);
    }
    {
        // A plausible header claiming 16 MiB: memory grows only with the bytes that really arrive.
        Cortador c(false);
        Recogido r;
        c.datos(cabecera() + etiqueta(9, 0, 0xFFFFFF).substr(0, 11), r.entregar());
        for (int i = 0; i < 16; ++i) c.datos(std::string(65536, 'z'), r.entregar());
        EXPECT_EQ(c.pendientes(), 11u + 16 * 65536);
        EXPECT_EQ(r.todo(), cabecera());
    }
    {
        // A trailing size that does not match: framing is lost, the tag is not handed on.
        std::string t = etiqueta(8, 0, 20);
        t.back() ^= 1;
        Cortador c(true);
        Recogido r;
        EXPECT_EQ(c.datos(cabecera() + t, r.entregar()), Cortador::Paso::danado);
        EXPECT_TRUE(r.piezas.empty());
        // A stream id other than 0.
        std::string u = etiqueta(8, 0, 20);
        u[9] = 1;
        Cortador d(true);
        EXPECT_EQ(d.datos(cabecera() + u.substr(0, 11), r.entregar()), Cortador::Paso::danado);
    }
}

namespace {

// An independent whole-buffer reading of the same rules: what must come out of the whole input,
// and the unit boundaries in that output.
struct Referencia {
    std::string salida;
    std::vector<std::size_t> limites{0};
    bool danado = false;
};

Referencia referencia(const std::string& in, bool quitar) {
    Referencia r;
    const auto u = [&](std::size_t i) { return unsigned(static_cast<unsigned char>(in[i])); };
    if (in.size() < 13) return r;
    if (in.compare(0, 3, "FLV") != 0 || u(5) || u(6) || u(7) || u(8) != 9) {
        r.danado = true;
        return r;
    }
    if (!quitar) {
        r.salida = in.substr(0, 13);
        r.limites.push_back(13);
    }
    std::size_t pos = 13;
    while (in.size() - pos >= 11) {
        // Audio, video or script data, without the filter (encryption) or reserved bits, stream 0.
        const unsigned tipo = u(pos);
        if ((tipo != 8 && tipo != 9 && tipo != 18) || u(pos + 8) || u(pos + 9) || u(pos + 10)) {
            r.danado = true;
            break;
        }
        const std::size_t d = (u(pos + 1) << 16) | (u(pos + 2) << 8) | u(pos + 3);
        if (in.size() - pos < d + 15) break;
        const std::size_t q = pos + 11 + d;
        if (((u(q) << 24) | (u(q + 1) << 16) | (u(q + 2) << 8) | u(q + 3)) != d + 11) {
            r.danado = true;
            break;
        }
        r.salida += in.substr(pos, d + 15);
        r.limites.push_back(r.salida.size());
        pos += d + 15;
    }
    return r;
}

}  // namespace

// A million random inputs (valid streams, damaged ones, plain noise) cut at random read sizes,
// some of them with a cut requested midway. Run under the sanitizer build too: every read size is
// its own exact heap block, so reading past what was given is caught.
TEST(Cortador, azarDeUnMillonDeEntradas) {
    std::mt19937_64 azar(20261208);
    const auto entre = [&](std::size_t a, std::size_t b) { return a + azar() % (b - a + 1); };
    std::uint64_t piezasVistas = 0, danados = 0, cortados = 0, grandes = 0;
    for (int caso = 0; caso < 1000000; ++caso) {
        const bool quitar = azar() & 1;
        std::string in;
        if (azar() % 20 == 0) {
            in.resize(entre(0, 120));
            for (auto& b : in) b = char(azar());
        } else {
            in = cabecera();
            const int n = int(entre(0, 6));
            for (int i = 0; i < n; ++i) {
                std::size_t d = entre(0, 200);
                if (azar() % 400 == 0) d = entre(16000, 40000), ++grandes;
                const int tipos[] = {8, 9, 18};
                in += etiqueta(tipos[azar() % 3], std::uint32_t(azar()), d, char(azar()));
            }
            if (azar() % 4 == 0)
                for (int k = int(entre(1, 3)); k > 0 && !in.empty(); --k) in[azar() % in.size()] ^= char(entre(1, 255));
            if (azar() % 8 == 0) in.resize(azar() % (in.size() + 1));
            if (azar() % 16 == 0)
                for (int k = int(entre(1, 40)); k > 0; --k) in += char(azar());
        }
        const Referencia ref = referencia(in, quitar);
        const int cortarTras = azar() % 5 == 0 ? int(entre(0, 8)) : -1;  // number of questions answered false

        Cortador c(quitar);
        std::string salida;
        std::size_t limite = 0;  // index into ref.limites of the last unit end reached
        bool malo = false;
        const Cortador::Entregar entregar = [&](std::string p) {
            ++piezasVistas;
            if (p.empty() || p.size() > Cortador::piezaMaxima) malo = true;
            // A piece never crosses a unit's end, and only a unit's last piece is short.
            const std::size_t fin = salida.size() + p.size();
            while (limite + 1 < ref.limites.size() && ref.limites[limite + 1] < fin) {
                if (ref.limites[limite + 1] > salida.size()) malo = true;
                ++limite;
            }
            const bool terminaUnidad = limite + 1 < ref.limites.size() && ref.limites[limite + 1] == fin;
            if (p.size() < Cortador::piezaMaxima && !terminaUnidad) malo = true;
            if (salida.size() + p.size() > ref.salida.size() || ref.salida.compare(salida.size(), p.size(), p) != 0)
                malo = true;
            salida += p;
        };
        int preguntas = 0;
        const Cortador::Cortar cortar = [&] { return cortarTras >= 0 && preguntas++ >= cortarTras; };

        Cortador::Paso paso = Cortador::Paso::seguir;
        for (std::size_t pos = 0; pos < in.size() || pos == 0;) {
            const std::size_t n = std::min(in.size() - pos, azar() % 3 == 0 ? entre(1, 16) : entre(1, 70000));
            const auto bloque = std::make_unique<char[]>(n ? n : 1);
            std::copy_n(in.data() + pos, n, bloque.get());
            paso = c.datos(std::string_view(bloque.get(), n), entregar, cortar);
            // After each read the output ends at a unit boundary: no partial tag was handed on.
            if (!std::binary_search(ref.limites.begin(), ref.limites.end(), salida.size())) malo = true;
            pos += n;
            if (n == 0) break;
        }
        if (cortarTras < 0) {
            if (salida != ref.salida || (paso == Cortador::Paso::danado) != ref.danado) malo = true;
        } else if (paso == Cortador::Paso::cortado) {
            ++cortados;
        }
        if (paso == Cortador::Paso::danado) ++danados;
        ASSERT_FALSE(malo) << "caso " << caso << " quitar " << quitar << " tamaño " << in.size();
    }
    // The generator really reached every kind of input.
    EXPECT_GT(danados, 50000u);
    EXPECT_GT(cortados, 50000u);
    EXPECT_GT(grandes, 1000u);
    EXPECT_GT(piezasVistas, 2000000u);
}

TEST(Cortador, unRelevoNoHaceRetrocederElAudio) {
    // AAC tags: byte 0 = format 10 (0xAF), byte 1 = 0 for the configuration, 1 for a frame.
    auto aac = [](std::uint32_t ms, char tipoPaquete) {
        std::string t = etiqueta(8, ms, 6);
        t[11] = char(0xAF);
        t[12] = tipoPaquete;
        return t;
    };
    const std::string configuracion = aac(8025, 0), cebado = aac(8025, 1), primero = aac(8046, 1);
    std::string avc = etiqueta(9, 8000, 20);  // H.264's configuration: not a picture
    avc[11] = 0x17;
    avc[12] = 0;
    const std::string video = etiqueta(9, 8046, 50), igual = aac(8035, 1);
    Cortador c(true);
    c.audioDespuesDe(8035);  // the previous encoder's last audio frame
    Recogido r;
    c.datos(cabecera() + configuracion + avc + cebado + igual + video + primero, r.entregar());
    // The priming frame and one at the same time are dropped; the configurations and video stay.
    EXPECT_EQ(r.todo(), configuracion + avc + video + primero);
    EXPECT_EQ(c.primerVideoMs(), 8046u);
    EXPECT_EQ(c.ultimoAudioMs(), 8046u);
    EXPECT_EQ(c.ultimoMs(), 8046u);
}
