// The output reader against the real encoder: ffmpeg writes FLV into a FIFO read by the reader, and
// what the reader hands on must be, byte for byte, what the same command writes into a file.
#include "engine/hijo.h"
#include "engine/hilos.h"
#include "engine/lector.h"

#include "soporte/soporte.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

using namespace tt;
namespace fs = std::filesystem;

namespace {

const std::string ffmpeg = std::string(TM_BIN) + "/../share/tremolante/ffmpeg";

std::vector<std::string> orden(const std::string& salida, const std::string& desfase) {
    std::vector<std::string> a = {"-hide_banner", "-nostdin", "-loglevel", "error",
                                  "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30",
                                  "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                                  "-t", "3", "-map", "0:v", "-map", "1:a",
                                  "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency",
                                  "-b:v", "6000k", "-g", "30",
                                  "-c:a", "aac", "-b:a", "96k", "-ar", "48000", "-ac", "2"};
    if (!desfase.empty()) a.insert(a.end(), {"-output_ts_offset", desfase});
    a.insert(a.end(), {"-f", "flv", "-flvflags", "no_duration_filesize", "-y", salida});
    return a;
}

std::shared_ptr<Hijo> lanzar(const std::vector<std::string>& argumentos, const std::string& errores) {
    static Hilos vigias;  // joined when the program ends
    auto h = Hijo::lanzar({ffmpeg, argumentos, errores, false});
    if (h) h->vigilar(vigias, 0, nullptr, nullptr);
    return h;
}

// Runs the command to the end; its exit status.
int correr(const std::vector<std::string>& argumentos, const std::string& errores) {
    auto h = lanzar(argumentos, errores);
    if (!h) return -1;
    return h->esperar(120).value_or(-2);
}

bool decodifica(const prueba::CarpetaTemporal& t, const std::string& flv) {
    const auto errores = (t / "decodificar.log").string();
    return correr({"-v", "error", "-nostdin", "-i", flv, "-f", "null", "-"}, errores) == 0 &&
           prueba::leer(errores).empty();
}

struct Subida {
    std::mutex m;
    std::string todo;
    std::vector<std::size_t> tamanos;
    int terminados[3] = {0, 0, 0};
    Salida salida(int quien) {
        return {[this](std::string p) {
                    std::lock_guard l(m);
                    tamanos.push_back(p.size());
                    todo += p;
                },
                [this, quien] {
                    std::lock_guard l(m);
                    ++terminados[quien];
                },
                {}};
    }
};

std::string fifo(const prueba::CarpetaTemporal& t, const std::string& nombre) {
    const auto ruta = (t / nombre).string();
    EXPECT_EQ(::mkfifo(ruta.c_str(), 0600), 0);
    return ruta;
}

}  // namespace

TEST(LectorFfmpeg, loQueSaleEsElArchivoByteAByteYDecodifica) {
    prueba::CarpetaTemporal t;
    const auto archivo = (t / "archivo.flv").string();
    ASSERT_EQ(correr(orden(archivo, ""), (t / "a.log").string()), 0) << prueba::leer(t / "a.log");

    Lectores lectores;
    Subida subida;
    const auto ruta = fifo(t, "salida.fifo");
    const auto lector = lectores.arrancar(ruta, subida.salida(1), false);
    ASSERT_EQ(correr(orden(ruta, ""), (t / "b.log").string()), 0) << prueba::leer(t / "b.log");
    ASSERT_TRUE(lectores.esperar(10));

    const std::string esperado = prueba::leer(archivo);
    ASSERT_GT(esperado.size(), 100000u);
    EXPECT_TRUE(subida.todo == esperado) << subida.todo.size() << " bytes frente a " << esperado.size();
    EXPECT_EQ(subida.terminados[1], 1);
    EXPECT_FALSE(fs::exists(ruta));
    // Key frames at this rate are larger than one piece: they went out cut at 16384 bytes.
    EXPECT_EQ(*std::max_element(subida.tamanos.begin(), subida.tamanos.end()), 16384u);
    EXPECT_GT(std::count(subida.tamanos.begin(), subida.tamanos.end(), 16384u), 3);
    EXPECT_GT(lector->ultimoMs.load(), 2800u);
    EXPECT_LE(lector->ultimoMs.load(), 3100u);

    const auto recibido = (t / "recibido.flv").string();
    prueba::escribir(recibido, subida.todo);
    EXPECT_TRUE(decodifica(t, recibido));
}

// Two encoders one after the other, the second shifted to continue the first (0.1 s after it, so its
// first audio frame does not overlap the first encoder's last): the uplink gets the first stream
// whole, then the second without its file header, and the result decodes.
TEST(LectorFfmpeg, relevoEntreDosCompresoresDejaUnSoloFlujo) {
    prueba::CarpetaTemporal t;
    const auto uno = (t / "uno.flv").string(), dos = (t / "dos.flv").string();
    ASSERT_EQ(correr(orden(uno, ""), (t / "1.log").string()), 0);
    ASSERT_EQ(correr(orden(dos, "3.100"), (t / "2.log").string()), 0);

    Lectores lectores;
    Subida subida;
    const auto f1 = fifo(t, "1.fifo"), f2 = fifo(t, "2.fifo");
    lectores.arrancar(f1, subida.salida(1), false);
    auto primero = lanzar(orden(f1, ""), (t / "3.log").string());
    ASSERT_TRUE(primero);
    const auto segundo = lectores.arrancar(f2, subida.salida(2), true);
    auto relevo = lanzar(orden(f2, "3.100"), (t / "4.log").string());
    ASSERT_TRUE(relevo);
    EXPECT_EQ(primero->esperar(120), 0);
    EXPECT_EQ(relevo->esperar(120), 0);
    ASSERT_TRUE(lectores.esperar(10));

    const std::string esperado = prueba::leer(uno) + prueba::leer(dos).substr(13);
    EXPECT_TRUE(subida.todo == esperado) << subida.todo.size() << " bytes frente a " << esperado.size();
    EXPECT_EQ(subida.todo.find("FLV\x01", 1), std::string::npos);  // one file header
    EXPECT_EQ(subida.terminados[1], 0);
    EXPECT_EQ(subida.terminados[2], 1);
    EXPECT_GT(segundo->ultimoMs.load(), 5800u);

    const auto recibido = (t / "recibido.flv").string();
    prueba::escribir(recibido, subida.todo);
    EXPECT_TRUE(decodifica(t, recibido));
}
