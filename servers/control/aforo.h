#pragma once

// How many connections the control service holds: all together below the descriptor limit, and
// each client address only a share of that, so one address cannot take every slot. A connection
// holds its slot for as long as it lives, on whichever thread it ends.

#include <boost/asio/ip/address.hpp>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tt::control {

// Owner: the service; slots may be released from any thread.
class Aforo : public std::enable_shared_from_this<Aforo> {
public:
    // `libres`: addresses without a share of their own (the front proxy, through which every client
    // comes); they count towards the total only.
    Aforo(std::size_t total, std::size_t porDireccion, std::vector<boost::asio::ip::address> libres = {})
        : total_(total), porDireccion_(porDireccion), libres_(std::move(libres)) {}

    class Plaza {
    public:
        explicit Plaza(std::shared_ptr<Aforo> a, boost::asio::ip::address d) : a_(std::move(a)), d_(d) {}
        ~Plaza() { a_->soltar(d_); }
        Plaza(const Plaza&) = delete;
        Plaza& operator=(const Plaza&) = delete;

    private:
        std::shared_ptr<Aforo> a_;
        boost::asio::ip::address d_;
    };

    // A slot for a connection from `d`, or nothing when the service or that address is full.
    std::shared_ptr<Plaza> tomar(const boost::asio::ip::address& d);
    std::size_t ocupadas() const;

    // The service's default: what the descriptor limit leaves after a reserve for files and the base.
    static std::size_t segunDescriptores();

private:
    void soltar(const boost::asio::ip::address& d);

    const std::size_t total_, porDireccion_;
    const std::vector<boost::asio::ip::address> libres_;
    mutable std::mutex candado_;  // guards the counts
    std::size_t ocupadas_ = 0;
    std::map<boost::asio::ip::address, std::size_t> porDir_;
};

}  // namespace tt::control
