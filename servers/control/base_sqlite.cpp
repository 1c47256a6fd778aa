#include "base_sqlite.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tt::control {

namespace {

const char* esquema = R"(
CREATE TABLE IF NOT EXISTS cuentas(
  correo TEXT PRIMARY KEY, clave TEXT NOT NULL, sala TEXT NOT NULL UNIQUE,
  verificada INTEGER NOT NULL DEFAULT 0, segundos INTEGER NOT NULL DEFAULT 0,
  integrada INTEGER NOT NULL DEFAULT 0, creada REAL NOT NULL);
CREATE TABLE IF NOT EXISTS codigos(
  correo TEXT NOT NULL, modo TEXT NOT NULL, resumen TEXT NOT NULL, vence REAL NOT NULL,
  fallos INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(correo, modo));
CREATE TABLE IF NOT EXISTS registros(
  resumen TEXT PRIMARY KEY, correo TEXT NOT NULL, clave TEXT NOT NULL, vence REAL NOT NULL);
CREATE INDEX IF NOT EXISTS registros_correo ON registros(correo);
CREATE TABLE IF NOT EXISTS pedidos(correo TEXT NOT NULL, en REAL NOT NULL);
CREATE INDEX IF NOT EXISTS pedidos_correo ON pedidos(correo, en);
CREATE TABLE IF NOT EXISTS fallos(correo TEXT NOT NULL, en REAL NOT NULL);
CREATE INDEX IF NOT EXISTS fallos_correo ON fallos(correo, en);
CREATE TABLE IF NOT EXISTS fichas(
  resumen TEXT PRIMARY KEY, correo TEXT NOT NULL, tipo TEXT NOT NULL, creada REAL NOT NULL,
  usada REAL NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS fichas_correo ON fichas(correo, tipo);
CREATE TABLE IF NOT EXISTS vinculos(resumen TEXT PRIMARY KEY, sala TEXT NOT NULL, vence REAL NOT NULL);
CREATE TABLE IF NOT EXISTS pases(
  sid TEXT PRIMARY KEY, correo TEXT NOT NULL, sala TEXT NOT NULL, seco INTEGER NOT NULL,
  segundos INTEGER NOT NULL, creado REAL NOT NULL, usados INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS relays(
  direccion TEXT PRIMARY KEY, transmisiones INTEGER NOT NULL DEFAULT 0, visto REAL NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS candados(nombre TEXT PRIMARY KEY, n INTEGER NOT NULL DEFAULT 0);
INSERT OR IGNORE INTO candados(nombre) VALUES('relays');
CREATE TABLE IF NOT EXISTS reportes(
  id INTEGER PRIMARY KEY, correo TEXT NOT NULL, tipo TEXT NOT NULL, nombre TEXT NOT NULL,
  version TEXT NOT NULL, texto TEXT NOT NULL, recibido REAL NOT NULL);
)";

class SentenciaSqlite : public Sentencia {
public:
    SentenciaSqlite(sqlite3* db, std::string_view sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &s_, nullptr) != SQLITE_OK)
            throw FalloBase(sqlite3_errmsg(db));
    }
    ~SentenciaSqlite() override { sqlite3_finalize(s_); }
    void con(std::string_view v) override { sqlite3_bind_text(s_, ++n_, v.data(), int(v.size()), SQLITE_TRANSIENT); }
    void con(long long v) override { sqlite3_bind_int64(s_, ++n_, v); }
    void con(double v) override { sqlite3_bind_double(s_, ++n_, v); }
    bool fila() override {
        const int r = sqlite3_step(s_);
        if (r == SQLITE_ROW) return true;
        if (r == SQLITE_DONE) return false;
        throw FalloBase(sqlite3_errmsg(db_));
    }
    std::string texto(int col) override {
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
        return p ? std::string(p, std::size_t(sqlite3_column_bytes(s_, col))) : std::string();
    }
    long long entero(int col) override { return sqlite3_column_int64(s_, col); }
    double real(int col) override { return sqlite3_column_double(s_, col); }

private:
    sqlite3* db_;
    sqlite3_stmt* s_ = nullptr;
    int n_ = 0;
};

}  // namespace

std::optional<std::string> BaseSqlite::abrir(const std::filesystem::path& ruta, std::unique_ptr<Base>& b) {
    // Created 0600 here, before SQLite opens it; its journal files take the same mode.
    int fd = ::open(ruta.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return "no se pudo abrir " + ruta.string() + ": " + std::strerror(errno);
    struct stat st{};
    const bool privado = ::fstat(fd, &st) == 0 && (st.st_mode & 077) == 0;
    ::close(fd);
    if (!privado) return "otros usuarios pueden leer " + ruta.string() + "; déjelo en 0600 (chmod 600)";
    std::unique_ptr<BaseSqlite> n(new BaseSqlite());
    if (sqlite3_open_v2(ruta.c_str(), &n->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK)
        return "no se pudo abrir la base " + ruta.string() + ": " + (n->db_ ? sqlite3_errmsg(n->db_) : "sin memoria");
    sqlite3_busy_timeout(n->db_, 5000);
    try {
        Sql modo(*n, "PRAGMA journal_mode=WAL");
        if (!modo.fila() || modo.texto(0) != "wal") return "la base " + ruta.string() + " no acepta el modo WAL";
        n->ejecutar("PRAGMA synchronous=NORMAL");
        n->ejecutar("PRAGMA foreign_keys=ON");
        n->ejecutar(esquema);
        // Columns that bases made by earlier versions lack.
        for (auto [tabla, columna, definicion] : {std::tuple{"fichas", "usada", "REAL NOT NULL DEFAULT 0"},
                                                  {"pedidos", "cliente", "TEXT NOT NULL DEFAULT ''"},
                                                  {"fallos", "cliente", "TEXT NOT NULL DEFAULT ''"},
                                                  {"pases", "relay", "TEXT NOT NULL DEFAULT ''"}}) {
            Sql hay(*n, "SELECT count(*) FROM pragma_table_info(?) WHERE name = ?");
            hay.valores(std::string(tabla), std::string(columna));
            if (hay.fila() && hay.entero(0) == 0)
                n->ejecutar(std::string("ALTER TABLE ") + tabla + " ADD COLUMN " + columna + " " + definicion);
        }
        n->ejecutar("CREATE INDEX IF NOT EXISTS fallos_cliente ON fallos(cliente, en)");
        n->ejecutar("CREATE INDEX IF NOT EXISTS pases_creado ON pases(creado)");
    } catch (const FalloBase& e) {
        return "la base " + ruta.string() + " está dañada o no es una base: " + e.what();
    }
    b = std::move(n);
    return std::nullopt;
}

BaseSqlite::~BaseSqlite() {
    if (db_) sqlite3_close_v2(db_);
}

std::unique_ptr<Sentencia> BaseSqlite::preparar(std::string_view sql) {
    return std::make_unique<SentenciaSqlite>(db_, sql);
}

void BaseSqlite::ejecutar(std::string_view sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string t = error ? error : "error";
        sqlite3_free(error);
        throw FalloBase(t);
    }
}

}  // namespace tt::control
