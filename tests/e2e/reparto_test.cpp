// The bonded path as a new user runs it: the synthetic camera, config.json pointing at a local relay
// stand-in, a channel, and the stream leaving through the loopback interface.
#include "e2e/corrida.h"
#include "soporte/relay_hijo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace tt::prueba;

namespace {

// The application streaming through the relay to the channel on its own nginx (a destination that
// never takes the stream would end the transmission).
struct Bonded : Corrida {
    ServidorRtmp nginx;
    explicit Bonded(const RelayHijo& relay, int kbps = 1200) {
        const std::string canal = nginx.aplicacion();
        config(R"({"servidor": "rtmp://127.0.0.1:1/live/mac", "kbps": )" + std::to_string(kbps) +
               R"(, "preset": 12, "entrada": "127.0.0.1:)" + std::to_string(relay.puerto()) + R"(", "clave": "k1"})");
        escribir(datos / "canales.json",
                 R"([{"id": "c1", "nombre": "Mi canal", "servidor": ")" + canal + R"(", "clave": "prueba"}])");
    }
    void arrancar(std::vector<std::string> extra) {
        extra.push_back("TM_INTERFACES=lo");
        Corrida::arrancar(std::move(extra));
    }
    int fifosQueQuedan() const {
        int n = 0;
        for (auto& e : fs::recursive_directory_iterator(tmp.ruta()))
            if (e.is_fifo()) ++n;
        return n;
    }
};

// The relay stand-in writing what it reassembles into salida.
struct RelayGrabando {
    CarpetaTemporal carpeta;
    fs::path salida = carpeta / "salida.flv";
    RelayHijo relay{{"k1", ""}, {"--salida", salida.string()}};
};

// Packet time stamps (ms) of one kind of stream; packets without one (codec configuration) skipped.
std::vector<long> tiempos(const fs::path& flv, const char* tipo) {
    std::istringstream in(salidaDe(std::string("ffprobe -v error -select_streams ") + tipo +
                                   " -show_entries packet=pts -of csv=p=0 " + flv.string()));
    std::vector<long> v;
    std::string linea;
    while (std::getline(in, linea))
        if (!linea.empty() && linea != "N/A") v.push_back(std::stol(linea));
    return v;
}

std::string erroresAlDecodificar(const std::string& entrada) {
    return erroresDe("ffmpeg -v error -i " + entrada + " -f null -");
}

int cabecerasFlv(const fs::path& flv) {
    std::ifstream f(flv, std::ios::binary);
    std::string todo((std::istreambuf_iterator<char>(f)), {});
    const std::string firma("FLV\x01\x05\0\0\0\x09", 9);
    int n = 0;
    for (auto p = todo.find(firma); p != std::string::npos; p = todo.find(firma, p + 1)) ++n;
    return n;
}

int veces(const std::string& texto, const std::string& que) {
    int n = 0;
    for (auto p = texto.find(que); p != std::string::npos; p = texto.find(que, p + 1)) ++n;
    return n;
}

// The application's log lines about encoder handovers, to tell where a jump came from.
std::string relevos(const std::string& log) {
    std::istringstream in(log);
    std::string r, linea;
    while (std::getline(in, linea))
        if (linea.find("compresor") != std::string::npos || linea.find("calidad") != std::string::npos) r += linea + "\n";
    return r;
}

// Every step of the video is one frame at 30 per second (33 or 34 ms in FLV's milliseconds).
void sinSaltosDeVideo(const std::vector<long>& v, const std::string& log) {
    for (std::size_t i = 1; i < v.size(); ++i)
        ASSERT_TRUE(v[i] - v[i - 1] == 33 || v[i] - v[i - 1] == 34)
            << "cuadro " << i << ": " << v[i - 1] << " → " << v[i] << "\n" << relevos(log);
}

}  // namespace

