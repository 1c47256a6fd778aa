#include "engine/lector.h"

#include "soporte/soporte.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace tt;
namespace fs = std::filesystem;

namespace {

std::string be(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += char((v >> (8 * i)) & 0xFF);
    return s;
}
std::string cabecera() { return std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13); }
std::string etiqueta(std::uint32_t ms, std::size_t d, char relleno) {
    return char(9) + be(std::uint32_t(d), 3) + be(ms & 0xFFFFFF, 3) + char(ms >> 24) + std::string(3, '\0') +
           std::string(d, relleno) + be(std::uint32_t(d + 11), 4);
}

// What the uplink would receive: every reader's pieces in one stream, and who ended it.
struct Subida {
    std::mutex m;
    std::string todo;
    int terminados[3] = {0, 0, 0};
    std::string danos;
    Salida salida(int quien) {
        return {[this](std::string p) {
                    std::lock_guard l(m);
                    todo += p;
                },
                [this, quien] {
                    std::lock_guard l(m);
                    ++terminados[quien];
                },
                [this](const std::string& motivo) {
                    std::lock_guard l(m);
                    danos += motivo;
                }};
    }
    std::string recibido() {
        std::lock_guard l(m);
        return todo;
    }
    bool esperarTamano(std::size_t n) {
        for (int i = 0; i < 500; ++i) {
            if (recibido().size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

std::string fifo(const prueba::CarpetaTemporal& t, const std::string& nombre) {
    const auto ruta = (t / nombre).string();
    EXPECT_EQ(::mkfifo(ruta.c_str(), 0600), 0);
    return ruta;
}

// The encoder's side: opens the FIFO for writing (blocking, as ffmpeg does) and writes.
struct Escritor {
    int fd = -1;
    explicit Escritor(const std::string& ruta) { fd = ::open(ruta.c_str(), O_WRONLY); }
    ~Escritor() { cerrar(); }
    void escribir(const std::string& s) { ASSERT_EQ(::write(fd, s.data(), s.size()), ssize_t(s.size())); }
    void cerrar() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

}  // namespace

// A handover: the new reader's bytes wait for the old reader's end, its file header is dropped,
// and only the newer reader's end ends the uplink. Both FIFOs are gone afterwards.
TEST(Lectores, relevoSigueAlAnteriorYSoloElVigenteTerminaLaSubida) {
    prueba::CarpetaTemporal t;
    const auto a = fifo(t, "a.fifo"), b = fifo(t, "b.fifo");
    Lectores lectores;
    Subida subida;
    const auto viejo = lectores.arrancar(a, subida.salida(1), false);
    Escritor ea(a);
    const std::string a1 = etiqueta(0, 20000, 'a'), a2 = etiqueta(33, 10, 'b');
    ea.escribir(cabecera() + a1);
    ASSERT_TRUE(subida.esperarTamano(13 + a1.size()));

    const auto nuevo = lectores.arrancar(b, subida.salida(2), true);
    EXPECT_EQ(lectores.serie(), 2);
    EXPECT_EQ(lectores.vigente(), 2);
    EXPECT_EQ(lectores.actual(), nuevo);
    const std::string b1 = etiqueta(66, 50, 'c'), b2 = etiqueta(100, 30000, 'd');
    {
        Escritor eb(b);
        eb.escribir(cabecera() + b1 + b2);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ea.escribir(a2);  // the old encoder still had a tag to give
    ea.cerrar();
    ASSERT_TRUE(lectores.esperar(5));
    EXPECT_EQ(subida.recibido(), cabecera() + a1 + a2 + b1 + b2);
    EXPECT_EQ(subida.terminados[1], 0);
    EXPECT_EQ(subida.terminados[2], 1);
    EXPECT_EQ(viejo->ultimoMs.load(), 33u);
    EXPECT_EQ(nuevo->ultimoMs.load(), 100u);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b));
}

// An encoder slow to open its output is not taken for an ended stream; one that never comes is
// released by a cut, and the reader still deletes its FIFO and ends the uplink.
TEST(Lectores, escritorQueTardaONuncaLlega) {
    prueba::CarpetaTemporal t;
    Lectores lectores;
    {
        Subida subida;
        const auto ruta = fifo(t, "lenta.fifo");
        lectores.arrancar(ruta, subida.salida(1), false);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(lectores.enCurso(), 1);
        const std::string e = etiqueta(5, 40, 'x');
        {
            Escritor w(ruta);
            w.escribir(cabecera() + e);
        }
        ASSERT_TRUE(lectores.esperar(5));
        EXPECT_EQ(subida.recibido(), cabecera() + e);
        EXPECT_EQ(subida.terminados[1], 1);
    }
    {
        Subida subida;
        const auto ruta = fifo(t, "nunca.fifo");
        lectores.arrancar(ruta, subida.salida(1), false);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(lectores.esperar(0.1));
        const auto enMarcha = lectores.enMarcha();
        ASSERT_EQ(enMarcha.size(), 1u);
        enMarcha[0]->cortar = true;
        ASSERT_TRUE(lectores.esperar(2));
        EXPECT_EQ(subida.terminados[1], 1);
        EXPECT_FALSE(fs::exists(ruta));
    }
}

// The previous reader never ends (its encoder hangs): the new one goes on after the wait anyway.
TEST(Lectores, anteriorQueNoTerminaNoDetieneAlNuevo) {
    prueba::CarpetaTemporal t;
    const auto a = fifo(t, "a.fifo"), b = fifo(t, "b.fifo");
    Lectores lectores(0.3);
    Subida subida;
    lectores.arrancar(a, subida.salida(1), false);
    Escritor ea(a);
    ea.escribir(cabecera());
    ASSERT_TRUE(subida.esperarTamano(13));
    lectores.arrancar(b, subida.salida(2), true);
    const std::string b1 = etiqueta(7, 10, 'n');
    {
        Escritor eb(b);
        eb.escribir(cabecera() + b1);
    }
    ASSERT_TRUE(subida.esperarTamano(13 + b1.size()));
    EXPECT_EQ(subida.recibido(), cabecera() + b1);
    ea.cerrar();
    ASSERT_TRUE(lectores.esperar(5));
    EXPECT_EQ(subida.terminados[1], 0);
    EXPECT_EQ(subida.terminados[2], 1);
}

// A cut while the encoder holds the FIFO open halfway through a tag: that tag is not handed on.
TEST(Lectores, cortarConUnaEtiquetaAMedias) {
    prueba::CarpetaTemporal t;
    const auto ruta = fifo(t, "s.fifo");
    Lectores lectores;
    Subida subida;
    const auto lector = lectores.arrancar(ruta, subida.salida(1), false);
    Escritor w(ruta);
    const std::string e1 = etiqueta(10, 100, 'p'), e2 = etiqueta(20, 100, 'q');
    w.escribir(cabecera() + e1 + e2.substr(0, 60));
    ASSERT_TRUE(subida.esperarTamano(13 + e1.size()));
    lector->cortar = true;
    ASSERT_TRUE(lectores.esperar(2));
    EXPECT_EQ(subida.recibido(), cabecera() + e1);
    EXPECT_EQ(lector->ultimoMs.load(), 10u);
    EXPECT_EQ(subida.terminados[1], 1);
    EXPECT_FALSE(fs::exists(ruta));
}

// A path that is not there, and an encoder that writes something other than FLV.
TEST(Lectores, sinFifoYSalidaQueNoEsFlv) {
    prueba::CarpetaTemporal t;
    Lectores lectores;
    Subida subida;
    lectores.arrancar((t / "no-existe.fifo").string(), subida.salida(1), false);
    ASSERT_TRUE(lectores.esperar(2));
    EXPECT_EQ(subida.terminados[1], 1);

    const auto ruta = fifo(t, "basura.fifo");
    lectores.arrancar(ruta, subida.salida(2), false);
    {
        Escritor w(ruta);
        w.escribir("ffmpeg: Unknown encoder 'libx264'\nestas no son etiquetas FLV\n");
        ASSERT_TRUE(lectores.esperar(2));
    }
    EXPECT_EQ(subida.recibido(), "");
    EXPECT_EQ(subida.terminados[2], 1);
    EXPECT_FALSE(subida.danos.empty());
    EXPECT_FALSE(fs::exists(ruta));
}

// The engine goes away with a reader still waiting for its encoder: the reader is cut, deletes its
// FIFO and ends the uplink (there is no numbering left to defer to).
TEST(Lectores, alIrseElDuenoSusLectoresTerminan) {
    prueba::CarpetaTemporal t;
    auto subida = std::make_shared<Subida>();
    const auto ruta = fifo(t, "huerfana.fifo");
    {
        Lectores lectores;
        lectores.arrancar(ruta, subida->salida(1), false);
        lectores.arrancar(fifo(t, "otra.fifo"), subida->salida(2), false);
    }
    bool listo = false;
    for (int i = 0; i < 300 && !listo; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard l(subida->m);
        listo = subida->terminados[1] == 1 && subida->terminados[2] == 1;
    }
    EXPECT_TRUE(listo);
    for (int i = 0; i < 100 && fs::exists(ruta); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fs::exists(ruta));
}
