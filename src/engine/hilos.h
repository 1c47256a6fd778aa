#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tt {

class Cola;

// Joinable owner of short-lived threads (an encoder's watcher, an output reader, a handover's
// audio opener). Each thread is joined soon after it ends: on `recogida` when one is given, else
// at the next lanzar or esperar; the destructor joins every one still running, so none outlives
// its owner. Threads are grouped (one group per transmission) so a stop can wait for its own.
// Owner: its own lock. Never destroyed from one of its threads; `recogida` must outlive it.
class Hilos {
public:
    explicit Hilos(Cola* recogida = nullptr);
    ~Hilos();
    Hilos(const Hilos&) = delete;
    Hilos& operator=(const Hilos&) = delete;

    // Starts fn on a new thread; false (and fn never runs) when no thread could be made.
    bool lanzar(int grupo, std::function<void()> fn);
    // Waits until no thread of that group (every group when negative) runs, joining them; true
    // when none is left within that time.
    bool esperar(double segundos, int grupo = -1);
    int enCurso(int grupo = -1) const;

    struct Estado;

private:
    std::shared_ptr<Estado> e_;
};

}  // namespace tt
