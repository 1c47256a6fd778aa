#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// One child process with a pipe into its standard input and one out of its standard output; its
// standard error goes to a file. A watcher thread reports its end once. Thread-safe.
class Hijo : public std::enable_shared_from_this<Hijo> {
public:
    struct Arranque {
        std::string ejecutable;
        std::vector<std::string> argumentos;  // without the program name
        std::string errores;                  // file for standard error, emptied first; empty: inherited
        bool anexarErrores = false;           // append to `errores` instead of emptying it
        bool conEntrada = true;               // a pipe into standard input (else /dev/null)
    };

    // Starts the child; nothing and an error text in `error` when it could not start.
    static std::shared_ptr<Hijo> lanzar(const Arranque& a, std::string* error = nullptr);
    ~Hijo();

    pid_t pid() const { return pid_; }
    int entrada() const { return entrada_; }  // write end of standard input, -1 when closed
    int salida() const { return salida_; }    // read end of standard output
    void cerrarEntrada();

    // Called once on a watcher thread with the exit status (128 + signal when killed), after
    // everything the child wrote to standard output was handed to alLeer.
    void vigilar(std::function<void(std::string_view)> alLeer, std::function<void(int)> alTerminar);

    // SIGTERM, then SIGKILL `gracia` seconds later if it has not ended by then.
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

// Whether this ffmpeg can put AV1 into FLV (checked once per process with a one-frame encode).
bool av1EnFlv(const std::string& ffmpeg);

}  // namespace tt
