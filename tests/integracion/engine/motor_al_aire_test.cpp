// The engine on air against the real encoder and a real relay on loopback, driven from the main
// thread as the application drives it: encoders start, hand over and stop, and no thread or
// encoder of a transmission outlives it. (How late the main thread runs meanwhile is measured by
// bench/hilo_principal.cpp.)
#include "engine/motor.h"

#include "comun/cola.h"
#include "comun/json.h"
#include "comun/proceso.h"
#include "soporte/relay_hijo.h"
#include "soporte/servidor_rtmp.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <fstream>
#include <map>
#include <unistd.h>

namespace tt {
namespace {

namespace fs = std::filesystem;

// This process's threads by id, with their names.
std::map<std::string, std::string> hilos() {
    std::map<std::string, std::string> v;
    for (auto& e : fs::directory_iterator("/proc/self/task")) v[e.path().filename()] = prueba::leer(e.path() / "comm");
    return v;
}

std::string ordenDe(pid_t pid) {
    std::string orden = prueba::leer("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(orden.begin(), orden.end(), '\0', ' ');
    return orden;
}

// The encoders of this process's transmissions with their command lines, read once (one that ends
// meanwhile has none; the engine's one-frame AV1 check, which runs once per process whenever it
// comes, is left out).
std::map<pid_t, std::string> compresores() {
    std::map<pid_t, std::string> v;
    for (auto& e : fs::directory_iterator("/proc")) {
        const std::string nombre = e.path().filename();
        if (nombre.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream f(e.path() / "stat");
        std::string linea;
        std::getline(f, linea);
        const auto cierre = linea.rfind(')');
        if (cierre == std::string::npos || linea.find("(ffmpeg)") == std::string::npos) continue;
        std::istringstream resto(linea.substr(cierre + 2));
        char estado;
        pid_t padre;
        resto >> estado >> padre;
        if (padre != ::getpid() || estado == 'Z') continue;
        const pid_t pid = pid_t(std::stoi(nombre));
        const std::string orden = ordenDe(pid);
        if (!orden.empty() && orden.find("prueba-av1") == std::string::npos) v[pid] = orden;
    }
    return v;
}

// Runs the main loop until pred holds, for at most `ms` milliseconds.
template <class P>
bool girar(int ms, P pred) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return pred();
}

// The process values with a relay as the entry point, the loopback as the only network and the
// synthetic camera's image.
class AlAire : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);  // as the application does: a dead encoder's pipe is an error, not a signal
        enGlobal([] {});  // the process-wide pool for delayed jobs exists before any count
        antes_ = proceso();
        ASSERT_NE(relay.puerto(), 0);
        Proceso p = antes_;
        p.carpetaHogar = carpeta / "hogar";
        p.carpetaLog = carpeta / "log";
        fs::create_directories(p.carpetaHogar);
        fs::create_directories(p.carpetaLog);
        p.entorno = Entorno({{"TM_DATOS", (carpeta / "datos").string()}, {"TM_INTERFACES", "lo"}, {"TM_RUIDO", "30"}});
        fijarProceso(p);
        // The relay publishes to a real ingest: one that never takes the stream ends it.
        prueba::escribir(p.carpetaHogar / "config.json",
                         R"({"servidor": ")" + ingesta.flujo("clave-secreta") + R"(", "kbps": 400, "preset": 12, "entrada": ")" +
                             relay.entrada() + R"(", "clave": "k1"})");
        QImage imagen(640, 360, QImage::Format_RGB32);
        imagen.fill(Qt::darkCyan);
        imagenCamara = (carpeta / "camara.png").string();
        ASSERT_TRUE(imagen.save(QString::fromStdString(imagenCamara)));
    }
    void TearDown() override {
        if (HasFailure()) std::printf("%s\n", prueba::leer(carpeta / "log" / "app.log").c_str());
        fijarProceso(antes_);
    }

    // Waits for the encoder to run and the uplink to carry bytes.
    static bool alAire(Motor& motor) {
        return girar(40000, [&] {
            auto f = motor.figuras();
            return f.arrancado && f.totalBytesProceso > 0;
        });
    }
    // The threads started since `antes` that still run once the uplink's last seconds after a stop
    // have passed. Qt's pool is not the transmission's: its idle threads expire on their own.
    static std::vector<std::string> hilosQueQuedan(const std::map<std::string, std::string>& antes) {
        std::vector<std::string> quedan;
        girar(40000, [&] {
            quedan.clear();
            for (const auto& [id, nombre] : hilos())
                if (!antes.count(id) && nombre != "Thread (pooled)\n") quedan.push_back(id + " " + nombre);
            return quedan.empty();
        });
        return quedan;
    }

    prueba::CarpetaTemporal carpeta;
    prueba::ServidorRtmp ingesta;
    prueba::RelayHijo relay{{"k1", ""}};
    std::string imagenCamara;

