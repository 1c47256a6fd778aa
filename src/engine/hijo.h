#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt {

class Hilos;

// One child process with a pipe into its standard input and one out of its standard output; its
// standard error goes to a file. A watcher thread, owned by the caller's Hilos, reports its end
// once and reaps it. Thread-safe.
class Hijo : public std::enable_shared_from_this<Hijo> {
public:
    struct Arranque {
        std::string ejecutable;
        std::vector<std::string> argumentos;  // without the program name
        // File for standard error, made 0600 (it may repeat a URL) and emptied first; when empty or
        // when it cannot be opened, standard error is inherited.
        std::string errores;
        bool anexarErrores = false;           // append to `errores` instead of emptying it
        bool conEntrada = true;               // a pipe into standard input (else /dev/null)
    };

    // Starts the child; nothing and an error text in `error` when it could not start.
    static std::shared_ptr<Hijo> lanzar(const Arranque& a, std::string* error = nullptr);
    // A child nobody watches is ended and reaped here; a watched one is reaped by its watcher.
    ~Hijo();

    pid_t pid() const { return pid_; }
    int entrada() const { return entrada_; }  // write end of standard input, -1 when closed
    int salida() const { return salida_; }    // read end of standard output
    void cerrarEntrada();

    // Called once on a watcher thread (a thread of `hilos`, in `grupo`) with the exit status
    // (128 + signal when killed), after everything the child wrote to standard output was handed
    // to alLeer. The watcher ends with the child.
    void vigilar(Hilos& hilos, int grupo, std::function<void(std::string_view)> alLeer,
                 std::function<void(int)> alTerminar);

    // SIGTERM, then SIGKILL `gracia` seconds later if it has not ended by then (sent by the
    // watcher: a child that is not watched only gets the SIGTERM).
    void terminar(double gracia = 2.0);
    bool terminado() const;
    std::optional<int> esperar(double segundos);  // exit status if it ended within that time

    struct Estado;

private:
    Hijo() = default;
    pid_t pid_ = -1;
    int entrada_ = -1;
    int salida_ = -1;
    std::shared_ptr<Estado> estado_;
};

// Writes all of it, retrying after signals; false (and the reason in `error`) when the reader is
// gone or the write fails.
bool escribirTodo(int fd, const std::uint8_t* datos, std::size_t n, std::string* error);

// A private folder (0700) made for this process in the temporary folder, so nobody else can plant
// a FIFO or a link where the encoder's audio or output goes. Made once; empty on failure.
const std::string& carpetaFifos();
// Makes a new FIFO (0600) there; never reuses an existing path. Empty on failure.
std::string nuevaFifo(const std::string& nombre);

}  // namespace tt
