// The application with a phone in its account's room: the real service in test mode, the real
// main window and engine with the synthetic camera, a phone made of a plain WebSocket.
#include "app/app.h"

#include "comun/proceso.h"
#include "cuenta/archivo_cuenta.h"
#include "soporte/control_hijo.h"
#include "soporte/soporte.h"
#include "ui/ventana_principal.h"

#include <QImage>
#include <QWebSocket>
#include <gtest/gtest.h>

namespace tt {
namespace {

using prueba::esperar;

std::vector<std::string> claves(const Json& j) {
    std::vector<std::string> r;
    for (auto& [k, v] : j.items()) r.push_back(k);
    return r;
}

// A phone of the account: signs in by its first message and keeps what the room sends it.
class Celular {
public:
    Celular(const std::string& sitio, const std::string& sala, const std::string& ficha) {
        QObject::connect(&ws_, &QWebSocket::connected, [this, ficha] {
            ws_.sendTextMessage(QString::fromStdString(Json{{"t", "entrar"}, {"ficha", ficha}}.dump()));
        });
        QObject::connect(&ws_, &QWebSocket::textMessageReceived, [this](const QString& m) {
            auto j = Json::parse(m.toStdString(), nullptr, false);
            if (j.is_object()) recibidos.push_back(j);
        });
        ws_.open(QUrl(QString::fromStdString("ws://" + sitio + "/ws?sala=" + sala)));
    }
    void mandar(const Json& j) { ws_.sendTextMessage(QString::fromStdString(j.dump())); }
    // The first message of type t after `desde`, waiting for it.
    std::optional<Json> esperarTipo(const std::string& t, std::size_t desde = 0, double s = 10) {
        std::optional<Json> r;
        esperar([&] {
            for (std::size_t i = desde; i < recibidos.size(); ++i)
                if (recibidos[i].value("t", "") == t) {
                    r = recibidos[i];
                    return true;
                }
            return false;
        }, s);
        return r;
    }
    std::vector<Json> recibidos;

private:
    QWebSocket ws_;
};

TEST(AppCelular, estadoPulsoVistaOrdenesYSalida) {
    prueba::CarpetaTemporal d;
    prueba::ControlHijo control(d / "servicio", "secreto-de-prueba-1234567890", {"--prueba", "--saldo-inicial", "7200"});
    ASSERT_NE(control.puerto(), 0) << control.registro();
    auto cuenta = prueba::crearCuenta(control.puerto(), "mar@prueba.test");
    ASSERT_TRUE(cuenta);
    const Proceso antes =
        prueba::entornoDeApp(d.ruta(), {{"TM_PASE", "1"}, {"TM_CONTROL", control.sitio()}, {"TM_ARCHIVO", "1"}});
    const auto archivo = carpetaDatos() / "remoto.json";
    guardarCuenta(archivo, Cuenta{cuenta->correo, cuenta->sala, cuenta->ficha});
    {
        App app;
        app.abrirPrincipal();
        VentanaPrincipal& v = *app.ventanaPrincipal();
        EXPECT_TRUE(esperar([&] { return v.saldo() == QString::fromUtf8("Te quedan 2 h 0 min de transmisión"); }, 10))
            << v.saldo().toStdString();
        EXPECT_TRUE(esperar([&] { return v.celular().endsWith(QString::fromUtf8("Ningún celular con sesión todavía.")); }, 10))
            << v.celular().toStdString();

        auto c = prueba::post(control.puerto(), "/codigo", {{"correo", cuenta->correo}, {"modo", "entrar"}});
        auto e = prueba::post(control.puerto(), "/entrar",
                              {{"correo", cuenta->correo}, {"codigo", c.cuerpo.value("codigo", "")}, {"tipo", "celular"}});
        Celular tel(control.sitio(), cuenta->sala, e.cuerpo.value("ficha", ""));
        // The phone's arrival asks for the full state.
        auto estado = tel.esperarTipo("estado");
        ASSERT_TRUE(estado);
        EXPECT_EQ(claves(*estado), (std::vector<std::string>{"t", "programa", "vivo", "seco", "aviso", "sinRed", "sinDestino", "listo",
                                                              "redes", "error", "saldo", "canal", "camaras", "camara",
                                                              "pantallas"}));
        EXPECT_EQ((*estado)["saldo"], 7200);
        EXPECT_EQ((*estado)["camaras"], Json::parse(R"([{"id":"ILCE-7M4","nombre":"ILCE-7M4"}])"));
        ASSERT_FALSE((*estado)["pantallas"].empty());
        const Json& primera = (*estado)["pantallas"][0];
        EXPECT_EQ(claves(primera), (std::vector<std::string>{"id", "nombre", "respaldo", "foto"}));
        EXPECT_GT(primera["foto"].get<std::string>().size(), 1000u);
        EXPECT_TRUE(esperar([&] { return v.celular().endsWith(QString::fromUtf8("1 celular con sesión · 1 conectado")); }, 10))
            << v.celular().toStdString();

        // A pulse every second and a picture every two.
        auto pulso = tel.esperarTipo("pulso");
        ASSERT_TRUE(pulso);
        EXPECT_EQ(claves(*pulso), (std::vector<std::string>{"t", "programa", "vivo", "seco", "aviso", "sinRed", "sinDestino", "listo",
                                                             "redes", "error", "saldo"}));
        auto vista = tel.esperarTipo("vista");
        ASSERT_TRUE(vista);
        const QImage foto = QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString((*vista)["jpg"])), "JPG");
        EXPECT_EQ(foto.width(), 560);

