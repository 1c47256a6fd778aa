// What the app says when the platform is not getting the stream, as a new user would meet it: a
// channel whose server does not exist or refuses the key, an ingest that goes away on air, and
// the live picture coming back to viewers when the computer's network returns.
#include "e2e/montaje.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

namespace fs = std::filesystem;
using namespace tt::prueba;
using tt::Json;
using Reloj = std::chrono::steady_clock;

namespace {

double desde(Reloj::time_point t0) { return std::chrono::duration<double>(Reloj::now() - t0).count(); }

const std::string cortada = "aviso: El servidor cortó la transmisión. Si apenas empezaba, revisa la clave del canal de Kick.";

// The video of a recording at 10 frames a second, each frame reduced to 32×18 RGB.
std::vector<std::string> miniaturas(const fs::path& flv) {
    const std::string todo = salidaDe("ffmpeg -v error -i " + flv.string() +
                                      " -vf fps=10,scale=32:18 -f rawvideo -pix_fmt rgb24 -");
    std::vector<std::string> v;
    for (std::size_t i = 0; i + 32 * 18 * 3 <= todo.size(); i += 32 * 18 * 3) v.push_back(todo.substr(i, 32 * 18 * 3));
    return v;
}

// The first pulse to the phone whose "sinDestino" is as asked, within `segundos`.
std::optional<Json> pulso(ClienteWs& tel, bool sinDestino, double segundos) {
    const auto fin = Reloj::now() + std::chrono::duration<double>(segundos);
    while (Reloj::now() < fin)
        if (auto p = tel.esperar("pulso", 2); p && p->value("sinDestino", !sinDestino) == sinDestino) return p;
    return std::nullopt;
}

double diferencia(const std::string& x, const std::string& y) {  // mean per byte
    double d = 0;
    for (std::size_t i = 0; i < x.size(); ++i) d += std::abs(int(std::uint8_t(x[i])) - int(std::uint8_t(y[i])));
    return d / double(x.size());
}

}  // namespace

// Nothing listens where the channel points, or nginx refuses the stream key: the relay gives up
// after its 15 s, the app shows why and stops, and the account is not charged.
TEST(Destino, unDestinoQueNuncaRecibeTerminaLaTransmisionSinCobrar) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    for (bool rechaza : {false, true}) {
        SCOPED_TRACE(rechaza ? "nginx rechaza la clave" : "nada escucha");
        Montaje m(rechaza);
        Corrida c;
        m.preparar(c, rechaza ? std::string() : "rtmp://127.0.0.1:" + std::to_string(puertoLibre()) + "/live");
        m.arrancar(c, {"TM_AUTO=si"});
        ASSERT_TRUE(esperar([&] { return fs::exists(c.datos / "sesion.json"); }, 40)) << c.bitacora();
        const auto t0 = Reloj::now();
        ASSERT_TRUE(c.esperarEnBitacora(cortada, 45)) << c.bitacora() << m.relay.registro();
        std::cout << (rechaza ? "clave rechazada" : "nada escucha") << ": el aviso a los " << desde(t0)
                  << " s de empezar\n";
        const std::string log = c.bitacora();
        // Meanwhile the app said what was going on.
        EXPECT_LT(log.find("destino: Kick no está recibiendo la transmisión"), log.find(cortada)) << log;
        EXPECT_NE(m.relay.registro().find("cerrada (el destino no aceptó la publicación en 15 s)"), std::string::npos)
            << m.relay.registro();
        EXPECT_FALSE(esperar([&] { return m.saldo() != 7200; }, 3)) << m.saldo();  // three report periods
        ASSERT_EQ(kill(c.pid, SIGTERM), 0);
        EXPECT_EQ(c.esperar(15), 0) << c.bitacora();
        m.cerrar();
    }
}

