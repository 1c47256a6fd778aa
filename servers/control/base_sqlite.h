#pragma once

// The service's SQLite file: one connection, used under the base's lock, in WAL mode.

#include "base.h"

#include <filesystem>
#include <optional>

struct sqlite3;

namespace tt::control {

class BaseSqlite : public Base {
public:
    // Opens or creates the file (0600 from creation), its tables made or brought up to date; an
    // error text when it cannot.
    static std::optional<std::string> abrir(const std::filesystem::path& ruta, std::unique_ptr<Base>& b);
    ~BaseSqlite() override;

    std::unique_ptr<Sentencia> preparar(std::string_view sql) override;
    void ejecutar(std::string_view sql) override;
    std::string_view comienzo() const override { return "BEGIN IMMEDIATE"; }

private:
    BaseSqlite() = default;
    sqlite3* db_ = nullptr;
};

}  // namespace tt::control
