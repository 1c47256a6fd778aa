// An account's whole stack for the end-to-end tests: the control service in test mode, the relay
// that reports to it, nginx as the platform's ingest, and an account whose channel points there.
#pragma once

#include "e2e/corrida.h"
#include "soporte/control_hijo.h"
#include "soporte/relay_hijo.h"

#include "comun/json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt::prueba {

inline const std::string secreto = "secreto-de-prueba-sesion-1234567890";

// The folder where the app keeps the signed-in account's channels.
inline std::filesystem::path carpetaDeCuenta(const Corrida& c, const CuentaPrueba& cuenta) {
    auto carpeta = c.datos / "cuentas" / cuenta.sala.substr(0, 20);
    std::filesystem::create_directories(carpeta);
    return carpeta;
}

struct Montaje {
    // `rechaza`: nginx refuses every publication, as with a wrong stream key.
    explicit Montaje(bool rechaza = false) : nginx(puertoLibre(), rechaza) {}

    CarpetaTemporal d;
    int puertoRelay = puertoLibre();
    ControlHijo control{d / "servicio", secreto,
                        {"--prueba", "--saldo-inicial", "7200", "--relay", "127.0.0.1:" + std::to_string(puertoRelay)}};
    RelayHijo relay{{"", secreto},
                    {"--escuchar", "127.0.0.1:" + std::to_string(puertoRelay), "--control", control.sitio(),
                     "--informe-cada", "1"}};
    ServidorRtmp nginx;
    std::optional<CuentaPrueba> cuenta = crearCuenta(control.puerto(), "sesion@prueba.test");

    // The signed-in account, and its one channel at `servidor` (nginx's application by default).
    void preparar(Corrida& c, const std::string& servidor = {}) {
        ASSERT_TRUE(cuenta) << control.registro();
        escribir(c.datos / "remoto.json", Json{{"correo", cuenta->correo}, {"sala", cuenta->sala}, {"ficha", cuenta->ficha}}.dump());
        std::filesystem::permissions(c.datos / "remoto.json",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        escribir(carpetaDeCuenta(c, *cuenta) / "canales.json",
                 R"([{"id": "c1", "nombre": "Prueba", "servidor": ")" + (servidor.empty() ? nginx.aplicacion() : servidor) +
                     R"(", "clave": "sk-prueba"}])");
    }
    void arrancar(Corrida& c, std::vector<std::string> extra) {
        extra.insert(extra.end(), {"TM_PASE=1", "TM_CONTROL=" + control.sitio(), "TM_INTERFACES=lo"});
        c.arrancar(extra);
    }
    long long saldo() {
        auto r = post(control.puerto(), "/saldo", {{"sala", cuenta->sala}, {"ficha", cuenta->ficha}});
        return r.cuerpo.value("segundos", -1LL);
    }
    // A phone of the account in its room.
    std::unique_ptr<ClienteWs> celular() {
        auto c = post(control.puerto(), "/codigo", {{"correo", cuenta->correo}, {"modo", "entrar"}});
        auto e = post(control.puerto(), "/entrar",
                      {{"correo", cuenta->correo}, {"codigo", c.cuerpo.value("codigo", "")}, {"tipo", "celular"}});
        auto tel = std::make_unique<ClienteWs>(control.puerto(), cuenta->sala);
        tel->mandar(Json{{"t", "entrar"}, {"ficha", e.cuerpo.value("ficha", "")}});
        return tel;
    }
    // The first "estado" with `vivo` as asked, within `segundos`.
    std::optional<Json> estado(ClienteWs& tel, bool vivo, double segundos) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
        while (std::chrono::steady_clock::now() < fin) {
            auto e = tel.esperar("estado", 2);
            if (e && (*e)["vivo"] == vivo) return e;
        }
        return std::nullopt;
    }
    void cerrar() {
        EXPECT_EQ(relay.detener(), 0) << relay.registro();
        EXPECT_EQ(control.detener(), 0) << control.registro();
        EXPECT_EQ(nginx.parar(), 0);
    }
};

}  // namespace tt::prueba
