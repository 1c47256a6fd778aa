#pragma once

// The built control service as a child process on loopback, its secret in a 0600 file. Small synchronous HTTP
// and WebSocket clients to talk to it.

#include "comun/json.h"
#include "soporte/servidor_hijo.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt::prueba {

// Where the control services a test starts keep their data: SQLite in their data folder, or a
// database of their own (one per data folder) in the tests' PostgreSQL cluster, whose socket
// folder CTest gives in TM_PRUEBA_POSTGRES after starting it.
enum class Almacen { sqlite, postgres };
void usarAlmacen(Almacen a);
Almacen almacen();
// The address of the cluster's database `nombre`, made if missing; empty (and a failure) when
// there is no cluster.
std::string basePostgres(const std::string& nombre);

// A suite that runs once on each store: TEST_P, then EN_CADA_ALMACEN(Suite).
class PorAlmacen : public testing::TestWithParam<Almacen> {
protected:
    void SetUp() override { usarAlmacen(GetParam()); }
    void TearDown() override { usarAlmacen(Almacen::sqlite); }
};
std::string nombreAlmacen(const testing::TestParamInfo<Almacen>& i);
inline void PrintTo(Almacen a, std::ostream* o) { *o << (a == Almacen::sqlite ? "sqlite" : "postgres"); }
#define EN_CADA_ALMACEN(suite)                                                                         \
    INSTANTIATE_TEST_SUITE_P(Almacenes, suite,                                                         \
                             testing::Values(tt::prueba::Almacen::sqlite, tt::prueba::Almacen::postgres), \
                             tt::prueba::nombreAlmacen)

class ControlHijo : public ServidorHijo {
public:
    // `datos`: the service's data folder (kept by the caller, so a restart finds the same base).
    ControlHijo(const std::filesystem::path& datos, const std::string& secreto, std::vector<std::string> argumentos);
    std::string sitio() const { return "127.0.0.1:" + std::to_string(puerto()); }
};

struct RespuestaHttp {
    int estado = 0;  // 0: no answer
    Json cuerpo;     // null when the body is not JSON
    std::string crudo;
};

RespuestaHttp pedirHttp(std::uint16_t puerto, const std::string& metodo, const std::string& ruta,
                        const std::string& cuerpo = {}, std::vector<std::pair<std::string, std::string>> cabeceras = {});
inline RespuestaHttp post(std::uint16_t puerto, const std::string& ruta, const Json& cuerpo) {
    return pedirHttp(puerto, "POST", ruta, cuerpo.dump());
}

// An account made in test mode: register, the code from the answer, verify.
struct CuentaPrueba {
    std::string correo, sala, ficha;
};
std::optional<CuentaPrueba> crearCuenta(std::uint16_t puerto, const std::string& correo,
                                        const std::string& tipo = "mac");

// A WebSocket client of the rooms, read with a time limit.
class ClienteWs {
public:
    // With a token: the Authorization header; without: a phone that signs in by message.
    ClienteWs(std::uint16_t puerto, const std::string& sala, const std::string& ficha = {});
    ~ClienteWs();
    bool abierto() const { return abierto_; }
    int estadoRechazo() const { return rechazo_; }  // HTTP status of a refused upgrade
    std::string cabecera(const std::string& nombre) const;  // of the upgrade's answer
    bool mandar(const std::string& texto);
    bool mandar(const Json& j) { return mandar(j.dump()); }
    // The next text message, or nothing after `segundos` or when closed.
    std::optional<std::string> recibir(double segundos = 5);
    // The next message of type `t`, skipping others.
    std::optional<Json> esperar(const std::string& t, double segundos = 5);
    bool cerradoPorElServicio(double segundos = 5);

private:
    boost::asio::io_context io_;
    std::unique_ptr<boost::beast::websocket::stream<boost::beast::tcp_stream>> ws_;
    bool abierto_ = false;
    int rechazo_ = 0;
    std::vector<std::pair<std::string, std::string>> cabeceras_;
};

}  // namespace tt::prueba
