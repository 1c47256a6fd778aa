#pragma once

// The open-transmission record on disk and the short conversation with the relay about it.

#include "cuenta/sesion_guardada.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace tt::pendiente {

namespace fs = std::filesystem;

fs::path archivo();  // sesion.json in the data folder
// Nothing when the file is missing, not a plain file, too large or does not decode.
std::optional<SesionGuardada> leer(const fs::path& ruta = archivo());
// Writes the record for this permission unless the file already holds its sid (the first
// `inicio` stays). 0600 from creation, replaced atomically.
void guardar(const SesionGuardada& s, const fs::path& ruta = archivo());
// With a sid: only when the file decodes and holds that sid. Errors ignored.
void borrar(const std::optional<std::string>& sid, const fs::path& ruta = archivo());
// Rewrites the record of this sid with `detenida`; false when the file holds another or none.
bool marcarDetenida(const std::string& sid, const fs::path& ruta = archivo());
void tocar(const fs::path& ruta = archivo());  // a sign of life: the modification time is now
// Seconds since the last sign of life; +infinity without a file.
double silencioDe(const fs::path& ruta = archivo());
double ahoraPared();  // seconds since 1970

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
    void hablar(const SesionGuardada& s, const std::string& tipo,
                std::function<void(std::optional<std::string>)> alTerminar, double limite = 7);

private:
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guardia_;
    std::thread hilo_;
};

}  // namespace tt::pendiente
