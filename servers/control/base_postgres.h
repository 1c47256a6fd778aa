#pragma once

// The service's data in a PostgreSQL database, shared by every instance that names it. One
// connection per instance, used under the base's lock; tables made or brought up to date at start,
// one instance at a time.

#include "base.h"

#include <map>
#include <optional>

struct pg_conn;

namespace tt::control {

bool esConexionPostgres(std::string_view donde);

class BasePostgres : public Base {
public:
    // An error text when it cannot connect or make its tables, or when the address holds a password
    // (it would be seen in the process list).
    static std::optional<std::string> abrir(const std::string& conexion, std::unique_ptr<BasePostgres>& b);
    ~BasePostgres() override;

    std::unique_ptr<Sentencia> preparar(std::string_view sql) override;
    void ejecutar(std::string_view sql) override;
    std::string_view comienzo() const override { return "BEGIN"; }

    // A notice to every instance listening on `canal` (this one too), once the statement ends.
    // Under the base's lock.
    void difundir(const std::string& canal, const std::string& texto);

    static constexpr int versionEsquema = 1;

private:
    friend class SentenciaPostgres;
    BasePostgres() = default;
    // The connection, reopened when it was lost (never inside a transaction: what ran before the
    // loss is gone, so the transaction fails).
    pg_conn* conexion();
    // The name of `sql` (with `$n` for its values) prepared on this connection.
    const std::string& preparada(const std::string& sql);
    std::optional<std::string> migrar();

    pg_conn* c_ = nullptr;
    bool enTransaccion_ = false;
    std::map<std::string, std::string> preparadas_;
};

// `?` → `$1`, `$2`… outside quoted text.
std::string conNumeros(std::string_view sql);

}  // namespace tt::control
