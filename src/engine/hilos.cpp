#include "engine/hilos.h"

#include "comun/cola.h"

#include <chrono>
#include <list>
#include <system_error>
#include <thread>

namespace tt {

struct Hilos::Estado {
    struct Hilo {
        int grupo;
        bool fin = false;
        std::thread t;
    };
    mutable std::mutex m;
    std::condition_variable cv;
    std::list<Hilo> hilos;
    Cola* recogida = nullptr;

    // Joins the threads that have ended. They are past their last statement, so this never waits
    // for work; called without the lock held.
    void recoger() {
        std::list<Hilo> hechos;
        {
            std::lock_guard l(m);
            for (auto it = hilos.begin(); it != hilos.end();) {
                auto sig = std::next(it);
                if (it->fin && it->t.joinable()) hechos.splice(hechos.end(), hilos, it);
                it = sig;
            }
        }
        for (auto& h : hechos) h.t.join();
    }
    int cuantos(int grupo) const {
        int n = 0;
        for (auto& h : hilos)
            if (!h.fin && (grupo < 0 || h.grupo == grupo)) ++n;
        return n;
    }
};

Hilos::Hilos(Cola* recogida) : e_(std::make_shared<Estado>()) { e_->recogida = recogida; }

Hilos::~Hilos() {
    std::list<Estado::Hilo> todos;
    {
        std::lock_guard l(e_->m);
        todos.swap(e_->hilos);
    }
    for (auto& h : todos)
        if (h.t.joinable()) h.t.join();
}

bool Hilos::lanzar(int grupo, std::function<void()> fn) {
    if (!e_->recogida) e_->recoger();
    std::lock_guard l(e_->m);
    auto& h = e_->hilos.emplace_back(Estado::Hilo{grupo, false, {}});
    auto it = std::prev(e_->hilos.end());
    try {
        // The thread keeps only a weak hold: the owner joins it before the state goes.
        h.t = std::thread([w = std::weak_ptr<Estado>(e_), it, fn = std::move(fn)] {
            fn();
            auto e = w.lock();
            if (!e) return;
            {
                std::lock_guard l(e->m);
                it->fin = true;
            }
            e->cv.notify_all();
            if (e->recogida) e->recogida->asincrono([w] {
                if (auto e = w.lock()) e->recoger();
            });
        });
    } catch (const std::system_error&) {
        e_->hilos.erase(it);
        return false;
    }
    return true;
}

bool Hilos::esperar(double segundos, int grupo) {
    bool listo;
    {
        std::unique_lock l(e_->m);
        listo = e_->cv.wait_for(l, std::chrono::duration<double>(segundos), [&] { return e_->cuantos(grupo) == 0; });
    }
    e_->recoger();
    return listo;
}

int Hilos::enCurso(int grupo) const {
    std::lock_guard l(e_->m);
    return e_->cuantos(grupo);
}

}  // namespace tt
