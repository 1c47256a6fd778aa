#pragma once

#include "protocolo/pase.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace tt {

// The relay conversations ("TM3" is it open?, "TM4" close it), each on a short-lived TCP
// connection with a 7 s limit. Owns the thread "tm.pendiente"; completions run there, exactly once
// each, unless the object goes first (then never).
class Charlas {
public:
    Charlas();
    ~Charlas();
    Charlas(const Charlas&) = delete;
    Charlas& operator=(const Charlas&) = delete;

    // The relay's answer line, or nothing (bad address, no connection, no greeting, time out).
    void hablar(const Pase& s, const std::string& tipo,
                std::function<void(std::optional<std::string>)> alTerminar, double limite = 7);

private:
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guardia_;
    std::thread hilo_;
};

}  // namespace tt
