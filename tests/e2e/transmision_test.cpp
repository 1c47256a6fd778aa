// The stream button pressed by TM_AUTO with the synthetic camera, as a new user would run it:
// a test recording, a stream to a real RTMP server, and an encoder that dies on air.
#include "soporte/soporte.h"

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
using tt::prueba::CarpetaTemporal;

namespace {

std::string salidaDe(const std::string& orden) {
    std::string r;
    FILE* p = popen((orden + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.append(buf, n);
    pclose(p);
    return r;
}

// One run of the application in its own home, data and temporary folders.
struct Corrida {
    CarpetaTemporal casa, datos, tmp;
    pid_t pid = -1;

    Corrida() {
        fs::create_directories(casa / ".local/share/Tremolante");
        // A fast encoder preset: this machine's cores are few.
        tt::prueba::escribir(casa / ".local/share/Tremolante/config.json",
                             R"({"servidor": "rtmp://127.0.0.1:19380/live/mac", "kbps": 1200, "preset": 12})");
        std::string imagen = (tmp / "camara.png").string();
        std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 " + imagen).c_str());
    }
    ~Corrida() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    void arrancar(std::vector<std::string> extra) {
        std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + casa.ruta().string(),
                                        "TM_DATOS=" + datos.ruta().string(), "TMPDIR=" + tmp.ruta().string(),
                                        "QT_QPA_PLATFORM=offscreen", "TM_CAMARA_FALSA=" + (tmp / "camara.png").string()};
        env.insert(env.end(), extra.begin(), extra.end());
        pid = fork();
        if (pid == 0) {
            std::vector<char*> e;
            for (auto& s : env) e.push_back(s.data());
            e.push_back(nullptr);
            int nulo = open("/dev/null", O_WRONLY);
            dup2(nulo, 2);
            execle(TM_BIN "/tremolante", "tremolante", nullptr, e.data());
            _exit(127);
        }
    }
    // The exit status, or -1 if it did not end in time.
    int esperar(double segundos) {
        for (int i = 0; i < segundos * 10; ++i) {
            int s;
            if (waitpid(pid, &s, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }
    std::string bitacora() const { return tt::prueba::leer(casa / ".local/state/Tremolante/app.log"); }
    bool esperarEnBitacora(const std::string& texto, double segundos) const {
        for (int i = 0; i < segundos * 10; ++i) {
            if (bitacora().find(texto) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
};

double numero(const std::string& texto, const std::string& clave) {
    std::smatch m;
    if (!std::regex_search(texto, m, std::regex(clave + "=([0-9.]+)"))) return -1;
    return std::stod(m[1]);
}

}  // namespace

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
    if (!fs::exists("/usr/lib/nginx/modules/ngx_rtmp_module.so")) GTEST_SKIP() << "nginx sin módulo RTMP";
    Corrida c;
    CarpetaTemporal nginx;
    fs::create_directories(nginx / "logs");
    fs::create_directories(nginx / "grabado");
    // nginx's workers may run as another user: let them write the recording.
    fs::permissions(nginx.ruta(), fs::perms::all);
    fs::permissions(nginx / "grabado", fs::perms::all);
    tt::prueba::escribir(nginx / "nginx.conf",
                         "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                         "pid " + (nginx / "nginx.pid").string() + ";\nerror_log " + (nginx / "logs/error.log").string() +
                         ";\nevents {}\nrtmp { server { listen 127.0.0.1:19380; application live { live on; "
                         "record all; record_path " + (nginx / "grabado").string() + "; } } }\n");
    pid_t servidor = fork();
    if (servidor == 0) {
        execl("/usr/sbin/nginx", "nginx", "-p", nginx.ruta().c_str(), "-c", (nginx / "nginx.conf").c_str(),
              "-g", "daemon off;", nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    c.arrancar({"TM_AUTO=8"});
    int estado = c.esperar(60);
    kill(servidor, SIGTERM);
    waitpid(servidor, nullptr, 0);
    ASSERT_EQ(estado, 0) << c.bitacora();
    std::string log = c.bitacora();
    EXPECT_NE(log.find("→ rtmp://127.0.0.1:19380/live/…"), std::string::npos) << log;  // never the key
    EXPECT_EQ(log.find("live/mac"), std::string::npos);
    std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type,codec_name -of compact " +
                                  (nginx / "grabado/mac.flv").string());
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
