// Real media made by ffmpeg, imported into a store and turned into thumbnails.
#include "pantallas/almacen.h"
#include "pantallas/imagen.h"

#include "comun/proceso.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace tt {
namespace {

namespace fs = std::filesystem;
using prueba::CarpetaTemporal;
using prueba::escribir;
using prueba::leer;

std::string ffmpeg() {
    fs::path propio = recursos() / "ffmpeg";
    return fs::exists(propio) ? propio.string() : "ffmpeg";
}

// Runs ffmpeg quietly with the given arguments; true when it succeeded.
bool hacer(const std::string& argumentos) {
    std::string orden = ffmpeg() + " -hide_banner -loglevel error -nostdin -y " + argumentos;
    return std::system(orden.c_str()) == 0;
}

// Red on the left half, blue on the right: an unrotated picture is wider than tall.
const std::string rojoAzul = "-f lavfi -i \"color=c=red:s=160x240:r=25:d=3[a];color=c=blue:s=160x240:r=25:d=3[b];[a][b]hstack\"";

bool rojo(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool azul(QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; }

// The peak resident size since the last reset, in MiB (Linux only).
long picoMiB() {
    std::ifstream f("/proc/self/status");
    std::string linea;
    while (std::getline(f, linea))
        if (linea.rfind("VmHWM:", 0) == 0) return std::stol(linea.substr(6)) / 1024;
    return -1;
}
bool reiniciarPico() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
    return bool(f);
}

std::uint32_t crc32(const std::string& datos, std::uint32_t crc = 0) {
    static const auto tabla = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (unsigned char b : datos) crc = tabla[(crc ^ b) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::string bigEndian(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string trozo(const std::string& tipo, const std::string& datos) {
    return bigEndian(std::uint32_t(datos.size())) + tipo + datos + bigEndian(crc32(tipo + datos));
}

// A black RGB PNG of any size without holding its pixels: one deflate block of fixed codes, a
// zero byte then back-references of 258 bytes at distance 1 (filter bytes are zeros too).
std::string pngNegro(std::uint32_t ancho, std::uint32_t alto) {
    const std::uint64_t total = std::uint64_t(alto) * (std::uint64_t(ancho) * 3 + 1);
    std::string bits;
    std::uint32_t acumulado = 0;
    int cuenta = 0;
    auto poner = [&](std::uint32_t valor, int n) {  // LSB first
        acumulado |= valor << cuenta;
        cuenta += n;
        while (cuenta >= 8) {
            bits += char(acumulado & 0xff);
            acumulado >>= 8;
            cuenta -= 8;
        }
    };
    auto codigo = [&](std::uint32_t c, int n) {  // Huffman codes go most significant bit first
        std::uint32_t r = 0;
        for (int i = 0; i < n; ++i) r |= ((c >> i) & 1) << (n - 1 - i);
        poner(r, n);
    };
    poner(1, 1);                 // last block
    poner(1, 2);                 // fixed codes
    codigo(0x30, 8);             // literal 0
    std::uint64_t hecho = 1;
    auto copiar = [&](std::uint64_t n) {  // 3 ≤ n ≤ 258
        if (n == 258) {
            codigo(0xc5, 8);     // length symbol 285
        } else {
            // Lengths 3…10 are symbols 257…264 without extra bits: cover the rest with those.
            codigo(n - 3 + 1, 7);  // symbols 257… have 7-bit codes 0000001…
        }
        codigo(0, 5);            // distance 1
        hecho += n;
    };
    while (total - hecho >= 258) copiar(258);
    while (total - hecho >= 10) copiar(10);
    while (total - hecho >= 3) copiar(total - hecho >= 6 ? 3 : total - hecho);
    while (hecho < total) {
        codigo(0x30, 8);
        ++hecho;
    }
    codigo(0, 7);                // end of block
    if (cuenta) poner(0, 8 - cuenta);
    const std::uint32_t adler = std::uint32_t(total % 65521) << 16 | 1;
    std::string zlib = std::string("\x78\x01", 2) + bits + bigEndian(adler);
    std::string ihdr = bigEndian(ancho) + bigEndian(alto) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + trozo("IHDR", ihdr) + trozo("IDAT", zlib) + trozo("IEND", "");
}

class MediosTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QCoreApplication::setOrganizationName("Tremolante Pruebas");
        QCoreApplication::setApplicationName("integracion_pantallas");
    }
    CarpetaTemporal dir;
    Almacen almacen{dir / "canal"};
};

TEST_F(MediosTest, UnVideoGiradoSaleDerechoEnSuMuestra) {
    ASSERT_TRUE(hacer(rojoAzul + " -c:v libx264 -pix_fmt yuv420p " + (dir / "plano.mp4").string()));
    // ffmpeg keeps a "rotate" tag as the display matrix when it copies the stream.
    ASSERT_TRUE(hacer("-i " + (dir / "plano.mp4").string() + " -c copy -metadata:s:v:0 rotate=90 " + (dir / "girado.mp4").string()));
    // ffmpeg's own upright frame is the reference for the direction of the turn.
    ASSERT_TRUE(hacer("-i " + (dir / "girado.mp4").string() + " -frames:v 1 " + (dir / "referencia.png").string()));
    QImage referencia(QString::fromStdString((dir / "referencia.png").string()));
    ASSERT_EQ(referencia.size(), QSize(240, 320));

    Pantalla p = *almacen["inicio"];
    ASSERT_EQ(almacen.importar(dir / "girado.mp4", p), std::nullopt);
    EXPECT_TRUE(p.esVideo);
    EXPECT_EQ(p.archivo->substr(p.archivo->size() - 4), ".mp4");
    almacen.actualizar(p);
    auto m = almacen.muestra(p);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), QSize(240, 320));
    QColor arriba = m->pixelColor(120, 20), abajo = m->pixelColor(120, 300);
    EXPECT_TRUE(azul(arriba)) << arriba.name().toStdString();
    EXPECT_TRUE(rojo(abajo)) << abajo.name().toStdString();
    EXPECT_EQ(rojo(referencia.pixelColor(120, 20)), rojo(arriba));
    EXPECT_EQ(rojo(referencia.pixelColor(120, 300)), rojo(abajo));

