// A creator's microphone as it really arrives: the desktop's audio server, Qt's audio input, the
// engine's audio pipe and the encoder. A private PulseAudio server offers virtual microphones; the
// picture is the synthetic camera's.
#include "e2e/corrida.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;
using namespace tt::prueba;

namespace {

const fs::path grabacion = "/tmp/prueba-app.mkv";

// A PulseAudio server of the test's own (its socket in a private folder, nothing of the user's
// touched) with two virtual microphones: "Micrófono integrado", listed first, and "USB3 Mic", the
// kind of name the application prefers, fed a 1 kHz tone (peak −18 dBFS, −21 dBFS on each
// channel) in real time.
struct Pulso {
    CarpetaTemporal carpeta;
    std::string socket = (carpeta / "nativo").string();
    std::unique_ptr<Hijo> servidor, tono;

    Pulso() {
        escribir(carpeta / "pulso.pa", "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket +
                                           "\n" + fuente("integrado", "Micrófono\\ integrado") +
                                           fuente("usb3", "USB3\\ Mic"));
        servidor = std::make_unique<Hijo>(
            std::vector<std::string>{"/usr/bin/pulseaudio", "-n", "-F", (carpeta / "pulso.pa").string(),
                                     "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no"},
            std::vector<std::string>{"HOME=" + carpeta.ruta().string(), "XDG_RUNTIME_DIR=" + carpeta.ruta().string(),
                                     "PATH=/usr/bin:/bin"},
            carpeta / "pulseaudio.txt");
        listo = esperar([&] { return pactl("list short sources").find("usb3") != std::string::npos; }, 30);
        sonar();
    }
    bool listo = false;
    ~Pulso() {
        tono.reset();
        if (!servidor->vivo()) return;
        kill(servidor->pid, SIGTERM);
        EXPECT_EQ(servidor->esperar(20), 0) << leer(carpeta / "pulseaudio.txt");
    }
    std::string fuente(const std::string& nombre, const std::string& descripcion) const {
        return "load-module module-pipe-source source_name=" + nombre + " file=" + (carpeta / nombre).string() +
               ".fifo format=s16le rate=48000 channels=2 source_properties=device.description=\"" + descripcion +
               "\"\n";
    }
    std::string pactl(const std::string& orden) const { return salidaDe("PULSE_SERVER=unix:" + socket + " pactl " + orden); }
    void sonar() {
        tono = std::make_unique<Hijo>(
            std::vector<std::string>{"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                     "sine=frequency=1000:sample_rate=48000", "-ac", "2", "-f", "s16le", "-y",
                                     (carpeta / "usb3.fifo").string()},
            std::vector<std::string>{"PATH=/usr/bin:/bin"}, carpeta / "tono.txt");
    }
    // Unplugs a microphone: its module goes, as when a USB device is pulled.
    void quitar(const std::string& nombre) {
        std::istringstream modulos(pactl("list short modules"));
        std::string linea;
        while (std::getline(modulos, linea))
            if (linea.find("source_name=" + nombre + " ") != std::string::npos)
                pactl("unload-module " + linea.substr(0, linea.find('\t')));
    }
    std::string servidorDeApp() const { return "PULSE_SERVER=unix:" + socket; }
};

// The recording's sound from `desde` for `segundos`, mono 16-bit at 48 kHz.
std::vector<std::int16_t> sonido(double desde, double segundos) {
    const std::string crudo = salidaDe("ffmpeg -v error -ss " + std::to_string(desde) + " -t " +
                                       std::to_string(segundos) + " -i " + grabacion.string() +
                                       " -map 0:a -ac 1 -ar 48000 -f s16le -");
    std::vector<std::int16_t> m(crudo.size() / 2);
    if (!m.empty()) std::memcpy(m.data(), crudo.data(), m.size() * 2);
    return m;
}

double nivelDb(const std::vector<std::int16_t>& m) {
    double suma = 0;
    for (auto x : m) suma += double(x) * x;
    return m.empty() ? -200 : 10 * std::log10(suma / double(m.size()) / (32768.0 * 32768.0) + 1e-20);
}

// From the upward zero crossings.
double frecuencia(const std::vector<std::int16_t>& m) {
    int cruces = 0;
    for (std::size_t i = 1; i < m.size(); ++i)
        if (m[i - 1] < 0 && m[i] >= 0) ++cruces;
    return m.empty() ? 0 : cruces * 48000.0 / double(m.size());
}

// The application with the synthetic camera and the server's microphones, recording, on air for
// `segundos` after the button is pressed.
void grabar(Corrida& c, const Pulso& pulso, int segundos) {
    fs::remove(grabacion);
    c.arrancar({"TM_ARCHIVO=1", "TM_AUTO=" + std::to_string(segundos), "TM_MICROFONO_REAL=1", pulso.servidorDeApp()});
}

double inicio(const char* flujo) {
    return numero(salidaDe(std::string("ffprobe -v error -select_streams ") + flujo +
                           " -show_entries stream=start_time -of default=nw=1 " + grabacion.string()),
                  "start_time");
}

}  // namespace

