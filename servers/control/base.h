#pragma once

// The service's SQLite file: accounts, codes, tokens, balances, pairing tokens, permissions and
// reports. One connection, used under one lock; every statement is prepared and its values bound.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tt::control {

// A statement that did not run (disk full, damaged file): the request gets a 500.
struct FalloBase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Base;

// One prepared statement; values are bound by position, from 1.
class Sql {
public:
    Sql(Base& b, std::string_view sql);
    ~Sql();
    Sql(const Sql&) = delete;
    Sql& operator=(const Sql&) = delete;

    Sql& con(std::string_view v);
    Sql& con(long long v);
    Sql& con(int v) { return con((long long)v); }
    Sql& con(double v);
    template <class... A>
    Sql& valores(const A&... a) {
        (con(a), ...);
        return *this;
    }
    bool fila();   // the next row, false when done
    void correr();  // runs to the end
    std::string texto(int col);
    long long entero(int col);
    double real(int col);

private:
    Base& b_;
    sqlite3_stmt* s_ = nullptr;
    int n_ = 0;
};

// Owner: whoever holds `candado()`; the connection itself is safe to share between threads.
class Base {
public:
    // Opens or creates the file (0600 from creation, WAL); an error text when it cannot.
    static std::optional<std::string> abrir(const std::filesystem::path& ruta, std::unique_ptr<Base>& b);
    ~Base();
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    std::mutex& candado() { return candado_; }
    void ejecutar(std::string_view sql);  // fixed statements only (no values)
    sqlite3* db() { return db_; }
    long long cambios();

private:
    Base() = default;
    sqlite3* db_ = nullptr;
    std::mutex candado_;
};

// A transaction that rolls back unless confirmed.
class Transaccion {
public:
    explicit Transaccion(Base& b);
    ~Transaccion();
    void confirmar();

private:
    Base& b_;
    bool hecha_ = false;
};

}  // namespace tt::control
