// The stream button pressed by TM_AUTO with the synthetic camera, as a new user would run it:
// a test recording, a stream to a real RTMP server, and an encoder that dies on air.
#include "e2e/corrida.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tt::prueba;

TEST(Transmision, grabacionDePruebaConCamaraFalsa) {
    Corrida c;
    fs::remove("/tmp/prueba-app.mkv");
    c.arrancar({"TM_ARCHIVO=1", "TM_AUTO=8"});
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();
    std::string log = c.bitacora();
    EXPECT_NE(log.find("→ archivo"), std::string::npos) << log;
    EXPECT_NE(log.find("transmisión detenida"), std::string::npos);

    std::string v = salidaDe("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,height "
                             "-show_entries format=duration -of default=nw=1 /tmp/prueba-app.mkv");
    std::string a = salidaDe("ffprobe -v error -select_streams a:0 -count_packets -show_entries "
                             "stream=codec_name,sample_rate,channels,nb_read_packets -of default=nw=1 /tmp/prueba-app.mkv");
    EXPECT_NE(v.find("codec_name=av1"), std::string::npos) << v;
    EXPECT_LE(numero(v, "height"), 720);
    EXPECT_NE(a.find("codec_name=aac"), std::string::npos) << a;
    EXPECT_EQ(numero(a, "sample_rate"), 48000);
    EXPECT_EQ(numero(a, "channels"), 2);
    double duracion = numero(v, "duration");
    EXPECT_NEAR(duracion, 8.0, 1.0);
    // Audio and video end together: AAC packets of 1024 samples against the container's length.
    double audio = numero(a, "nb_read_packets") * 1024 / 48000;
    std::string cuadros = salidaDe("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=nb_read_frames,r_frame_rate -of default=nw=1 /tmp/prueba-app.mkv");
    double video = numero(cuadros, "nb_read_frames") / 30.0;
    EXPECT_NEAR(audio, video, 0.1) << a << cuadros;
}

TEST(Transmision, aUnServidorRtmpSinCuenta) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    Corrida c;
    ServidorRtmp nginx;
    c.config(R"({"servidor": ")" + nginx.flujo("mac") + R"(", "kbps": 1200, "preset": 12})");
    c.arrancar({"TM_AUTO=8"});
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();
    std::string log = c.bitacora();
    EXPECT_NE(log.find("→ " + nginx.aplicacion() + "/…"), std::string::npos) << log;  // never the key
    EXPECT_EQ(log.find("live/mac"), std::string::npos);
    std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type,codec_name -of compact " +
                                  nginx.grabado("mac").string());
    EXPECT_NE(flujos.find("codec_type=video"), std::string::npos) << flujos;
    EXPECT_NE(flujos.find("codec_type=audio"), std::string::npos) << flujos;
}

TEST(Transmision, elCompresorMuereAlAire) {
    Corrida c;
    c.arrancar({"TM_ARCHIVO=1", "TM_AUTO=60", "TM_SALIR=14"});
    ASSERT_TRUE(c.esperarEnBitacora("transmisión: ", 20)) << c.bitacora();
    std::string hijo = salidaDe("pgrep -P " + std::to_string(c.pid) + " ffmpeg");
    ASSERT_FALSE(hijo.empty());
    ASSERT_EQ(kill(std::stoi(hijo), SIGKILL), 0);
    EXPECT_TRUE(c.esperarEnBitacora("aviso: No se pudo conectar con el servidor.", 10)) << c.bitacora();
    EXPECT_TRUE(c.esperarEnBitacora("transmisión detenida", 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int fifos = 0;
    for (auto& e : fs::recursive_directory_iterator(c.tmp.ruta()))
        if (e.is_fifo()) ++fifos;
    EXPECT_EQ(fifos, 0);
    // Nothing stays blocked: the application still quits by itself.
    EXPECT_EQ(c.esperar(30), 0);
}