private:
    Proceso antes_;
};

TEST_F(AlAire, dosRelevosYAlDetenerNoQuedaNada) {
    Motor motor;
    ASSERT_TRUE(motor.simular(imagenCamara));
    ASSERT_TRUE(girar(10000, [&] { return motor.camaraActual().has_value(); }));
    const auto antes = hilos();
    motor.transmitir(false, false, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(alAire(motor)) << prueba::leer(carpeta / "log" / "ffmpeg.log");
    // A handover waits for the one before to complete (the new encoder opens its audio).
    auto relevar = [&](int kbps, bool urgente) {
        bool hecho = false;
        return girar(15000, [&] { return hecho || (hecho = motor.cambiarCalidad(kbps, urgente)); });
    };
    EXPECT_TRUE(relevar(800, false));
    EXPECT_TRUE(girar(15000, [&] { return motor.kbps() == 800; }));  // launched off this thread
    EXPECT_TRUE(relevar(300, true));
    // Both handovers carried on the same stream.
    EXPECT_TRUE(girar(15000, [&] { return motor.figuras().bytesPrevios > 0; }));
    motor.detener();
    EXPECT_THAT(hilosQueQuedan(antes), ::testing::IsEmpty());
    EXPECT_TRUE(girar(10000, [] { return compresores().empty(); }));
}

TEST_F(AlAire, unCompresorMuertoAlAireNoDejaHilos) {
    Motor motor;
    std::vector<std::string> fallas;
    motor.alFallar = [&](const std::string& texto) { fallas.push_back(texto); };
    ASSERT_TRUE(motor.simular(imagenCamara));
    ASSERT_TRUE(girar(10000, [&] { return motor.camaraActual().has_value(); }));
    const auto antes = hilos();
    motor.transmitir(false, false, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(alAire(motor));
    const auto hijos = compresores();
    ASSERT_EQ(hijos.size(), 1u);
    ASSERT_EQ(::kill(hijos.begin()->first, SIGKILL), 0);
    ASSERT_TRUE(girar(10000, [&] { return !fallas.empty(); }));
    EXPECT_EQ(fallas, std::vector<std::string>{"No se pudo conectar con el servidor."});
    EXPECT_FALSE(motor.estaVivo());
    EXPECT_THAT(hilosQueQuedan(antes), ::testing::IsEmpty());
}

}  // namespace
}  // namespace tt

namespace tt {
namespace {


// Without a relay the stream goes straight to the RTMP server: its key is never on a command line
// (every local user can read those), and a server that cannot be reached still ends the
// transmission with the message the user knows.
TEST_F(AlAire, sinRelayLaClaveNoQuedaALaVistaYElFalloLlega) {
    prueba::escribir(carpeta / "hogar" / "config.json",
                     R"({"servidor": "rtmp://127.0.0.1:1/live/clave-secreta", "kbps": 400, "preset": 12})");
    Motor motor;
    std::vector<std::string> fallas;
    motor.alFallar = [&](const std::string& texto) { fallas.push_back(texto); };
    ASSERT_TRUE(motor.simular(imagenCamara));
    ASSERT_TRUE(girar(10000, [&] { return motor.camaraActual().has_value(); }));
    const auto antes = hilos();
    motor.transmitir(false, false, std::nullopt, std::nullopt, std::nullopt);
    std::map<pid_t, std::string> hijos;
    ASSERT_TRUE(girar(40000, [&] { return !(hijos = compresores()).empty(); }));
    for (const auto& hijo : hijos) {
        const std::string& orden = hijo.second;
        EXPECT_NE(orden.find("-f flv"), std::string::npos) << orden;
        EXPECT_EQ(orden.find("clave-secreta"), std::string::npos) << orden;
        EXPECT_EQ(orden.find("rtmp:"), std::string::npos) << orden;
    }
    ASSERT_TRUE(girar(30000, [&] { return !fallas.empty(); })) << prueba::leer(carpeta / "log" / "app.log");
    EXPECT_EQ(fallas, std::vector<std::string>{"No se pudo conectar con el servidor."});
    EXPECT_FALSE(motor.estaVivo());
    const std::string log = prueba::leer(carpeta / "log" / "app.log");
    EXPECT_EQ(log.find("clave-secreta"), std::string::npos) << log;
    struct stat st{};
    ASSERT_EQ(::stat((carpeta / "log" / "ffmpeg.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_THAT(hilosQueQuedan(antes), ::testing::IsEmpty());
}

}  // namespace
}  // namespace tt
