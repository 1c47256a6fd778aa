#include "engine/motor.h"

#include "comun/proceso.h"
#include "engine/captura.h"
#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace tt {
namespace {

using prueba::esperar;

// The environment of the process, with switches added for one test.
class ConEntorno {
public:
    explicit ConEntorno(std::map<std::string, std::string> extra) : antes_(proceso()) {
        Proceso p = antes_;
        std::map<std::string, std::string> v{{"TM_DATOS", p.entorno.variable("TM_DATOS").value_or("")}};
        for (auto& [k, x] : extra) v[k] = x;
        p.entorno = Entorno(v);
        fijarProceso(p);
    }
    ~ConEntorno() { fijarProceso(antes_); }

private:
    Proceso antes_;
};

TEST(MotorDispositivos, SinCamarasNadaSeElige) {
    // Under the offscreen platform there may be no device at all; whatever is listed, the rules
    // pick a listed one or nothing.
    Motor motor;
    const auto camaras = motor.camaras();
    const auto eleccion = elegirDispositivo(camaras, std::nullopt);
    EXPECT_EQ(eleccion.has_value(), !camaras.empty());
    if (camaras.empty()) {
        EXPECT_TRUE(motor.acceso().camara);
    }
}

TEST(MotorDispositivos, AbrirLoQueNoEstaDaElTextoDeError) {
    Motor motor;
    std::optional<std::optional<std::string>> resultado;
    motor.usar(std::string("/dev/no-existe"), std::nullopt, [&](std::optional<std::string> e) { resultado = e; });
    ASSERT_TRUE(esperar([&] { return resultado.has_value(); }));
    ASSERT_TRUE(resultado->has_value());
    EXPECT_EQ(resultado->value().rfind("No se pudo abrir la cámara: ", 0), 0u) << resultado->value();

    // Without a camera the pair opens with no error; a missing microphone alone is reported.
    resultado.reset();
    motor.usar(std::nullopt, std::nullopt, [&](std::optional<std::string> e) { resultado = e; });
    ASSERT_TRUE(esperar([&] { return resultado.has_value(); }));
    EXPECT_FALSE(resultado->has_value());

    resultado.reset();
    motor.usar(std::nullopt, std::string("micro-que-no-existe"), [&](std::optional<std::string> e) { resultado = e; });
    ASSERT_TRUE(esperar([&] { return resultado.has_value(); }));
    EXPECT_EQ(resultado->value_or(""), "No se pudo abrir ese micrófono.");

    // With a camera error the microphone's is not the one shown.
    resultado.reset();
    motor.usar(std::string("/dev/no-existe"), std::string("micro-que-no-existe"),
               [&](std::optional<std::string> e) { resultado = e; });
    ASSERT_TRUE(esperar([&] { return resultado.has_value(); }));
    EXPECT_EQ(resultado->value_or("").rfind("No se pudo abrir la cámara: ", 0), 0u);
    EXPECT_FALSE(motor.hayMicrofono());
}

TEST(MotorDispositivos, SoloSePuedeAbrirUnNodoLegibleYEscribible) {
    prueba::CarpetaTemporal dir;
    EXPECT_TRUE(Captura::puedeAbrir("algo-sin-ruta"));
    EXPECT_FALSE(Captura::puedeAbrir("/dev/no-existe-esta-camara"));
    EXPECT_TRUE(Captura::puedeAbrir("/dev/null"));
}

TEST(MotorCamaraFalsa, EntregaCuadrosAlPrevioYAlPrograma) {
    prueba::CarpetaTemporal dir;
    QImage imagen(640, 360, QImage::Format_RGB32);
    imagen.fill(Qt::white);
    const auto ruta = (dir / "falsa.png").string();
    ASSERT_TRUE(imagen.save(QString::fromStdString(ruta)));
    ConEntorno entorno(std::map<std::string, std::string>{{"TM_RUIDO", "nada"}});

    // Declared before the engine, so they outlive the frames it delivers until it stops.
    std::mutex m;
    int camara = 0, programa = 0;
    std::vector<Cuadro> vistos;
    Motor motor;
    EXPECT_EQ(motor.sinImagen(), 0);
    EXPECT_FALSE(motor.camaraActual());
    motor.alCamara = [&](const Cuadro& c) {
        std::lock_guard l(m);
        ++camara;
        vistos.push_back(c);
    };
    motor.alComponer = [&](std::optional<Cuadro> c) {
        std::lock_guard l(m);
        if (c) ++programa;  // the synthetic camera always shows the programme picture
    };
    EXPECT_FALSE(motor.simular((dir / "no-existe.png").string()));
    EXPECT_FALSE(motor.simulando());
    ASSERT_TRUE(motor.simular(ruta));
    EXPECT_TRUE(motor.simulando());
    EXPECT_EQ(motor.formatoTexto(), "1920×1080 a 30 cuadros");  // its own rate, not a camera's
    ASSERT_TRUE(esperar([&] {
        std::lock_guard l(m);
        return vistos.size() >= 15;
    }));
    // Checked on the delivery queue itself, so no frame is between its two callbacks.
    motor.colaV.sincrono([&] {
        std::lock_guard l(m);
        EXPECT_EQ(programa, camara);
        // TM_RUIDO that is not a number: 30 frames per second, 13 frames in turn.
        EXPECT_DOUBLE_EQ(vistos[0].duracion, 1.0 / 30);
        EXPECT_TRUE(vistos[13].mismaImagen(vistos[0]));
        EXPECT_FALSE(vistos[1].mismaImagen(vistos[0]));
        EXPECT_EQ(vistos[0].y()[0], 235);  // white in video range
    });
    auto ultima = motor.camaraActual();
    ASSERT_TRUE(ultima);
    EXPECT_EQ(ultima->ancho, 1920);
    EXPECT_GE(motor.sinImagen(), 0);
    EXPECT_LT(motor.sinImagen(), 5);
}

TEST(MotorVideo, UnaCamaraRealMuestraLaCamaraNoElPrograma) {
    Motor motor;
    std::optional<Cuadro> vivo;
    int programas = 0, ninguno = 0;
    motor.alCamara = [&](const Cuadro& c) { vivo = c; };
    motor.alComponer = [&](std::optional<Cuadro> c) { ++(c ? programas : ninguno); };
    Cuadro c = nuevoCuadro(64, 32);
    c.hora = 12.5;
    motor.colaV.sincrono([&] { motor.video(c); });
    // The bare camera is the programme: the preview keeps its live picture.
    EXPECT_EQ(programas, 0);
    EXPECT_EQ(ninguno, 1);
    ASSERT_TRUE(vivo);
    EXPECT_TRUE(vivo->mismaImagen(c));
    auto ultima = motor.camaraActual();
    ASSERT_TRUE(ultima);
    EXPECT_TRUE(ultima->mismaImagen(c));
    EXPECT_DOUBLE_EQ(ultima->hora, 12.5);
}

TEST(MotorAudio, ElNivelSigueAlPicoYDecae) {
    Motor motor;
    BloqueAudio b;
    b.formato = {48000, 2, 16, false};
    const std::int16_t muestras[] = {100, -16384, 5, 0};
    b.bytes.resize(sizeof muestras);
    std::memcpy(b.bytes.data(), muestras, sizeof muestras);
    motor.audio(b);
    EXPECT_DOUBLE_EQ(motor.picoAudio(), 0.5);
    BloqueAudio silencio = b;
    std::fill(silencio.bytes.begin(), silencio.bytes.end(), 0);
    motor.audio(silencio);
    EXPECT_DOUBLE_EQ(motor.picoAudio(), 0.3);

    BloqueAudio f;
    f.formato = {44100, 1, 32, true};
    const float v[] = {0.25f, -0.75f};
    f.bytes.resize(sizeof v);
    std::memcpy(f.bytes.data(), v, sizeof v);
    EXPECT_DOUBLE_EQ(pico(f), 0.75);
    f.formato = {44100, 1, 32, false};
    const std::int32_t w[] = {1 << 30, 0};
    std::memcpy(f.bytes.data(), w, sizeof w);
    EXPECT_DOUBLE_EQ(pico(f), 0.5);
    f.formato.bits = 24;  // a layout the meter does not read
    EXPECT_DOUBLE_EQ(pico(f), 0);
}

TEST(VigiaDispositivos, UnaRafagaDeAvisosDaUnCambio) {
    std::atomic<int> cambios{0};
    VigiaDispositivos vigia([&] { ++cambios; }, 0.05);
    vigia.avisar();
    vigia.avisar();
    vigia.avisar();
    ASSERT_TRUE(esperar([&] { return cambios.load() > 0; }));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(cambios.load(), 1);
}

}  // namespace
}  // namespace tt
