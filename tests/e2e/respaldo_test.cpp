// An 8 s outage in the middle of a transmission, as viewers see it: a real encoder's stream goes
// through the relay to nginx's RTMP module while a reader records what nginx hands out. The
// recording stays one stream, shows the fallback picture during the outage and plays cleanly.
#include "e2e/corrida.h"
#include "soporte/relay_hijo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tt::prueba;

namespace {


std::vector<long> tiempos(const fs::path& flv, const char* tipo) {
    std::istringstream in(salidaDe(std::string("ffprobe -v error -select_streams ") + tipo +
                                   " -show_entries packet=pts -of csv=p=0 " + flv.string()));
    std::vector<long> v;
    std::string l;
    while (std::getline(in, l))
        if (!l.empty() && l[0] != 'N') v.push_back(std::stol(l));
    return v;
}

// Mean difference per byte of the frame at `segundo` and the picture, both reduced to 32×18 RGB.
double diferencia(const fs::path& flv, double segundo, const fs::path& foto) {
    const std::string reducir = " -frames:v 1 -vf scale=32:18 -f rawvideo -pix_fmt rgb24 -";
    const std::string x = salidaDe("ffmpeg -v error -ss " + std::to_string(segundo) + " -i " + flv.string() + reducir);
    const std::string y = salidaDe("ffmpeg -v error -i " + foto.string() + reducir);
    if (x.size() != 32 * 18 * 3 || x.size() != y.size()) return 255;
    double d = 0;
    for (std::size_t i = 0; i < x.size(); ++i) d += std::abs(int(std::uint8_t(x[i])) - int(std::uint8_t(y[i])));
    return d / double(x.size());
}

long cpuDe(pid_t pid) {  // clock ticks of user and system time
    std::istringstream in(leer("/proc/" + std::to_string(pid) + "/stat"));
    std::string campo;
    long t = 0;
    for (int i = 1; i <= 15 && in >> campo; ++i)
        if (i == 14 || i == 15) t += std::stol(campo);
    return t;
}

}  // namespace

TEST(Respaldo, losEspectadoresVenLaImagenDuranteElCorteYElFlujoSigueSinCortes) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    CarpetaTemporal c;
    const fs::path flujo = c / "flujo.flv", foto = c / "foto.jpg", grabado = c / "lector.flv";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=960x540:rate=30 -f lavfi -i "
                           "sine=frequency=440:sample_rate=48000 -t 24 -c:v libx264 -preset veryfast -tune zerolatency "
                           "-g 60 -b:v 1200k -c:a aac -ac 2 " + flujo.string())
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i color=c=0x2050c0:size=1280x720,drawbox=x=200:y=150:w=880:"
                           "h=420:color=0xf0d020:t=fill -frames:v 1 " + foto.string())
                              .c_str()),
              0);

    ServidorRtmp nginx;
    const std::string canal = nginx.flujo("respaldo");
    RelayHijo relay({"k1", ""}, {"--destino", canal});
    ASSERT_NE(relay.puerto(), 0);
    // A viewer from the start; a silence of 5 s would end its connection.
    Hijo lector({"/usr/bin/ffmpeg", "-v", "error", "-rw_timeout", "5000000", "-i", canal, "-c", "copy", "-f", "flv",
                 grabado.string()},
                {"PATH=/usr/bin:/bin"}, c / "lector.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Hijo emisor({TM_BIN "/tremolante-repartir", "--entrada", relay.entrada(), "--archivo", flujo.string(),
                 "--al-ritmo", "--respaldo", foto.string()},
                {"PATH=/usr/bin:/bin", "TMPDIR=" + c.ruta().string(), "TM_CORTE=10:8", "TM_INTERFACES=lo",
                 "TM_RELAY_CLAVE=k1"},
                c / "emisor.txt");

    // The relay's CPU over 4 s of the picture.
    bool vista = false;
    for (int i = 0; i < 200 && !vista; ++i) {
        vista = relay.registro().find("se publica la imagen de respaldo") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(vista) << relay.registro();
    const long antes = cpuDe(relay.pid());
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const double cpu = double(cpuDe(relay.pid()) - antes) / double(sysconf(_SC_CLK_TCK)) / 4 * 100;

    ASSERT_EQ(emisor.esperar(90), 0) << leer(c / "emisor.txt");
    // From the pusher's start to its last tag.
    const std::string dicho = leer(c / "emisor.txt");
    const auto p = dicho.find("(mandados en ");
    ASSERT_NE(p, std::string::npos) << dicho;
    const double alAire = std::stod(dicho.substr(p + 13));
    EXPECT_NE(dicho.find("cortado: cortado desde"), std::string::npos) << dicho;
    // The viewer was still connected at the end and left only after the stream ended.
    EXPECT_TRUE(lector.vivo()) << leer(c / "lector.txt");
    EXPECT_EQ(lector.esperar(20), 0) << leer(c / "lector.txt");
    const std::string log = relay.registro();
    EXPECT_NE(log.find("vuelven los datos de"), std::string::npos) << log;
    EXPECT_EQ(log.find("/live/respaldo"), std::string::npos);  // the key never reaches the log

    EXPECT_EQ(erroresDe("ffmpeg -v error -i " + grabado.string() + " -f null -"), "");
    const auto v = tiempos(grabado, "v"), a = tiempos(grabado, "a");
    ASSERT_GT(v.size(), 600u);
    ASSERT_GT(a.size(), 1000u);
    // One stream as long as the time on air, never going back, no gap but a frame or two anywhere.
    EXPECT_NEAR(double(v.back() - v.front()) / 1000, alAire, 1.0);
    long huecoV = 0, huecoA = 0;
    for (std::size_t i = 1; i < v.size(); ++i) {
        ASSERT_GT(v[i], v[i - 1]) << i;
        huecoV = std::max(huecoV, v[i] - v[i - 1]);
    }
    for (std::size_t i = 1; i < a.size(); ++i) {
        ASSERT_GT(a[i], a[i - 1]) << i;
        huecoA = std::max(huecoA, a[i] - a[i - 1]);
    }
    EXPECT_LE(huecoV, 67);
    EXPECT_LE(huecoA, 67);
    // The picture during the outage (from 10 s on the stream's time line, for the 6.5 s between
    // the uplink counting itself cut off and its return), the stream before and after it.
    EXPECT_LT(diferencia(grabado, 11, foto), 8);
    EXPECT_LT(diferencia(grabado, 15.5, foto), 8);
    EXPECT_GT(diferencia(grabado, 5, foto), 30);
    EXPECT_GT(diferencia(grabado, 20, foto), 30);
    std::cout << "hueco más largo: video " << huecoV << " ms, audio " << huecoA << " ms; CPU del relay con la imagen "
              << cpu << " % de un núcleo; grabación " << double(v.back() - v.front()) / 1000 << " s, al aire "
              << alAire << " s\n";
}
