// tremolante-repartir: pushes a file or a synthetic stream at a given rate through the bonded
// uplink to a relay and prints what the uplink confirmed, copied and dropped, how long the
// producer was held at most and when the uplink counted itself cut off. Used by the rig.
#include "comun/proceso.h"
#include "comun/reloj.h"
#include "uplink/reparto.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

using namespace tt;
namespace fs = std::filesystem;

namespace {

const char* ayuda =
    "Uso: tremolante-repartir --entrada HOST:PUERTO [opciones]\n"
    "  --kbps N        ritmo ofrecido (1500)\n"
    "  --segundos S    duración del flujo sintético (20)\n"
    "  --archivo RUTA  mandar este archivo en vez del flujo sintético\n"
    "  --copia RUTA    guardar lo mandado (para compararlo con la salida del relay)\n"
    "  --pieza BYTES   tamaño de cada pieza (8192)\n"
    "  --clave CLAVE   clave compartida con el relay (mejor en TM_RELAY_CLAVE: ps no la muestra)\n"
    "  --al-ritmo      el archivo es FLV: cada etiqueta a su hora; sin red, en pausa como la app\n"
    "  --respaldo RUTA JPEG que el relay publica mientras no llegan datos\n"
    "  --detalle       el estado de cada enlace cada 2 s, en la salida de errores\n"
    "Las interfaces salen de TM_INTERFACES (separadas por comas) o de las redes de la máquina.\n";

}  // namespace