    // Unrotated, the same picture stays wide: red left, blue right.
    auto plano = cuadroDeVideo(dir / "plano.mp4", 1280);
    ASSERT_TRUE(plano);
    EXPECT_EQ(plano->size(), QSize(320, 240));
    EXPECT_TRUE(rojo(plano->pixelColor(20, 120)));
    EXPECT_TRUE(azul(plano->pixelColor(300, 120)));
}

TEST_F(MediosTest, LaMuestraDeVideoEsElCuadroDeUnSegundoOUnTercio) {
    // White only between 0.9 s and 1.2 s of a 6 s video; between 0.4 s and 0.8 s of a 1.5 s one.
    auto video = [&](const char* nombre, double duracion, const char* desde, const char* hasta) {
        std::string filtro = "color=c=black:s=1920x1080:r=25:d=" + std::to_string(duracion) +
                             ",drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='between(t," + desde + "," + hasta + ")'";
        return hacer("-f lavfi -i \"" + filtro + "\" -c:v libx264 -pix_fmt yuv420p " + (dir / nombre).string());
    };
    ASSERT_TRUE(video("largo.mp4", 6, "0.9", "1.2"));
    ASSERT_TRUE(video("corto.mkv", 1.5, "0.4", "0.8"));
    for (const char* nombre : {"largo.mp4", "corto.mkv"}) {
        auto m = cuadroDeVideo(dir / nombre, 1280);
        ASSERT_TRUE(m) << nombre;
        EXPECT_EQ(m->size(), QSize(1280, 720)) << nombre;
        EXPECT_GT(qGray(m->pixel(640, 360)), 200) << nombre;
    }
}

TEST_F(MediosTest, UnaImagenConOrientacionSaleDerecha) {
    ASSERT_TRUE(hacer(rojoAzul + " -frames:v 1 -q:v 2 " + (dir / "plana.jpg").string()));
    // EXIF orientation 6: turn a quarter clockwise to view.
    std::string jpeg = leer(dir / "plana.jpg");
    ASSERT_EQ(jpeg.substr(0, 2), "\xff\xd8");
    const std::string tiff("MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00", 26);
    const std::string app1 = std::string("\xff\xe1\x00\x22", 4) + std::string("Exif\0\0", 6) + tiff;
    escribir(dir / "Girada.JPG", jpeg.substr(0, 2) + app1 + jpeg.substr(2));

    Pantalla p = *almacen["pausa"];
    ASSERT_EQ(almacen.importar(dir / "Girada.JPG", p), std::nullopt);
    EXPECT_FALSE(p.esVideo);
    EXPECT_EQ(p.archivo->substr(p.archivo->size() - 4), ".jpg");
    auto m = almacen.muestra(p);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), QSize(240, 320));
    EXPECT_TRUE(rojo(m->pixelColor(120, 20)));
    EXPECT_TRUE(azul(m->pixelColor(120, 300)));
}

