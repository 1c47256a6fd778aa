#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <type_traits>

namespace tt {

// A repeating timer made by Cola::cada; stops on cancelar() or when its queue ends.
class Temporizador {
public:
    virtual ~Temporizador() = default;
    virtual void cancelar() = 0;
};

// Serial queue: one thread running an io_context, so the same queue can own sockets and timers.
// Work posted before destruction still runs; pending timers are cancelled, so a queue never waits
// for a delay to end before it goes away.
class Cola {
public:
    explicit Cola(std::string etiqueta);
    ~Cola();
    Cola(const Cola&) = delete;
    Cola& operator=(const Cola&) = delete;

    const std::string& etiqueta() const { return etiqueta_; }
    boost::asio::io_context& contexto();
    bool enEsta() const;  // true when called from this queue's thread

    void asincrono(std::function<void()> fn);

    // Runs fn on the queue and waits for its result; runs at once when already on the queue.
    template <class F>
    auto sincrono(F fn) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if (enEsta()) return fn();
        std::packaged_task<R()> tarea(std::move(fn));
        auto futuro = tarea.get_future();
        asincronoYEsperar([&tarea] { tarea(); });
        return futuro.get();
    }

    void despues(double segundos, std::function<void()> fn);
    // Every `periodo` seconds, the first time after `primero` seconds (negative: after one period).
    std::shared_ptr<Temporizador> cada(double periodo, std::function<void()> fn, double primero = -1);

    struct Estado;

private:
    void asincronoYEsperar(std::function<void()> fn);

    std::string etiqueta_;
    std::shared_ptr<Estado> estado_;
};

// The shared pool for delayed jobs that belong to no queue.
boost::asio::thread_pool& colaGlobal();
void enGlobal(std::function<void()> fn);
void enGlobalDespues(double segundos, std::function<void()> fn);

}  // namespace tt
