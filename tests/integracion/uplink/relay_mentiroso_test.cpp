// A relay that admits the link and acknowledges chunks it never reads: the uplink must not keep
// the stream in memory behind a connection that cannot write.
#include "comun/proceso.h"
#include "soporte/soporte.h"
#include "protocolo/protocolo.h"
#include "uplink/reparto.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace tt;
using namespace std::chrono_literals;
namespace asio = boost::asio;

namespace {

constexpr int piezasPorSegundo = 100;  // of 25000 bytes: 20 Mbit/s

// Greets, admits, then acknowledges the sequence numbers a producer of `piezasPorSegundo` reaches,
// without reading a byte more.
class RelayMentiroso {
public:
    RelayMentiroso()
        : aceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}), puerto_(aceptor_.local_endpoint().port()) {
        aceptor_.non_blocking(true);  // so the thread notices a stop request
        hilo_ = std::jthread([this](std::stop_token alto) { servir(alto); });
    }
    std::string entrada() const { return "127.0.0.1:" + std::to_string(puerto_); }

private:
    void servir(std::stop_token alto) {
        while (!alto.stop_requested()) {
            asio::ip::tcp::socket s(io_);
            boost::system::error_code ec;
            aceptor_.accept(s, ec);
            if (ec == asio::error::would_block || ec == asio::error::try_again) {
                std::this_thread::sleep_for(10ms);
                continue;
            }
            if (ec) return;
            s.non_blocking(false, ec);
            asio::write(s, asio::buffer(std::string("TM1 reto\n")), ec);
            asio::streambuf b;
            asio::read_until(s, b, '\n', ec);
            asio::write(s, asio::buffer(std::string("OK\n")), ec);
            while (!ec && !alto.stop_requested()) {
                // Every number the producer may have reached by now is "received", a few seconds
                // either way, without reading a byte.
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio_).count();
                const auto hasta = std::uint32_t((t + 2) * piezasPorSegundo);
                const std::uint32_t desde = hasta > 10 * piezasPorSegundo ? hasta - 10 * piezasPorSegundo : 0;
                std::string acuses;
                for (std::uint32_t n = desde; n < hasta; ++n) protocolo::escribirU32(acuses, n);
                asio::write(s, asio::buffer(acuses), ec);
                std::this_thread::sleep_for(50ms);
            }
        }
    }

    const std::chrono::steady_clock::time_point inicio_ = std::chrono::steady_clock::now();
    asio::io_context io_;
    asio::ip::tcp::acceptor aceptor_;
    unsigned short puerto_;
    std::jthread hilo_;  // last: stopped and joined before the acceptor goes
};

}  // namespace

TEST(RelayMentiroso, enlaceQueNoPuedeEscribirSeDaPorAtascado) {
    Proceso p = proceso();
    p.entorno = Entorno({{"TM_DATOS", (prueba::raizPruebas() / "datos").string()}, {"TM_INTERFACES", "lo"}});
    fijarProceso(p);
    const std::size_t inicio = prueba::leer(carpetaLog() / "app.log").size();
    auto log = [&] {
        std::string l = prueba::leer(carpetaLog() / "app.log");
        return l.size() > inicio ? l.substr(inicio) : std::string();
    };

    RelayMentiroso relay;
    auto r = Reparto::crear(relay.entrada(), "", std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(r);
    // 20 Mbit/s for at most 30 s: the kernel's buffers take some megabytes before the connection
    // stops writing, and then a few seconds of the stream at most are held.
    const std::string pieza(25000, 'v');
    const auto t0 = std::chrono::steady_clock::now();
    bool atascado = false;
    for (int i = 0; !atascado && std::chrono::steady_clock::now() - t0 < 30s; ++i) {
        r->enviar(pieza);
        std::this_thread::sleep_until(t0 + i * 1000ms / piezasPorSegundo);
        if (i % 50 == 0) atascado = log().find("red atorada: lo") != std::string::npos;
    }
    ASSERT_TRUE(atascado) << log();
    // The lie was believed for more than the cap's few seconds of stream before the link went.
    EXPECT_GT(r->confirmadosTotal(), 3 * piezasPorSegundo * std::int64_t(pieza.size()));
    r->terminar();
}
