// A new user's first run, in the application's own process with its real windows: no account,
// the sign-in window signs up with the code the control service returns in test mode, the
// channel sheet that opens by itself gets a channel at the local nginx, and the stream button
// goes on air through the relay with the service's permission until it is pressed again.
#include "e2e/corrida.h"

#include "app/app.h"
#include "comun/proceso.h"
#include "soporte/control_hijo.h"
#include "soporte/relay_hijo.h"
#include "ui/bienvenida.h"
#include "ui/hoja_canales.h"
#include "ui/pildora.h"
#include "ui/ventana_principal.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <future>

namespace fs = std::filesystem;
using namespace tt;
using namespace tt::prueba;

namespace {

bool escribir(QWidget* en, const QString& indicacion, const QString& texto) {
    for (auto* c : en->findChildren<QLineEdit*>())
        if (c->isVisible() && c->placeholderText() == indicacion) {
            c->setFocus();
            QTest::keyClicks(c, texto);
            return true;
        }
    return false;
}

QAbstractButton* boton(QWidget* en, const char* titulo) {
    for (auto* b : en->findChildren<QAbstractButton*>())
        if (b->isVisible() && b->text() == QString::fromUtf8(titulo)) return b;
    return nullptr;
}

std::string bitacoraApp() { return leer(carpetaLog() / "app.log"); }

// A shell command run while the application's loop keeps turning.
std::string mientras(const std::string& orden) {
    auto f = std::async(std::launch::async, [orden] { return salidaDe(orden); });
    esperar([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60);
    return f.get();
}

}  // namespace

TEST(PrimeraVez, cuentaNuevaCanalYAlAirePorElRelay) {
    if (!ServidorRtmp::hay()) GTEST_SKIP() << "nginx sin módulo RTMP";
    const std::string secreto = "secreto-de-la-primera-vez-123456";
    CarpetaTemporal d;
    ServidorRtmp nginx;
    RelayHijo relay({"", secreto});
    ASSERT_NE(relay.puerto(), 0) << relay.registro();
    ControlHijo control(d / "servicio", secreto, {"--prueba", "--relay", relay.entrada(), "--saldo-inicial", "3600"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    const std::string camara = (d / "camara.png").string();
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 " + camara).c_str()), 0);

    const Proceso antes = proceso();
    // A fast encoder preset: this machine's cores are few.
    const fs::path config = antes.carpetaHogar / "config.json";
    fs::create_directories(antes.carpetaHogar);
    escribir(config, R"({"servidor": ")" + nginx.flujo("mac") + R"(", "kbps": 1200, "preset": 12})");
    Proceso p = antes;
    p.entorno = Entorno({{"TM_DATOS", (d / "datos").string()},
                         {"TM_BIENVENIDA", "1"},
                         {"TM_SESION", "primera@prueba.test"},
                         {"TM_CONTROL", control.sitio()},
                         {"TM_CAMARA_FALSA", camara},
                         {"TM_INTERFACES", "lo"}});
    fijarProceso(p);
    {
        App app;
        app.lanzado();
        ASSERT_TRUE(app.bienvenidaAbierta() && app.bienvenidaAbierta()->isVisible());
        // The test sign-in registers the address and confirms it with the code from the service.
        ASSERT_TRUE(esperar([&] { return app.ventanaPrincipal() && app.ventanaPrincipal()->isVisible(); }, 20))
            << bitacoraApp();
        EXPECT_NE(bitacoraApp().find("sesión de prueba (cuenta nueva): dentro"), std::string::npos) << bitacoraApp();
        VentanaPrincipal& v = *app.ventanaPrincipal();

        // With no channel yet, the channel sheet opens by itself.
        ASSERT_TRUE(esperar([&] { return app.hojaCanales() != nullptr; }, 5));
        HojaCanales* hoja = app.hojaCanales();
        ASSERT_TRUE(escribir(hoja, "Como se llama el canal en Kick", "Mi canal"));
        ASSERT_TRUE(escribir(hoja, QString::fromStdString(Canal::servidorKick), QString::fromStdString(nginx.aplicacion())));
        ASSERT_TRUE(escribir(hoja, QString::fromUtf8("sk_us-west-2_…"), "sk_primera_vez"));
        boton(hoja, "Guardar canal")->click();
        ASSERT_EQ(hoja->nota(), "Guardado.");
        boton(hoja, "Cerrar")->click();
        ASSERT_TRUE(esperar([&] { return app.hojaCanales() == nullptr; }, 5));

        // The stream button, once the camera is ready.
        auto* pildora = v.findChild<Pildora*>();
        ASSERT_TRUE(pildora);
        ASSERT_TRUE(esperar([&] { return v.botonHabilitado(); }, 20)) << v.aviso().toStdString();
        pildora->click();
        ASSERT_TRUE(esperar([&] { return pildora->enVivo(); }, 20)) << v.aviso().toStdString();
        // Through the relay, under the service's permission, not straight to the channel.
        EXPECT_TRUE(esperar([&] {
            return bitacoraApp().find("reparto a " + relay.entrada() + " (con pase)") != std::string::npos;
        }, 20)) << bitacoraApp();
        EXPECT_TRUE(esperar([&] { return bitacoraApp().find("red unida") != std::string::npos; }, 20)) << bitacoraApp();
        // A reader of the channel; joining on air, it waits for the next key frame (one every 10 s).
        const fs::path visto = d / "lector.flv";
        mientras("timeout 40 ffmpeg -v error -rw_timeout 15000000 -analyzeduration 15000000 -i " +
                 nginx.flujo("sk_primera_vez") + " -t 4 -c copy -f flv " + visto.string());
        const std::string flujos = salidaDe("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + visto.string());
        EXPECT_NE(flujos.find("video"), std::string::npos) << flujos << relay.registro();
        EXPECT_NE(flujos.find("audio"), std::string::npos) << flujos;

        pildora->click();
        EXPECT_TRUE(esperar([&] { return !pildora->enVivo() && v.insignia() == "Sin transmitir"; }, 10));
        EXPECT_TRUE(esperar([&] { return bitacoraApp().find("transmisión detenida") != std::string::npos; }, 15));
        EXPECT_EQ(bitacoraApp().find("sk_primera_vez"), std::string::npos);  // the key never reaches the log
        // The uplink sends its end 9 s after the stop; the relay then ends the stream.
        EXPECT_TRUE(esperar([&] { return relay.registro().find("relay: fin del flujo de ") != std::string::npos; }, 20))
            << relay.registro();
        v.close();
    }
    fijarProceso(antes);
    usarCarpeta(std::nullopt);
    fs::remove(config);
    EXPECT_EQ(control.detener(), 0) << control.registro();
    EXPECT_EQ(relay.detener(), 0) << relay.registro();
}
