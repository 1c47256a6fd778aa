#include "soporte/control_hijo.h"

#include "soporte/soporte.h"

#include "comun/cripto.h"

#include <libpq-fe.h>

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <unistd.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace tt::prueba {

namespace {

Almacen almacen_ = Almacen::sqlite;

// The secret goes in a 0600 file, never on the command line.
std::vector<std::string> argumentosControl(const std::filesystem::path& datos, const std::string& secreto,
                                           std::vector<std::string> argumentos) {
    const std::string rutaSecreto = ServidorHijo::rutaNueva("control", ".secreto");
    int fs = open(rutaSecreto.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string linea = "secreto=" + secreto + "\n";
    if (fs >= 0) {
        EXPECT_EQ(write(fs, linea.data(), linea.size()), ssize_t(linea.size()));
        close(fs);
    }
    std::vector<std::string> todo{std::string(TM_BIN) + "/tremolante-control", "--escuchar", "127.0.0.1:0",
                                  "--datos", datos.string(), "--secreto-archivo", rutaSecreto,
                                  "--destinos-locales"};  // tests publish to servers on loopback
    if (almacen_ == Almacen::postgres) {
        todo.push_back("--base");
        todo.push_back(basePostgres("t" + sha256Hex(datos.string()).substr(0, 16)));
    }
    todo.insert(todo.end(), argumentos.begin(), argumentos.end());
    return todo;
}

}  // namespace

void usarAlmacen(Almacen a) { almacen_ = a; }
Almacen almacen() { return almacen_; }

std::string nombreAlmacen(const testing::TestParamInfo<Almacen>& i) {
    return i.param == Almacen::sqlite ? "sqlite" : "postgres";
}

std::string basePostgres(const std::string& nombre) {
    const char* dir = std::getenv("TM_PRUEBA_POSTGRES");
    if (!dir || !*dir) {
        ADD_FAILURE() << "sin TM_PRUEBA_POSTGRES: estas pruebas corren con ctest, que arranca su PostgreSQL";
        return {};
    }
    auto direccion = [&](const std::string& base) { return "postgresql://postgres@/" + base + "?host=" + dir; };
    PGconn* c = PQconnectdb(direccion("postgres").c_str());
    if (PQstatus(c) == CONNECTION_OK) {
        const char* v[] = {nombre.c_str()};
        PGresult* r = PQexecParams(c, "SELECT 1 FROM pg_database WHERE datname = $1", 1, nullptr, v, nullptr, nullptr, 0);
        const bool hay = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
        PQclear(r);
        if (!hay) {  // the name is hex: nothing to quote
            r = PQexec(c, ("CREATE DATABASE " + nombre).c_str());
            EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQresultErrorMessage(r);
            PQclear(r);
        }
    } else {
        ADD_FAILURE() << "no se pudo conectar con el PostgreSQL de las pruebas: " << PQerrorMessage(c);
    }
    PQfinish(c);
    return direccion(nombre);
}

ControlHijo::ControlHijo(const std::filesystem::path& datos, const std::string& secreto,
                         std::vector<std::string> argumentos)
    : ServidorHijo("control", argumentosControl(datos, secreto, std::move(argumentos)),
                   entornoSin("TM_CONTROL_")) {}

RespuestaHttp pedirHttp(std::uint16_t puerto, const std::string& metodo, const std::string& ruta,
                        const std::string& cuerpo, std::vector<std::pair<std::string, std::string>> cabeceras) {
    RespuestaHttp r;
    asio::io_context io;
    beast::tcp_stream s(io);
    beast::error_code ec;
    s.expires_after(std::chrono::seconds(20));
    s.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), puerto), ec);
    if (ec) return r;
    http::request<http::string_body> p{http::string_to_verb(metodo), ruta, 11};
    p.set(http::field::host, "127.0.0.1");
    if (!cuerpo.empty()) p.set(http::field::content_type, "application/json");
    for (auto& [k, v] : cabeceras) p.set(k, v);
    p.body() = cuerpo;
    p.prepare_payload();
    http::write(s, p, ec);
    if (ec) return r;
    beast::flat_buffer b;
    http::response_parser<http::string_body> a;
    a.body_limit(64u << 20);
    http::read(s, b, a, ec);
    if (ec) return r;
    r.estado = int(a.get().result_int());
    r.crudo = a.get().body();
    r.cuerpo = Json::parse(r.crudo, nullptr, false);
    if (r.cuerpo.is_discarded()) r.cuerpo = nullptr;
    return r;
}