TEST_F(MediosTest, UnaImagenEnormeSeLeeChicaSinLlenarLaMemoria) {
    // 20000 × 20000 RGB: 1.2 GB as a full picture, about 7 MB as a file.
    escribir(dir / "enorme.png", pngNegro(20000, 20000));
    const bool medible = reiniciarPico();
    const long antes = picoMiB();
    Pantalla p = *almacen["inicio"];
    ASSERT_EQ(almacen.importar(dir / "enorme.png", p), std::nullopt);
    auto m = almacen.muestra(p);
    if (medible) {
        EXPECT_LT(picoMiB() - antes, 300) << "MiB above the start";
    }
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), QSize(1280, 1280));
    EXPECT_EQ(m->pixelColor(640, 640), QColor(Qt::black));

    // A one-bit picture of the same size has no reader that scales while decoding: refused
    // with a clear message instead of decoding 1.6 GB.
    {
        QImage mono(20000, 20000, QImage::Format_Mono);  // 50 MB
        ASSERT_FALSE(mono.isNull());
        mono.fill(1);
        ASSERT_TRUE(mono.save(QString::fromStdString((dir / "mono.png").string()), "PNG"));
    }
    reiniciarPico();
    const long antesMono = picoMiB();
    Pantalla q = *almacen["pausa"];
    EXPECT_EQ(almacen.importar(dir / "mono.png", q), "Esa imagen no se puede abrir: está dañada o es demasiado grande.");
    if (medible) {
        EXPECT_LT(picoMiB() - antesMono, 300) << "MiB above the start";
    }
    EXPECT_FALSE(q.archivo);
}

TEST_F(MediosTest, VideosRotosOSinImagenNoRompenNada) {
    ASSERT_TRUE(hacer(rojoAzul + " -c:v libx264 -pix_fmt yuv420p " + (dir / "bueno.mp4").string()));
    ASSERT_TRUE(hacer(rojoAzul + " -c:v libx264 -pix_fmt yuv420p " + (dir / "bueno.mkv").string()));
    ASSERT_TRUE(hacer("-f lavfi -i \"sine=frequency=440:duration=2\" -c:a aac " + (dir / "solo_sonido.m4a").string()));
    std::string mp4 = leer(dir / "bueno.mp4"), mkv = leer(dir / "bueno.mkv");
    escribir(dir / "cortado.mp4", mp4.substr(0, mp4.size() / 2));
    escribir(dir / "cortado.mkv", mkv.substr(0, mkv.size() / 2));
    std::string revuelto = mkv;
    for (std::size_t i = revuelto.size() / 4; i < revuelto.size(); i += 7) revuelto[i] = char(i * 31);
    escribir(dir / "revuelto.mkv", revuelto);

    const std::string sinVideo = "Ese archivo no trae video que se pueda reproducir.";
    Pantalla p = *almacen["inicio"];
    EXPECT_EQ(almacen.importar(dir / "solo_sonido.m4a", p), sinVideo);
    for (const char* nombre : {"cortado.mp4", "cortado.mkv", "revuelto.mkv"}) {
        Pantalla q = *almacen["despedida"];
        auto error = almacen.importar(dir / nombre, q);
        if (error) {
            EXPECT_EQ(*error, sinVideo) << nombre;
            continue;
        }
        auto m = almacen.muestra(q);  // a picture or none, never a crash
        EXPECT_TRUE(m && !m->isNull()) << nombre;  // refused at import otherwise
    }
    // The half of a Matroska file still holds the frame at one second.
    auto m = cuadroDeVideo(dir / "cortado.mkv", 1280);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), QSize(320, 240));
}

}  // namespace
}  // namespace tt