// The preferred microphone is chosen over the one listed first, and its tone is in the recording:
// its pitch, its level, and the sound starting with the picture.
TEST(Dispositivos, elTonoDelMicrofonoLlegaALaGrabacion) {
    Pulso pulso;
    ASSERT_TRUE(pulso.listo) << pulso.socket << "\n" << leer(pulso.carpeta / "pulseaudio.txt");
    Corrida c;
    grabar(c, pulso, 8);
    ASSERT_EQ(c.esperar(60), 0) << c.bitacora();
    const std::string log = c.bitacora();
    EXPECT_NE(log.find("captura: micrófono USB3 Mic"), std::string::npos) << log;
    EXPECT_EQ(log.find("micrófono: no llega sonido"), std::string::npos) << log;

    const auto m = sonido(2, 4);
    ASSERT_GT(m.size(), 48000u * 3) << log;
    const double hz = frecuencia(m), db = nivelDb(m);
    EXPECT_NEAR(hz, 1000, 5);
    // A sine's RMS is 3 dB under its peak, and the tone's two channels each 3 dB under the mono one.
    EXPECT_NEAR(db, -24.1, 1.0);
    const double desfase = inicio("a:0") - inicio("v:0");
    EXPECT_LT(std::abs(desfase), 0.1);
    std::printf("tono en la grabación: %.1f Hz, %.1f dBFS RMS; el audio empieza %+.3f s después del video\n", hz, db,
                desfase);
}

// Unplugged on air: a notice, the picture goes on with silence and the recording has no hole;
// after the stop the microphone still there is opened.
TEST(Dispositivos, desenchufadoAlAireSigueEnSilencio) {
    Pulso pulso;
    ASSERT_TRUE(pulso.listo) << pulso.socket << "\n" << leer(pulso.carpeta / "pulseaudio.txt");
    Corrida c;
    grabar(c, pulso, 12);
    ASSERT_TRUE(c.esperarEnBitacora("transmisión: ", 30)) << c.bitacora();
    // Some of the tone in the recording first.
    ASSERT_TRUE(esperar([] { return fs::exists(grabacion) && fs::file_size(grabacion) > 60000; }, 20));
    pulso.quitar("usb3");
    EXPECT_TRUE(c.esperarEnBitacora("aviso: El micrófono dejó de mandar sonido: la transmisión sigue en silencio.", 10))
        << c.bitacora();
    EXPECT_TRUE(c.esperarEnBitacora("captura: micrófono Micrófono integrado", 30)) << c.bitacora();
    ASSERT_EQ(c.esperar(30), 0) << c.bitacora();

    const std::string v = salidaDe("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=nb_read_frames -of default=nw=1 " + grabacion.string());
    const std::string a = salidaDe("ffprobe -v error -select_streams a:0 -count_packets -show_entries "
                                   "stream=nb_read_packets -of default=nw=1 " + grabacion.string());
    const double video = numero(v, "nb_read_frames") / 30.0, audio = numero(a, "nb_read_packets") * 1024 / 48000;
    EXPECT_NEAR(video, 12, 1.5) << v;
    EXPECT_NEAR(audio, video, 0.15) << a << v;
    EXPECT_LT(nivelDb(sonido(video - 3, 2)), -60);  // silence where the microphone was
}