// nginx goes away for 10 s on air: the app and the phone say Kick is not getting the stream, and
// stop saying it once nginx is back; a viewer who joins then gets a clean stream.
TEST(Destino, laIngestaCaeYVuelveAlAire) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    Montaje m;
    Corrida c;
    m.preparar(c);
    m.arrancar(c, {"TM_AUTO=si"});
    auto tel = m.celular();
    ASSERT_TRUE(esperar([&] { return fs::exists(m.nginx.grabado("sk-prueba")); }, 40)) << m.relay.registro();
    ASSERT_TRUE(m.estado(*tel, true, 20)) << c.bitacora();

    EXPECT_EQ(m.nginx.parar(), 0);
    const auto caida = Reloj::now();
    ASSERT_TRUE(c.esperarEnBitacora("destino: Kick no está recibiendo la transmisión", 30)) << m.relay.registro();
    const double avisado = desde(caida);
    // The phone shows it too: its pulses carry it while the desktop is live.
    auto p = pulso(*tel, true, 5);
    ASSERT_TRUE(p) << c.bitacora();
    EXPECT_TRUE((*p)["vivo"].get<bool>());
    EXPECT_EQ((*p)["aviso"], "Kick no está recibiendo la transmisión. Reintentando…");

    std::this_thread::sleep_for(std::chrono::seconds(10) - (Reloj::now() - caida));  // the 10 s outage itself
    m.nginx.arrancar();
    const auto vuelta = Reloj::now();
    ASSERT_TRUE(c.esperarEnBitacora("destino: Kick recibe la transmisión otra vez", 30)) << m.relay.registro();
    const double devuelto = desde(vuelta);
    p = pulso(*tel, false, 5);
    ASSERT_TRUE(p) << c.bitacora();
    EXPECT_TRUE((*p)["vivo"].get<bool>());
    std::cout << "ingesta caída: aviso a los " << avisado << " s, quitado a los " << devuelto << " s de volver\n";

    // A viewer from now on: it waits for the next key frame, then decodes without an error.
    CarpetaTemporal carpeta;
    const fs::path visto = carpeta / "lector.flv";
    std::system(("timeout 40 ffmpeg -v error -rw_timeout 15000000 -analyzeduration 15000000 -i " +
                 m.nginx.flujo("sk-prueba") +
                 " -t 4 -c copy -f flv " + visto.string() + " 2>/dev/null")
                    .c_str());
    EXPECT_EQ(erroresDe("ffmpeg -v error -i " + visto.string() + " -f null -"), "");
    const std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + visto.string());
    EXPECT_NE(flujos.find("video"), std::string::npos) << flujos;
    EXPECT_NE(flujos.find("audio"), std::string::npos) << flujos;
    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(c.esperar(15), 0) << c.bitacora();
    m.cerrar();
}

// An 8 s outage of the computer's network: viewers see the fallback picture meanwhile, and the live
// picture again almost as soon as the network is back (not at the encoder's next key frame).
TEST(Destino, trasUnCorteLosEspectadoresVenLaImagenEnVivoEnSeguida) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    Montaje m;
    Corrida c;
    m.preparar(c);
    // The outage counts from the uplink's start; the stream starts with it.
    m.arrancar(c, {"TM_AUTO=si", "TM_CORTE=16:8"});
    ASSERT_TRUE(esperar([&] { return fs::exists(m.nginx.grabado("sk-prueba")); }, 40)) << m.relay.registro();
    CarpetaTemporal carpeta;
    const fs::path visto = carpeta / "lector.flv";
    Hijo lector({"/usr/bin/ffmpeg", "-v", "error", "-rw_timeout", "5000000", "-analyzeduration", "15000000", "-i",
                 m.nginx.flujo("sk-prueba"), "-t",
                 "26", "-c", "copy", "-f", "flv", visto.string()},
                {"PATH=/usr/bin:/bin"}, carpeta / "lector.txt");
    ASSERT_TRUE(c.esperarEnBitacora("volvió el internet: sigue la transmisión", 40)) << c.bitacora();
    EXPECT_EQ(lector.esperar(40), 0) << leer(carpeta / "lector.txt");
    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(c.esperar(15), 0) << c.bitacora();
    m.cerrar();

    // The recording's time line follows the relay's clock, the fallback picture included: the
    // picture lasts from the outage's start to the first live frame after it.
    const auto v = miniaturas(visto);
    ASSERT_GT(v.size(), 100u);
    const std::string& vivo = v[5];
    std::size_t primero = 0, ultimo = 0;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (diferencia(v[i], vivo) > 30) {
            if (!primero) primero = i;
            ultimo = i;
        }
    ASSERT_GT(primero, 0u) << "no se vio la imagen de respaldo";
    ASSERT_LT(ultimo + 10, v.size()) << "la imagen en vivo no volvió";
    for (std::size_t i = ultimo + 1; i < v.size(); ++i) EXPECT_LT(diferencia(v[i], vivo), 8) << i;
    const double retraso = double(ultimo + 1 - primero) / 10 - 8;
    std::cout << "tras el corte: imagen en vivo a los " << retraso << " s de volver la red\n";
    EXPECT_GT(retraso, -0.5);  // the outage did last its 8 s
}