TEST(Reparto, dosRelevosSinHuecoNiSegundaCabecera) {
    RelayGrabando r;
    const fs::path& salida = r.salida;
    RelayHijo& relay = r.relay;
    ASSERT_NE(relay.puerto(), 0);
    Bonded c(relay, 400);
    c.arrancar({"TM_AUTO=20", "TM_CALIDAD=6:800,12:1600"});
    ASSERT_EQ(c.esperar(90), 0) << c.bitacora();
    const std::string log = c.bitacora();
    EXPECT_NE(log.find("→ reparto a 127.0.0.1:" + std::to_string(relay.puerto())), std::string::npos) << log;
    EXPECT_EQ(veces(log, "calidad: relevo de compresor en el cuadro "), 2) << log;
    EXPECT_EQ(log.find("lo atorado"), std::string::npos);  // both upward: nothing dropped
    EXPECT_EQ(c.fifosQueQuedan(), 0);

    EXPECT_EQ(erroresAlDecodificar(salida.string()), "");
    EXPECT_EQ(cabecerasFlv(salida), 1);
    const auto v = tiempos(salida, "v"), a = tiempos(salida, "a");
    ASSERT_GT(v.size(), 500u);
    sinSaltosDeVideo(v, log);
    EXPECT_NEAR(v.back() - v.front(), 20000, 1500);
    // Audio for the whole time, each AAC frame (1024 samples, 21.3 ms) after the last without a gap
    // or an overlap of a whole frame.
    ASSERT_GT(a.size(), 800u);
    for (std::size_t i = 1; i < a.size(); ++i) {
        const long paso = a[i] - a[i - 1];
        ASSERT_TRUE(paso > 0 && paso <= 43) << "audio " << i << ": " << a[i - 1] << " → " << a[i];
    }
    EXPECT_NEAR(a.back(), v.back(), 200);
}

TEST(Reparto, relevoUrgenteYElRelayPublicaEnElCanal) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    RelayGrabando r;
    const fs::path& salida = r.salida;
    RelayHijo& relay = r.relay;
    ASSERT_NE(relay.puerto(), 0);
    Bonded c(relay, 1200);
    const ServidorRtmp& nginx = c.nginx;
    c.arrancar({"TM_AUTO=14", "TM_CALIDAD=5:600"});
    ASSERT_TRUE(c.esperarEnBitacora("red unida", 30)) << c.bitacora();
    // A viewer of the channel while on air.
    esperar([&] { return relay.registro().find("se publica en") != std::string::npos; }, 30);
    const std::string flujos =
        salidaDe("ffprobe -v error -rw_timeout 8000000 -show_entries stream=codec_type -of csv=p=0 " +
                 nginx.flujo("prueba"));
    EXPECT_NE(flujos.find("video"), std::string::npos) << flujos << relay.registro();
    EXPECT_NE(flujos.find("audio"), std::string::npos) << flujos;
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();

    const std::string log = c.bitacora();
    EXPECT_NE(log.find("ahora 600 kbps (lo atorado del anterior se tira)"), std::string::npos) << log;
    EXPECT_EQ(log.find("prueba"), std::string::npos);  // the channel's key never reaches the log
    EXPECT_EQ(erroresAlDecodificar(salida.string()), "");
    EXPECT_EQ(cabecerasFlv(salida), 1);
    const auto v = tiempos(salida, "v");
    ASSERT_GT(v.size(), 300u);
    for (std::size_t i = 1; i < v.size(); ++i) ASSERT_GT(v[i], v[i - 1]);  // a jump forward at most
    EXPECT_EQ(erroresAlDecodificar(nginx.grabado("prueba").string()), "");
    EXPECT_NE(salidaDe("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + nginx.grabado("prueba").string())
                  .find("audio"),
              std::string::npos);
}

TEST(Reparto, sinInternetPausaYSigueSinSalto) {
    RelayGrabando r;
    const fs::path& salida = r.salida;
    RelayHijo& relay = r.relay;
    ASSERT_NE(relay.puerto(), 0);
    Bonded c(relay);
    c.arrancar({"TM_AUTO=16", "TM_CORTE=5:4"});
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();
    const std::string log = c.bitacora();
    EXPECT_EQ(veces(log, "sin internet: transmisión en pausa"), 1) << log;
    EXPECT_EQ(veces(log, "volvió el internet: sigue la transmisión"), 1) << log;
    // Viewers get the live picture back from a key frame at once, not at the encoder's next one:
    // a new encoder at the same rate takes over as the network returns, without a jump.
    EXPECT_EQ(veces(log, "el flujo sigue desde un cuadro clave"), 1) << log;
    EXPECT_EQ(erroresAlDecodificar(salida.string()), "");
    const auto v = tiempos(salida, "v");
    ASSERT_GT(v.size(), 200u);
    sinSaltosDeVideo(v, log);
}