int main(int argc, char** argv, char** env) {
    std::string entrada, archivo, copia, clave;
    double kbps = 1500, segundos = 20;
    std::size_t pieza = 8192;
    bool detalle = false, alRitmo = false;
    std::optional<std::string> respaldo;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--detalle" || a == "--al-ritmo") {
            (a == "--detalle" ? detalle : alRitmo) = true;
            continue;
        }
        if (a == "--help") {
            std::fputs(ayuda, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fputs(ayuda, stderr);
            return 2;
        }
        std::string v = argv[++i];
        if (a == "--entrada") entrada = v;
        else if (a == "--kbps") kbps = std::stod(v);
        else if (a == "--segundos") segundos = std::stod(v);
        else if (a == "--archivo") archivo = v;
        else if (a == "--copia") copia = v;
        else if (a == "--pieza") pieza = std::size_t(std::stoul(v));
        else if (a == "--clave") clave = v;
        else if (a == "--respaldo") {
            std::ifstream f(v, std::ios::binary);
            respaldo.emplace(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        else {
            std::fputs(ayuda, stderr);
            return 2;
        }
    }
    auto dir = fs::temp_directory_path() / ("tm-repartir-" + std::to_string(::getpid()));
    fs::create_directories(dir / "log");
    Proceso p;
    p.entorno = Entorno::deProceso(env);
    p.arranqueApp = ahora();
    p.casa = dir;
    p.carpetaLog = dir / "log";
    p.carpetaHogar = dir;
    fijarProceso(p);

    // The synthetic stream repeats a 4 MiB block unless a copy is kept: long runs stay small.
    std::string datos;
    std::size_t total = 0;
    if (!archivo.empty()) {
        std::ifstream f(archivo, std::ios::binary);
        datos.assign(std::istreambuf_iterator<char>(f), {});
        total = datos.size();
    } else {
        std::mt19937 azar(7);
        total = std::size_t(kbps * 125 * segundos);
        datos.resize(copia.empty() ? std::min<std::size_t>(total, 4u << 20) : total);
        for (auto& c : datos) c = char(azar());
    }
    if (!copia.empty()) std::ofstream(copia, std::ios::binary).write(datos.data(), std::streamsize(datos.size()));

    if (const char* c = std::getenv("TM_RELAY_CLAVE"); c && clave.empty()) clave = c;
    if (alRitmo && (archivo.empty() || datos.compare(0, 3, "FLV") != 0 || datos.size() < 13)) {
        std::fprintf(stderr, "--al-ritmo necesita un archivo FLV\n");
        return 2;
    }
    auto r = Reparto::crear(entrada, clave, std::nullopt, respaldo, std::nullopt);
    if (!r) {
        std::fprintf(stderr, "entrada inválida: %s\n", entrada.c_str());
        return 2;
    }
    std::atomic<bool> fin{false};
    std::string cortes;
    const double t0 = ahora();
    std::thread vigia([&] {
        bool antes = false;
        double tDetalle = t0;
        while (!fin) {
            if (detalle && ahora() - tDetalle >= 2) {
                tDetalle = ahora();
                std::string l;
                for (auto& j : r->detalle()) l += " " + j.dump();
                std::fprintf(stderr, "%.0f s:%s\n", tDetalle - t0, l.c_str());
            }
            bool c = r->cortado();
            if (c != antes) {
                char b[64];
                std::snprintf(b, sizeof b, "%s%.1f", c ? " cortado desde " : " hasta ", ahora() - t0);
                cortes += b;
                antes = c;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    double esperaMax = 0;
    // An FLV file as the encoder would write it live: each tag at its time stamp, in pieces
    // of at most 16 KiB; while the uplink is cut off the clock stops, as the app's does.
    std::size_t i = alRitmo ? 13 : total;
    if (alRitmo) r->enviar(datos.substr(0, 13));
    double pausa = 0;
    while (i + 11 <= total) {
        const auto* p = reinterpret_cast<const unsigned char*>(datos.data() + i);
        const std::size_t largo = 11 + (std::size_t(p[1]) << 16 | std::size_t(p[2]) << 8 | p[3]) + 4;
        const double ms =
            double(std::uint32_t(p[4]) << 16 | std::uint32_t(p[5]) << 8 | p[6] | std::uint32_t(p[7]) << 24);
        for (;;) {
            const double falta = t0 + pausa + ms / 1000 - ahora();
            if (r->cortado()) {
                const double antes = ahora();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                pausa += ahora() - antes;
            } else if (falta > 0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(std::min(falta, 0.02)));
            } else {
                break;
            }
        }
        const double a = ahora();
        for (std::size_t j = 0; j < largo && i + j < total; j += 16384)
            r->enviar(datos.substr(i + j, std::min<std::size_t>(16384, largo - j)));
        // Held by an uplink without links: the app's encoder goes on for the 1.5 s the uplink
        // takes to count itself cut off (that part arrives late), then its clock stops.
        const double frenado = ahora() - a;
        esperaMax = std::max(esperaMax, frenado);
        pausa += std::max(0.0, frenado - 1.5);
        i += largo;
    }
    for (std::size_t i = 0; !alRitmo && i < total; i += pieza) {
        const double debida = t0 + double(i) * 8 / (kbps * 1000);
        const double falta = debida - ahora();
        if (falta > 0) std::this_thread::sleep_for(std::chrono::duration<double>(falta));
        const double a = ahora();
        r->enviar(datos.substr(i % datos.size(), std::min(pieza, total - i)));
        esperaMax = std::max(esperaMax, ahora() - a);
    }
    const double mandado = ahora() - t0;
    // Wait for every byte to be acknowledged (copies count more than once), at most 30 s.
    while (r->confirmadosTotal() < std::int64_t(total) && ahora() - t0 < mandado + 30)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double duracion = ahora() - t0;
    auto c = r->cuentas();
    r->terminar();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    fin = true;
    vigia.join();
    std::printf("bytes %zu en %.1f s (mandados en %.1f s)\n", total, duracion, mandado);
    // "Confirmado" is what the quality controller reads: every acknowledged byte, copies included;
    // "útil" counts each byte of the stream once.
    std::printf("ofrecido %.0f kbps, confirmado %.0f kbps (%.1f %% de lo ofrecido), útil %.0f kbps\n", kbps,
                double(c.confirmados) * 8 / duracion / 1000,
                100.0 * double(c.confirmados) * 8 / duracion / 1000 / kbps, double(total) * 8 / duracion / 1000);
    std::printf("copias %lld, caídas %lld, atascos %lld, latidos %lld, productor frenado a lo sumo %.2f s\n",
                (long long)c.copias, (long long)c.caidas, (long long)c.atascos, (long long)c.latidos, esperaMax);
    std::printf("cortado:%s\n", cortes.empty() ? " nunca" : cortes.c_str());
    r.reset();
    fs::remove_all(dir);
    return 0;
}
