#pragma once

#include "engine/hilos.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tt {

// The token shared by the engine and one output reader: each field is written by one side only.
struct Lector {
    std::atomic<bool> cortar{false};         // engine: stop before the next tag (or while waiting)
    std::atomic<std::uint32_t> ultimoMs{0};  // reader: time stamp of the last tag handed on
    std::atomic<std::int64_t> primerVideoMs{-1};  // reader: time of the first video frame, -1 before
};

// Where a reader's pieces go. `enviar` may block while the uplink is full (back-pressure reaches
// the encoder through the FIFO); `terminar` may be called more than once.
struct Salida {
    std::function<void(std::string pieza)> enviar;
    std::function<void()> terminar;
    // The encoder wrote something that is not FLV: the reader stopped reading. Reader's thread.
    std::function<void(const std::string& motivo)> alDanar;
};

// One-shot signal: the end of one reader, waited on by the reader that follows it.
class Senal {
public:
    void senalar();
    bool esperar(double segundos);  // true if signalled within that time
    bool senalada();

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool hecha_ = false;
};

// The output readers of the engine: one thread per encoder process reading its output FIFO,
// their numbering (the last one started is the one whose end ends the uplink) and the order between
// consecutive readers (a handover's reader waits for the previous one's end before handing on).
// Owner: its own lock, never held while reading, sending or waiting (readers never take the
// engine's lock). The reader threads are its own: each is joined once it ends (on `recogida` when
// given), and the destructor cuts the ones still running and joins them.
class Lectores {
public:
    explicit Lectores(double esperaAnterior = 8.0, Cola* recogida = nullptr);
    // Cuts every reader still running and waits for them to end (each ends its uplink if
    // current): a reader blocked handing a piece to its uplink holds this up until that uplink ends.
    ~Lectores();
    Lectores(const Lectores&) = delete;
    Lectores& operator=(const Lectores&) = delete;

    // Starts a reader for the output FIFO at `ruta` on a new thread and makes it the current one.
    // `relevo` false: the first encoder of a transmission (its file header is handed on).
    // `relevo` true: a handover's encoder: its file header is dropped and its first bytes wait (at
    // most esperaAnterior seconds) for the end of the reader that was current until now.
    // The reader deletes the FIFO when it ends. Never blocks for long (it makes a thread).
    std::shared_ptr<Lector> arrancar(const std::string& ruta, Salida salida, bool relevo);

    std::shared_ptr<Lector> actual() const;  // the current reader's token, none before the first
    int serie() const;                       // number given to the last reader started
    int vigente() const;                     // number of the reader whose end ends the uplink

    void cortarTodos();                      // every reader stops at its next tag boundary
    // The tokens of the readers running now, so that a later cut reaches only these (not the
    // readers of a transmission started in the meantime).
    std::vector<std::shared_ptr<Lector>> enMarcha() const;
    bool esperar(double segundos);           // true once no reader thread is left (all joined)
    int enCurso() const;                     // reader threads still running

    struct Estado;

private:
    std::shared_ptr<Estado> e_;
    Hilos hilos_;  // last: joined before anything the readers use goes
};

}  // namespace tt
