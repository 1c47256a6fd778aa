#pragma once

// The built control service as a child process on loopback, its secret in a 0600 file. Small synchronous HTTP
// and WebSocket clients to talk to it.

#include "comun/json.h"
#include "soporte/servidor_hijo.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt::prueba {

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
};

}  // namespace tt::prueba
