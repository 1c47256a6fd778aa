#pragma once

#include <boost/asio/ip/address.hpp>

#include <map>

namespace tt::relay {

// The handshake slots: how many connections may be answering the challenge at once, in total and
// from one network. A network is a /24 for IPv4 (an IPv4-mapped IPv6 address counts as its IPv4
// one) and a /64 for IPv6: one host or one customer usually holds a whole block, so counting
// single addresses would let it take every slot. Pure. Owner: the server's thread.
class Saludos {
public:
    Saludos(int total, int porRed) : total_(total), porRed_(porRed) {}
    static boost::asio::ip::address redDe(const boost::asio::ip::address& ip);
    // Takes a slot for `ip`, or false when its network or everyone together has no room left.
    bool entrar(const boost::asio::ip::address& ip);
    void salir(const boost::asio::ip::address& ip);  // once for each successful entrar
    int enCurso() const { return enCurso_; }

private:
    int total_, porRed_;
    int enCurso_ = 0;
    std::map<boost::asio::ip::address, int> redes_;  // network → slots it holds (never 0)
};

}  // namespace tt::relay
