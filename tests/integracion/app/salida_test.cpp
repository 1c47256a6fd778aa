// Closing the main window while on air under a permission: the question, then the relay told to
// close the transmission before the application ends.
#include "app/app.h"

#include "comun/json.h"
#include "comun/proceso.h"
#include "cuenta/archivo_cuenta.h"
#include "soporte/control_hijo.h"
#include "soporte/relay_hijo.h"
#include "soporte/soporte.h"
#include "ui/ventana_principal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

namespace tt {
namespace {

using prueba::esperar;

// Answers the question on screen with the button of that text.
bool responder(const QString& texto) {
    QAbstractButton* boton = nullptr;
    esperar([&] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* caja = qobject_cast<QMessageBox*>(w); caja && caja->isVisible())
                for (auto* b : caja->buttons())
                    if (b->text() == texto) boton = b;
        return boton != nullptr;
    }, 10);
    if (boton) boton->click();
    return boton != nullptr;
}

TEST(AppSalida, cerrarAlAireAntesPreguntaYLuegoAvisaAlRelay) {
    prueba::CarpetaTemporal d;
    const std::string secreto = "secreto-de-prueba-salida-1234567890";
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor libre(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    const std::string relayEn = "127.0.0.1:" + std::to_string(libre.local_endpoint().port());
    libre.close();
    prueba::ControlHijo control(d / "servicio", secreto, {"--prueba", "--relay", relayEn});
    prueba::RelayHijo relay({"", secreto}, {"--escuchar", relayEn, "--control", control.sitio()});
    auto cuenta = prueba::crearCuenta(control.puerto(), "salida@prueba.test");
    ASSERT_TRUE(cuenta);
    const Proceso antes = prueba::entornoDeApp(
        d.ruta(), {{"TM_PASE", "1"}, {"TM_CONTROL", control.sitio()}, {"TM_INTERFACES", "lo"}, {"TM_SECO", "1"}});
    guardarCuenta(carpetaDatos() / "remoto.json", Cuenta{cuenta->correo, cuenta->sala, cuenta->ficha});
    usarCarpeta(cuenta->sala);  // the account's own channels
    escribirJson(carpetaCuenta() / "canales.json",
                 Json::parse(R"([{"id": "c1", "nombre": "Prueba", "servidor": "rtmp://127.0.0.1:1/live", "clave": "k"}])"));
    const auto sesion = carpetaDatos() / "sesion.json";
    {
        App app;
        app.abrirPrincipal();
        VentanaPrincipal& v = *app.ventanaPrincipal();
        ASSERT_TRUE(esperar([&] { return v.botonHabilitado(); }, 15));
        app.pulsar();
        ASSERT_TRUE(esperar([&] { return v.insignia().startsWith("EN VIVO"); }, 20)) << v.aviso().toStdString();
        ASSERT_TRUE(std::filesystem::exists(sesion));
        ASSERT_TRUE(esperar([&] { return relay.registro().find("transmisión nueva") != std::string::npos; }, 20))
            << relay.registro();

        // "Seguir transmitiendo": the window stays and the transmission goes on.
        EXPECT_FALSE(v.close());
        EXPECT_TRUE(responder(QString::fromUtf8("Seguir transmitiendo")));
        EXPECT_TRUE(v.isVisible());
        EXPECT_TRUE(v.insignia().startsWith("EN VIVO"));

        // "Cortar y cerrar": stopped, and the relay closes the transmission before the end.
        EXPECT_FALSE(v.close());  // it closes once the relay has answered
        EXPECT_TRUE(responder(QString::fromUtf8("Cortar y cerrar")));
        EXPECT_TRUE(esperar([&] { return relay.registro().find("cerrada (pedido del cliente)") != std::string::npos; }, 10))
            << relay.registro();
        EXPECT_TRUE(esperar([&] { return !std::filesystem::exists(sesion); }, 5));
        EXPECT_TRUE(esperar([&] { return !v.isVisible(); }, 5));
    }
    std::filesystem::remove(carpetaCuenta() / "canales.json");
    usarCarpeta(std::nullopt);
    fijarProceso(antes);
    EXPECT_EQ(relay.detener(), 0);
    EXPECT_EQ(control.detener(), 0);
}

}  // namespace
}  // namespace tt
