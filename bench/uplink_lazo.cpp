// One link of the bonded uplink on loopback against the real relay stand-in, 16 KiB chunks:
// acknowledged throughput (target: at least 200 Mbit/s).
#include "comun/proceso.h"
#include "relay_banco.h"
#include "uplink/reparto.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

using namespace tt;
namespace fs = std::filesystem;

namespace {

constexpr const char* claveLazo = "clave-del-banco";

void BM_UnEnlaceEnLazo(benchmark::State& state) {
    auto dir = fs::temp_directory_path() / ("tm-bench-uplink-" + std::to_string(getpid()));
    fs::create_directories(dir / "log");
    Proceso p;
    p.carpetaLog = dir / "log";
    p.casa = dir;
    p.carpetaHogar = dir;
    p.entorno = Entorno({{"TM_INTERFACES", "lo"}, {"TM_DATOS", (dir / "datos").string()}});
    fijarProceso(p);
    RelayBanco relay(claveLazo);
    if (relay.entrada.empty()) {
        state.SkipWithError("el relay no arrancó");
        return;
    }
    auto r = Reparto::crear(relay.entrada, claveLazo, std::nullopt, std::nullopt, std::nullopt);
    const std::string trozo(16384, 'x');
    const int porVuelta = int(state.range(0)) / 16384;
    std::int64_t mandados = 0;
    double segundos = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < porVuelta; ++i) r->enviar(trozo);
        mandados += std::int64_t(porVuelta) * 16384;
        while (r->confirmadosTotal() < mandados) std::this_thread::sleep_for(std::chrono::microseconds(200));
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        segundos += s;
        state.SetIterationTime(s);
    }
    state.SetBytesProcessed(mandados);
    state.counters["Mbit/s confirmados"] = segundos > 0 ? double(mandados) * 8 / segundos / 1e6 : 0;
    r->terminar();
    r.reset();
    fs::remove_all(dir);
}
BENCHMARK(BM_UnEnlaceEnLazo)->Arg(32 << 20)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