        // Putting a screen on air from the phone.
        const std::string id = primera["id"];
        const std::size_t antesOrden = tel.recibidos.size();
        tel.mandar(Json{{"t", "elegir"}, {"id", id}});
        EXPECT_TRUE(esperar([&] { return app.pantallaAlAire() == id; }, 10));
        auto despues = tel.esperarTipo("pulso", antesOrden);
        ASSERT_TRUE(despues);
        EXPECT_EQ((*despues)["programa"], id);

        // Start from the phone; a camera order on air is refused; signing out waits for the stop.
        tel.mandar(Json{{"t", "transmitir"}});
        ASSERT_TRUE(esperar([&] { return v.insignia().startsWith("PRUEBA EN SECO"); }, 10)) << v.aviso().toStdString();
        const std::size_t alAire = tel.recibidos.size();
        tel.mandar(Json{{"t", "transmitir"}});  // already live: only a pulse
        auto vivo = tel.esperarTipo("pulso", alAire);
        ASSERT_TRUE(vivo);
        EXPECT_TRUE((*vivo)["vivo"].get<bool>());
        EXPECT_TRUE(vivo->contains("tiempo") && vivo->contains("cifras"));
        tel.mandar(Json{{"t", "camara"}, {"id", "ILCE-7M4"}});
        EXPECT_TRUE(esperar([&] { return v.aviso() == QString::fromUtf8("La cámara solo se cambia sin transmitir."); }, 10));
        app.cerrarSesion();
        EXPECT_EQ(v.aviso(), QString::fromUtf8("Detén la transmisión antes de cerrar sesión."));
        EXPECT_TRUE(std::filesystem::exists(archivo));
        tel.mandar(Json{{"t", "detener"}});
        EXPECT_TRUE(esperar([&] { return v.insignia() == "Sin transmitir"; }, 10));

        // Signing out while the window is open: the file goes, the phone block asks to sign in.
        app.cerrarSesion();
        EXPECT_FALSE(std::filesystem::exists(archivo));
        EXPECT_EQ(v.saldo(), "");
        EXPECT_TRUE(v.celular().startsWith("Inicia sesión"));
        v.close();
    }
    fijarProceso(antes);
}

}  // namespace
}  // namespace tt
