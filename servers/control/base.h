#pragma once

// Where the service keeps accounts, codes, tokens, balances, pairing tokens, permissions, relays
// and reports: a SQLite file (one instance) or a PostgreSQL database (any number of instances).
// Both take the same statements: `?` for each value, bound in order, and SQL that both dialects
// read (upserts with ON CONFLICT, CASE instead of two-argument max).

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tt::control {

// A statement that did not run (disk full, damaged file, the server gone): the request gets a 500.
struct FalloBase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One statement as a store runs it: values bound in order, then its rows.
class Sentencia {
public:
    virtual ~Sentencia() = default;
    virtual void con(std::string_view v) = 0;
    virtual void con(long long v) = 0;
    virtual void con(double v) = 0;
    virtual bool fila() = 0;  // runs it on the first call; the next row, false when done
    virtual std::string texto(int col) = 0;
    virtual long long entero(int col) = 0;
    virtual double real(int col) = 0;
};

// Owner: whoever holds `candado()`; the connection itself is shared by every thread.
class Base {
public:
    virtual ~Base() = default;
    std::mutex& candado() { return candado_; }
    virtual std::unique_ptr<Sentencia> preparar(std::string_view sql) = 0;
    virtual void ejecutar(std::string_view sql) = 0;  // fixed statements only (no values)
    // The start of a transaction that holds what it reads until it ends (rows it updates stay
    // locked against other instances).
    virtual std::string_view comienzo() const = 0;

protected:
    Base() = default;

private:
    std::mutex candado_;
};

// A prepared statement, with its values bound by position.
class Sql {
public:
    Sql(Base& b, std::string_view sql) : s_(b.preparar(sql)) {}
    Sql& con(std::string_view v) {
        s_->con(v);
        return *this;
    }
    Sql& con(long long v) {
        s_->con(v);
        return *this;
    }
    Sql& con(int v) { return con((long long)v); }
    Sql& con(double v) {
        s_->con(v);
        return *this;
    }
    template <class... A>
    Sql& valores(const A&... a) {
        (con(a), ...);
        return *this;
    }
    bool fila() { return s_->fila(); }
    void correr() {
        while (fila()) {
        }
    }
    std::string texto(int col) { return s_->texto(col); }
    long long entero(int col) { return s_->entero(col); }
    double real(int col) { return s_->real(col); }

private:
    std::unique_ptr<Sentencia> s_;
};

// A transaction that rolls back unless confirmed.
class Transaccion {
public:
    explicit Transaccion(Base& b) : b_(b) { b_.ejecutar(b_.comienzo()); }
    ~Transaccion() {
        if (hecha_) return;
        try {
            b_.ejecutar("ROLLBACK");
        } catch (const FalloBase&) {
        }
    }
    Transaccion(const Transaccion&) = delete;
    Transaccion& operator=(const Transaccion&) = delete;
    void confirmar() {
        b_.ejecutar("COMMIT");
        hecha_ = true;
    }

private:
    Base& b_;
    bool hecha_ = false;
};

}  // namespace tt::control
