#include "relay_proceso.h"

#include "soporte/soporte.h"
#include "protocolo/protocolo.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <istream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tt::prueba {

std::string conversar(std::uint16_t puerto, const std::string& tipo, const std::string& sid,
                      const std::string& pase, const std::string& llave) {
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::tcp::socket s(io);
    boost::system::error_code ec;
    s.connect({asio::ip::make_address("127.0.0.1"), puerto}, ec);
    if (ec) return "(sin conexión)";
    asio::streambuf b;
    asio::read_until(s, b, '\n', ec);
    std::istream in(&b);
    std::string saludo;
    std::getline(in, saludo);
    if (saludo.rfind("TM1 ", 0) != 0) return "(sin reto)";
    Pase p{"", sid, llave, pase, 0};
    asio::write(s, asio::buffer(protocolo::respuestaCharla(tipo, p, saludo.substr(4))), ec);
    asio::read_until(s, b, '\n', ec);
    std::string r;
    std::getline(in, r);
    return r;
}

}  // namespace tt::prueba
