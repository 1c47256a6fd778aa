#include "comun/cola.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include <pthread.h>

namespace asio = boost::asio;

namespace tt {

namespace {
std::chrono::steady_clock::duration duracion(double segundos) {
    if (segundos < 0) segundos = 0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(segundos));
}
}  // namespace

struct Cola::Estado : std::enable_shared_from_this<Cola::Estado> {
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> guardia{io.get_executor()};
    std::thread hilo;
    std::thread::id id;
    std::mutex candado;  // guards temporizadores and cerrada
    std::set<std::shared_ptr<asio::steady_timer>> temporizadores;
    bool cerrada = false;
    // Held by every post until asio has finished waking the thread, and taken once more before the
    // io_context goes, so a post from another thread never touches a destroyed queue.
    std::mutex candadoPost;

    ~Estado() { std::lock_guard l(candadoPost); }

    template <class F>
    void poner(F&& fn) {
        std::lock_guard l(candadoPost);
        asio::post(io, std::forward<F>(fn));
    }

    std::shared_ptr<asio::steady_timer> nuevoTemporizador() {
        std::lock_guard l(candado);
        if (cerrada) return nullptr;
        auto t = std::make_shared<asio::steady_timer>(io);
        temporizadores.insert(t);
        return t;
    }
    bool cerradaYa() {
        std::lock_guard l(candado);
        return cerrada;
    }
    void olvidar(const std::shared_ptr<asio::steady_timer>& t) {
        std::lock_guard l(candado);
        temporizadores.erase(t);
    }
    // On the queue: stop every timer so the io_context runs out of work.
    void cancelarTodo() {
        std::set<std::shared_ptr<asio::steady_timer>> todos;
        {
            std::lock_guard l(candado);
            cerrada = true;
            todos.swap(temporizadores);
        }
        for (auto& t : todos) t->cancel();
    }
};

namespace {

class TemporizadorCola : public Temporizador, public std::enable_shared_from_this<TemporizadorCola> {
public:
    TemporizadorCola(std::weak_ptr<Cola::Estado> estado, std::shared_ptr<asio::steady_timer> t,
                     double periodo, std::function<void()> fn)
        : estado_(std::move(estado)), t_(std::move(t)), periodo_(periodo), fn_(std::move(fn)) {}

    void armar(double segundos) {
        auto estado = estado_.lock();
        if (!estado || estado->cerradaYa()) return;
        t_->expires_after(duracion(segundos));
        std::weak_ptr<TemporizadorCola> debil = shared_from_this();
        t_->async_wait([debil](const boost::system::error_code& e) {
            auto yo = debil.lock();
            if (!yo || e || yo->cancelado_) return;
            yo->fn_();
            if (!yo->cancelado_) yo->armar(yo->periodo_);
        });
    }

    void cancelar() override {
        auto estado = estado_.lock();
        if (!estado) return;
        auto t = t_;
        auto yo = shared_from_this();
        estado->poner([yo, t, estado] {
            yo->cancelado_ = true;
            t->cancel();
            estado->olvidar(t);
        });
    }

private:
    std::weak_ptr<Cola::Estado> estado_;
    std::shared_ptr<asio::steady_timer> t_;
    double periodo_;
    std::function<void()> fn_;
    bool cancelado_ = false;  // touched only on the queue
};

}  // namespace

Cola::Cola(std::string etiqueta) : etiqueta_(std::move(etiqueta)), estado_(std::make_shared<Estado>()) {
    std::promise<void> listo;
    auto arrancado = listo.get_future();
    estado_->hilo = std::thread([estado = estado_, nombre = etiqueta_, &listo] {
        estado->id = std::this_thread::get_id();
        pthread_setname_np(pthread_self(), nombre.substr(0, 15).c_str());
        listo.set_value();
        estado->io.run();
    });
    arrancado.wait();
}

Cola::~Cola() {
    auto estado = estado_;
    estado->poner([estado] { estado->cancelarTodo(); });
    estado->guardia.reset();
    if (std::this_thread::get_id() == estado->id) {
        // Destroyed by its own work: the thread keeps the state alive and ends by itself.
        estado->hilo.detach();
    } else {
        estado->hilo.join();
    }
}

asio::io_context& Cola::contexto() { return estado_->io; }

bool Cola::enEsta() const { return std::this_thread::get_id() == estado_->id; }

void Cola::asincrono(std::function<void()> fn) { estado_->poner(std::move(fn)); }

void Cola::asincronoYEsperar(std::function<void()> fn) {
    std::promise<void> hecho;
    auto fin = hecho.get_future();
    estado_->poner([&] {
        fn();
        hecho.set_value();
    });
    fin.wait();
}

void Cola::despues(double segundos, std::function<void()> fn) {
    auto t = estado_->nuevoTemporizador();
    if (!t) return;
    t->expires_after(duracion(segundos));
    std::weak_ptr<Estado> debil = estado_;
    t->async_wait([debil, t, fn = std::move(fn)](const boost::system::error_code& e) {
        if (auto estado = debil.lock()) estado->olvidar(t);
        if (!e) fn();
    });
}

std::shared_ptr<Temporizador> Cola::cada(double periodo, std::function<void()> fn, double primero) {
    auto t = estado_->nuevoTemporizador();
    if (!t) t = std::make_shared<asio::steady_timer>(estado_->io);  // closing: armar does nothing
    auto temporizador = std::make_shared<TemporizadorCola>(estado_, t, periodo, std::move(fn));
    estado_->poner([temporizador, primero, periodo] {
        temporizador->armar(primero < 0 ? periodo : primero);
    });
    return temporizador;
}

asio::thread_pool& colaGlobal() {
    static asio::thread_pool pool(4);
    return pool;
}

void enGlobal(std::function<void()> fn) { asio::post(colaGlobal(), std::move(fn)); }

void enGlobalDespues(double segundos, std::function<void()> fn) {
    auto t = std::make_shared<asio::steady_timer>(colaGlobal(), duracion(segundos));
    t->async_wait([t, fn = std::move(fn)](const boost::system::error_code& e) {
        if (!e) fn();
    });
}

}  // namespace tt
