// What one programme frame costs at 1920 × 1080: a screen with a still background box, the camera
// in its rounded box and an overlay (title, subtitle, three handles); the same over a full-frame
// background; the camera-only screen (no copy); a plain NV12 copy as the floor; and a 1080p30
// background video decoded frame by frame at its own pace.
#include "comun/proceso.h"
#include "pantallas/almacen.h"
#include "pantallas/compositor.h"
#include "pantallas/fondo_video.h"

#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr int W = 1920, H = 1080;
fs::path carpeta;

tt::Cuadro camara() {
    tt::Cuadro c = tt::nuevoCuadro(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) c.y()[std::size_t(y) * W + x] = std::uint8_t(16 + (x + y) % 200);
    for (std::size_t i = 0; i < std::size_t(W) * H / 2; ++i) c.uv()[i] = std::uint8_t(100 + i % 56);
    return c;
}

std::unique_ptr<tt::Almacen> elAlmacen;  // made in main, inside the application's life

tt::Almacen& almacen() {
    if (!elAlmacen) {
        elAlmacen = std::make_unique<tt::Almacen>(carpeta / "canal");
        QImage i(2560, 1440, QImage::Format_RGB32);
        for (int y = 0; y < i.height(); ++y)
            for (int x = 0; x < i.width(); ++x) i.setPixel(x, y, qRgb(x % 256, y % 256, 120));
        i.save(QString::fromStdString((elAlmacen->medios() / "fondo.jpg").string()), "JPEG", 90);
    }
    return *elAlmacen;
}

tt::Pantalla pantalla(double fondoTam) {
    tt::Pantalla p;
    p.id = "banco";
    p.archivo = "fondo.jpg";
    p.fondoTam = fondoTam;
    p.fondoPos = 0;
    p.camara = 2;
    p.camTam = 0.32;
    p.titulo = "Volvemos en un momento";
    p.subtitulo = "No te vayas";
    p.redes = {{"instagram", "@tremolante"}, {"kick", "tremolante"}, {"youtube", "Tremolante TV"}};
    return p;
}

void copiaNv12(benchmark::State& s) {
    const tt::Cuadro c = camara();
    std::vector<std::uint8_t> destino(tt::bytesNv12(W, H));
    for (auto _ : s) {
        libyuv::NV12Copy(c.y(), c.pasoY, c.uv(), c.pasoUV, destino.data(), W, destino.data() + W * H, W, W, H);
        benchmark::DoNotOptimize(destino.data());
    }
}
BENCHMARK(copiaNv12)->Unit(benchmark::kMillisecond);

void componer(benchmark::State& s, double fondoTam) {
    tt::Compositor c;
    c.poner(pantalla(fondoTam), almacen(), 0);
    const tt::Cuadro cam = camara();
    double t = 1;
    c.cuadro(cam, t);  // the overlay and background are prepared once, before timing
    for (auto _ : s) {
        t += 1.0 / 60;
        benchmark::DoNotOptimize(c.cuadro(cam, t));
    }
    s.counters["capas"] = c.capasDibujadas();
}
void fondoEnCaja(benchmark::State& s) { componer(s, 0.6); }
void fondoCompleto(benchmark::State& s) { componer(s, 1); }
BENCHMARK(fondoEnCaja)->Unit(benchmark::kMillisecond);
BENCHMARK(fondoCompleto)->Unit(benchmark::kMillisecond);

void pantallaDirecta(benchmark::State& s) {
    tt::Compositor c;
    tt::Pantalla p;
    p.id = "camara";
    p.camara = 1;
    c.poner(p, almacen(), 0);
    const tt::Cuadro cam = camara();
    double t = 1;
    std::int64_t copias = 0;
    for (auto _ : s) {
        t += 1.0 / 60;
        const tt::Cuadro r = c.cuadro(cam, t);
        copias += !r.mismaImagen(cam);
        benchmark::DoNotOptimize(r);
    }
    s.counters["copias"] = double(copias);
}
BENCHMARK(pantallaDirecta)->Unit(benchmark::kMicrosecond);

// One 1080p30 frame decoded and made upright NV12 per iteration: × 30 is the share of a core.
void video1080p30(benchmark::State& s) {
    const fs::path ruta = carpeta / "fondo1080.mp4";
    if (!fs::exists(ruta)) {
        const std::string orden = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                                  "testsrc2=size=1920x1080:rate=30:duration=4 -pix_fmt yuv420p -c:v libx264 "
                                  "-preset veryfast -g 60 " + ruta.string() + " 2>/dev/null";
        if (std::system(orden.c_str()) != 0) {
            s.SkipWithError("ffmpeg no pudo crear el video");
            return;
        }
    }
    auto v = tt::FondoVideo::abrir(ruta, 0, 0);
    if (!v) {
        s.SkipWithError("no se abrió el video");
        return;
    }
    double t = 0;
    for (auto _ : s) {
        t += 1.0 / 30;
        benchmark::DoNotOptimize(v->en(t));
    }
}
BENCHMARK(video1080p30)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char plantilla[] = "/tmp/bench-compositor-XXXXXX";
    if (!mkdtemp(plantilla)) return 1;
    carpeta = plantilla;
    setenv("HOME", plantilla, 1);
    setenv("XDG_CONFIG_HOME", (carpeta / ".config").c_str(), 1);
    tt::Proceso p;
    p.recursos = fs::read_symlink("/proc/self/exe").parent_path() / ".." / "share" / "tremolante";
    p.casa = carpeta;
    p.carpetaLog = carpeta / "log";
    p.carpetaHogar = carpeta / "hogar";
    fs::create_directories(p.carpetaLog);
    tt::fijarProceso(p);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    elAlmacen.reset();
    std::error_code ec;
    fs::remove_all(carpeta, ec);
    return 0;
}
