#include "relay/saludos.h"

#include <gtest/gtest.h>

using namespace tt::relay;
namespace ip = boost::asio::ip;

// One network's hosts share its slots: a /24 in IPv4 (mapped IPv6 addresses too), a /64 in IPv6.
TEST(Saludos, cuentaPorRedYEnTotal) {
    Saludos s(5, 2);
    EXPECT_TRUE(s.entrar(ip::make_address("203.0.113.7")));
    EXPECT_TRUE(s.entrar(ip::make_address("::ffff:203.0.113.200")));
    EXPECT_FALSE(s.entrar(ip::make_address("203.0.113.9")));
    EXPECT_TRUE(s.entrar(ip::make_address("203.0.114.9")));
    EXPECT_TRUE(s.entrar(ip::make_address("2001:db8:1:2::1")));
    EXPECT_TRUE(s.entrar(ip::make_address("2001:db8:1:2:ffff::9")));
    EXPECT_FALSE(s.entrar(ip::make_address("2001:db8:1:2:abcd::1")));
    EXPECT_FALSE(s.entrar(ip::make_address("2001:db8:1:3::1")));  // another /64, but all 5 are taken
    s.salir(ip::make_address("203.0.113.200"));
    EXPECT_TRUE(s.entrar(ip::make_address("::ffff:203.0.113.1")));
    EXPECT_EQ(s.enCurso(), 5);
}