TEST(Reparto, elRelayNoAdmiteLaTransmision) {
    const std::pair<const char*, const char*> casos[] = {
        {"SALDO", "Se terminaron tus horas de transmisión. Escríbenos para cargar más."},
        {"OCUPADO", "El servidor está ocupado con otra transmisión. Inténtalo en unos minutos."},
    };
    for (auto [razon, texto] : casos) {
        RelayHijo relay({"k1", ""}, {"--razon", razon});
        ASSERT_NE(relay.puerto(), 0);
        Bonded c(relay);
        c.arrancar({"TM_AUTO=30", "TM_SALIR=14"});
        EXPECT_TRUE(c.esperarEnBitacora(std::string("aviso: ") + texto, 25)) << razon << "\n" << c.bitacora();
        EXPECT_TRUE(c.esperarEnBitacora("transmisión detenida", 5));
        EXPECT_EQ(c.esperar(30), 0);
        EXPECT_EQ(c.fifosQueQuedan(), 0);
    }
}

TEST(Reparto, detenerConUnRelevoPendiente) {
    RelayGrabando r;
    const fs::path& salida = r.salida;
    RelayHijo& relay = r.relay;
    ASSERT_NE(relay.puerto(), 0);
    Bonded c(relay);
    // The stop lands a few milliseconds after the handover starts, before the new encoder opens
    // its audio.
    c.arrancar({"TM_CALIDAD=6:1600", "TM_AUTO=6.02"});
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();
    const std::string log = c.bitacora();
    EXPECT_NE(log.find("calidad: relevo de compresor"), std::string::npos) << log;
    EXPECT_EQ(c.fifosQueQuedan(), 0);
    EXPECT_EQ(erroresAlDecodificar(salida.string()), "");
}

// A cap on the uplink's rate for a while: the ladder steps down, probes once the cap is gone and is
// back at the top rung, with the relay's output one continuous stream.
TEST(Reparto, laCalidadBajaConElTopeYVuelveArriba) {
    RelayGrabando r;
    RelayHijo& relay = r.relay;
    ASSERT_NE(relay.puerto(), 0);
    Bonded c(relay, 1600);
    // The cap counts from the app's start; the stream starts about 3 s later.
    c.arrancar({"TM_RUIDO=30", "TM_TOPE_KBPS=500", "TM_TOPE_DESDE=18", "TM_TOPE_HASTA=34", "TM_AUTO=72"});
    ASSERT_EQ(c.esperar(110), 0) << c.bitacora();
    const std::string log = c.bitacora();
    const auto baja = log.find("calidad: baja a ");
    ASSERT_NE(baja, std::string::npos) << log;
    const auto arriba = log.find("calidad: sube a 1600 kbps (la normal; el sondeo pasó ", baja);
    EXPECT_NE(arriba, std::string::npos) << log;
    EXPECT_EQ(c.fifosQueQuedan(), 0);

    EXPECT_EQ(erroresAlDecodificar(r.salida.string()), "");
    EXPECT_EQ(cabecerasFlv(r.salida), 1);
    // One frame a step, except where an urgent step down picks up 0.1 s after the last tag (video
    // or audio) the old encoder delivered: what it still held is dropped.
    const auto v = tiempos(r.salida, "v");
    ASSERT_GT(v.size(), 1500u);
    int saltos = 0;
    for (std::size_t i = 1; i < v.size(); ++i) {
        const long paso = v[i] - v[i - 1];
        if (paso == 33 || paso == 34) continue;
        EXPECT_TRUE(paso >= 100 && paso <= 134) << "cuadro " << i << ": " << v[i - 1] << " → " << v[i] << "\n"
                                                << relevos(log);
        ++saltos;
    }
    EXPECT_LE(saltos, veces(log, "(lo atorado del anterior se tira)"));
}