std::optional<CuentaPrueba> crearCuenta(std::uint16_t puerto, const std::string& correo, const std::string& tipo) {
    auto r = post(puerto, "/registro", {{"correo", correo}, {"clave", "Prueba#123"}});
    if (r.estado != 200 || !r.cuerpo.contains("codigo")) return std::nullopt;
    auto v = post(puerto, "/verificar", {{"correo", correo}, {"codigo", r.cuerpo["codigo"]}, {"tipo", tipo}});
    if (v.estado != 200) return std::nullopt;
    return CuentaPrueba{correo, v.cuerpo.value("sala", ""), v.cuerpo.value("ficha", "")};
}

ClienteWs::ClienteWs(std::uint16_t puerto, const std::string& sala, const std::string& ficha) {
    ws_ = std::make_unique<websocket::stream<beast::tcp_stream>>(io_);
    beast::error_code ec;
    beast::get_lowest_layer(*ws_).connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), puerto), ec);
    if (ec) return;
    if (!ficha.empty())
        ws_->set_option(websocket::stream_base::decorator([ficha](websocket::request_type& q) {
            q.set(http::field::authorization, "Bearer " + ficha);
        }));
    websocket::response_type respuesta;
    ws_->read_message_max(64u << 20);
    ws_->handshake(respuesta, "127.0.0.1", "/ws?sala=" + sala, ec);
    if (ec) {
        // The refused upgrade's status, asked again in plain HTTP (Beast keeps no response here).
        std::vector<std::pair<std::string, std::string>> c{{"Connection", "Upgrade"},
                                                           {"Upgrade", "websocket"},
                                                           {"Sec-WebSocket-Version", "13"},
                                                           {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}};
        if (!ficha.empty()) c.push_back({"Authorization", "Bearer " + ficha});
        rechazo_ = pedirHttp(puerto, "GET", "/ws?sala=" + sala, {}, c).estado;
        return;
    }
    for (auto& h : respuesta) cabeceras_.emplace_back(h.name_string(), h.value());
    abierto_ = true;
}

std::string ClienteWs::cabecera(const std::string& nombre) const {
    for (auto& [k, v] : cabeceras_)
        if (beast::iequals(k, nombre)) return v;
    return {};
}

ClienteWs::~ClienteWs() {
    beast::error_code ec;
    beast::get_lowest_layer(*ws_).close();
}

bool ClienteWs::mandar(const std::string& texto) {
    if (!abierto_) return false;
    beast::error_code ec;
    ws_->text(true);
    ws_->write(asio::buffer(texto), ec);
    return !ec;
}

std::optional<std::string> ClienteWs::recibir(double segundos) {
    if (!abierto_) return std::nullopt;
    beast::flat_buffer b;
    std::optional<std::string> r;
    bool hecho = false;
    ws_->async_read(b, [&](beast::error_code ec, std::size_t) {
        hecho = true;
        if (ec) {
            abierto_ = false;
            return;
        }
        r = beast::buffers_to_string(b.data());
    });
    io_.restart();
    io_.run_for(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(segundos)));
    if (!hecho) {
        // Nothing came in time: cancelling a read breaks a Beast stream, so the socket goes.
        beast::get_lowest_layer(*ws_).cancel();
        io_.restart();
        io_.run();
        abierto_ = false;
    }
    return r;
}

std::optional<Json> ClienteWs::esperar(const std::string& t, double segundos) {
    const auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
    while (abierto_) {
        const double queda = std::chrono::duration<double>(hasta - std::chrono::steady_clock::now()).count();
        if (queda <= 0) return std::nullopt;
        auto m = recibir(queda);
        if (!m) return std::nullopt;
        auto j = Json::parse(*m, nullptr, false);
        if (j.is_object() && j.value("t", "") == t) return j;
    }
    return std::nullopt;
}

bool ClienteWs::cerradoPorElServicio(double segundos) {
    const auto hasta = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
    while (abierto_ && std::chrono::steady_clock::now() < hasta) {
        const double queda = std::chrono::duration<double>(hasta - std::chrono::steady_clock::now()).count();
        beast::flat_buffer b;
        bool hecho = false, cerrado = false;
        ws_->async_read(b, [&](beast::error_code ec, std::size_t) {
            hecho = true;
            cerrado = bool(ec);
        });
        io_.restart();
        io_.run_for(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(queda)));
        if (!hecho) {
            beast::get_lowest_layer(*ws_).cancel();
            io_.restart();
            io_.run();
            abierto_ = false;
            return false;
        }
        if (cerrado) {
            abierto_ = false;
            return true;
        }
    }
    return !abierto_;
}

}  // namespace tt::prueba
