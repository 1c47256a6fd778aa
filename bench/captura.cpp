// The per-frame costs of the capture path at 1080p: what a camera frame costs to become NV12,
// what the preview's RGB conversion costs, and a plain NV12 copy as the floor.
#include "engine/camara_falsa.h"
#include "engine/convertir.h"

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <vector>

namespace {

constexpr int W = 1920, H = 1080;

tt::Cuadro base() {
    QImage i(640, 360, QImage::Format_RGB32);
    i.fill(QColor(90, 140, 200));
    return *tt::imagenANv12709(i, W, H);
}

void copiaNv12(benchmark::State& s) {
    const tt::Cuadro c = base();
    std::vector<std::uint8_t> destino(tt::bytesNv12(W, H));
    for (auto _ : s) {
        libyuv::NV12Copy(c.y(), c.pasoY, c.uv(), c.pasoUV, destino.data(), W, destino.data() + W * H, W, W, H);
        benchmark::DoNotOptimize(destino.data());
    }
}
BENCHMARK(copiaNv12)->Unit(benchmark::kMillisecond);

void yuyvANv12(benchmark::State& s) {
    std::vector<std::uint8_t> yuyv(std::size_t(W) * H * 2, 128);
    tt::Planos p;
    p.datos[0] = yuyv.data();
    p.pasos[0] = W * 2;
    p.bytes[0] = yuyv.size();
    for (auto _ : s) benchmark::DoNotOptimize(tt::aNv12(tt::Disposicion::yuyv, p, W, H));
}
BENCHMARK(yuyvANv12)->Unit(benchmark::kMillisecond);

void bgraANv12(benchmark::State& s) {
    std::vector<std::uint8_t> bgra(std::size_t(W) * H * 4, 200);
    tt::Planos p;
    p.datos[0] = bgra.data();
    p.pasos[0] = W * 4;
    p.bytes[0] = bgra.size();
    for (auto _ : s) benchmark::DoNotOptimize(tt::aNv12(tt::Disposicion::bgra, p, W, H));
}
BENCHMARK(bgraANv12)->Unit(benchmark::kMillisecond);

void previaA640(benchmark::State& s) {
    const tt::Cuadro c = base();
    for (auto _ : s) benchmark::DoNotOptimize(tt::nv12AImagen(c, 640, 360));
}
BENCHMARK(previaA640)->Unit(benchmark::kMillisecond);

// The synthetic camera hands out shared frames: this is its whole per-frame cost.
void cuadroFalso(benchmark::State& s) {
    QImage i(640, 360, QImage::Format_RGB32);
    i.fill(Qt::gray);
    tt::CamaraFalsa falsa(tt::cuadrosFalsos(i, true), 60);
    double t = 0;
    for (auto _ : s) benchmark::DoNotOptimize(falsa.siguiente(t += 1.0 / 60));
}
BENCHMARK(cuadroFalso);

}  // namespace

BENCHMARK_MAIN();
