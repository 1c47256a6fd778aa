#include "base_postgres.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tt::control {

namespace {

// Version 1: the tables of the SQLite file, with 64-bit counts and double-precision times.
const char* esquema1 = R"(
CREATE TABLE cuentas(
  correo TEXT PRIMARY KEY, clave TEXT NOT NULL, sala TEXT NOT NULL UNIQUE,
  verificada INTEGER NOT NULL DEFAULT 0, segundos BIGINT NOT NULL DEFAULT 0,
  integrada INTEGER NOT NULL DEFAULT 0, creada DOUBLE PRECISION NOT NULL);
CREATE TABLE codigos(
  correo TEXT NOT NULL, modo TEXT NOT NULL, resumen TEXT NOT NULL, vence DOUBLE PRECISION NOT NULL,
  fallos INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(correo, modo));
CREATE TABLE registros(
  resumen TEXT PRIMARY KEY, correo TEXT NOT NULL, clave TEXT NOT NULL, vence DOUBLE PRECISION NOT NULL);
CREATE INDEX registros_correo ON registros(correo);
CREATE TABLE pedidos(correo TEXT NOT NULL, en DOUBLE PRECISION NOT NULL, cliente TEXT NOT NULL DEFAULT '');
CREATE INDEX pedidos_correo ON pedidos(correo, en);
CREATE INDEX pedidos_en ON pedidos(en);
CREATE TABLE fallos(correo TEXT NOT NULL, en DOUBLE PRECISION NOT NULL, cliente TEXT NOT NULL DEFAULT '');
CREATE INDEX fallos_correo ON fallos(correo, en);
CREATE INDEX fallos_cliente ON fallos(cliente, en);
CREATE INDEX fallos_en ON fallos(en);
CREATE TABLE fichas(
  resumen TEXT PRIMARY KEY, correo TEXT NOT NULL, tipo TEXT NOT NULL, creada DOUBLE PRECISION NOT NULL,
  usada DOUBLE PRECISION NOT NULL DEFAULT 0);
CREATE INDEX fichas_correo ON fichas(correo, tipo);
CREATE TABLE vinculos(resumen TEXT PRIMARY KEY, sala TEXT NOT NULL, vence DOUBLE PRECISION NOT NULL);
CREATE INDEX vinculos_sala ON vinculos(sala);
CREATE TABLE pases(
  sid TEXT PRIMARY KEY, correo TEXT NOT NULL, sala TEXT NOT NULL, seco INTEGER NOT NULL,
  segundos BIGINT NOT NULL, creado DOUBLE PRECISION NOT NULL, usados BIGINT NOT NULL DEFAULT 0,
  relay TEXT NOT NULL DEFAULT '');
CREATE INDEX pases_creado ON pases(creado);
CREATE TABLE relays(
  direccion TEXT PRIMARY KEY, transmisiones BIGINT NOT NULL DEFAULT 0, visto DOUBLE PRECISION NOT NULL DEFAULT 0);
CREATE TABLE candados(nombre TEXT PRIMARY KEY, n BIGINT NOT NULL DEFAULT 0);
INSERT INTO candados(nombre) VALUES('relays');
CREATE TABLE reportes(
  id BIGSERIAL PRIMARY KEY, correo TEXT NOT NULL, tipo TEXT NOT NULL, nombre TEXT NOT NULL,
  version TEXT NOT NULL, texto TEXT NOT NULL, recibido DOUBLE PRECISION NOT NULL);
CREATE INDEX reportes_correo ON reportes(correo, recibido);
)";

// Any key taken by the instances' advisory lock while they make or migrate the tables.
constexpr long long llaveMigracion = 0x7472656d6f6c;

std::string error(PGconn* c) {
    std::string t = c ? PQerrorMessage(c) : "sin memoria";
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    return t;
}

struct Resultado {
    PGresult* r = nullptr;
    ~Resultado() { PQclear(r); }
};

void revisar(PGconn* c, PGresult* r) {
    const auto e = PQresultStatus(r);
    if (e == PGRES_COMMAND_OK || e == PGRES_TUPLES_OK) return;
    std::string t = r ? PQresultErrorMessage(r) : error(c);
    while (!t.empty() && t.back() == '\n') t.pop_back();
    throw FalloBase(t.empty() ? "error de PostgreSQL" : t);
}

PGconn* conectar(const std::string& conexion) {
    // The address's own settings (last) override these.
    const char* claves[] = {"application_name", "connect_timeout", "dbname", nullptr};
    const char* valores[] = {"tremolante-control", "10", conexion.c_str(), nullptr};
    PGconn* c = PQconnectdbParams(claves, valores, 1);
    // The server's notices ("already exists, skipping") are not the log's business.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    return c;
}

std::optional<std::string> revisarConexion(const std::string& conexion) {
    char* fallo = nullptr;
    PQconninfoOption* o = PQconninfoParse(conexion.c_str(), &fallo);
    if (!o) {
        std::string t = fallo ? fallo : "sin memoria";
        PQfreemem(fallo);
        while (!t.empty() && t.back() == '\n') t.pop_back();
        return "la dirección de la base no se entiende: " + t;
    }
    bool conClave = false;
    for (auto* p = o; p->keyword; ++p)
        if (std::string_view(p->keyword) == "password" && p->val && *p->val) conClave = true;
    PQconninfoFree(o);
    if (conClave)
        return std::string("la dirección de la base lleva una contraseña, que cualquiera vería: póngala en un archivo "
                           "PGPASSFILE o de servicio (permisos 0600) y quítela de la dirección");
    return std::nullopt;
}

}  // namespace

bool esConexionPostgres(std::string_view d) {
    return d.rfind("postgresql://", 0) == 0 || d.rfind("postgres://", 0) == 0;
}


std::string conNumeros(std::string_view sql) {
    std::string r;
    r.reserve(sql.size() + 16);
    int n = 0;
    char comilla = 0;
    for (char ch : sql) {
        if (comilla) {
            if (ch == comilla) comilla = 0;
        } else if (ch == '\'' || ch == '"') {
            comilla = ch;
        } else if (ch == '?') {
            r += '$' + std::to_string(++n);
            continue;
        }
        r += ch;
    }
    return r;
}

class SentenciaPostgres : public Sentencia {
public:
    SentenciaPostgres(BasePostgres& b, std::string_view sql) : b_(b), sql_(conNumeros(sql)) {}
    void con(std::string_view v) override { valores_.emplace_back(v); }
    void con(long long v) override { valores_.push_back(std::to_string(v)); }
    void con(double v) override {
        char t[32];
        std::snprintf(t, sizeof t, "%.17g", v);
        valores_.emplace_back(t);
    }
    bool fila() override {
        if (!r_.r) {
            PGconn* c = b_.conexion();
            const std::string& nombre = b_.preparada(sql_);
            std::vector<const char*> v;
            for (auto& x : valores_) v.push_back(x.c_str());
            r_.r = PQexecPrepared(c, nombre.c_str(), int(v.size()), v.data(), nullptr, nullptr, 0);
            revisar(c, r_.r);
            filas_ = PQntuples(r_.r);
        }
        return ++actual_ < filas_;
    }
    std::string texto(int col) override {
        return std::string(PQgetvalue(r_.r, actual_, col), std::size_t(PQgetlength(r_.r, actual_, col)));
    }
    long long entero(int col) override { return std::strtoll(PQgetvalue(r_.r, actual_, col), nullptr, 10); }
    double real(int col) override { return std::strtod(PQgetvalue(r_.r, actual_, col), nullptr); }

private:
    BasePostgres& b_;
    std::string sql_;
    std::vector<std::string> valores_;
    Resultado r_;
    int filas_ = 0, actual_ = -1;
};

std::optional<std::string> BasePostgres::abrir(const std::string& conexion, std::unique_ptr<BasePostgres>& b) {
    if (auto e = revisarConexion(conexion)) return e;
    std::unique_ptr<BasePostgres> n(new BasePostgres());
    n->c_ = conectar(conexion);
    if (PQstatus(n->c_) != CONNECTION_OK) return "no se pudo conectar con la base: " + error(n->c_);
    if (auto e = n->migrar()) return e;
    b = std::move(n);
    return std::nullopt;
}

BasePostgres::~BasePostgres() { PQfinish(c_); }

std::optional<std::string> BasePostgres::migrar() {
    try {
        Transaccion t(*this);
        // Two instances starting together on an empty base: one makes the tables, the other waits.
        Sql candado(*this, "SELECT pg_advisory_xact_lock(?)");
        candado.valores(llaveMigracion).correr();
        ejecutar("CREATE TABLE IF NOT EXISTS version(numero INTEGER NOT NULL)");
        Sql v(*this, "SELECT coalesce(max(numero), 0) FROM version");
        const long long tiene = v.fila() ? v.entero(0) : 0;
        if (tiene > versionEsquema)
            return "la base es de una versión más nueva del servicio (esquema " + std::to_string(tiene) +
                   "); actualice el servicio";
        if (tiene < 1) ejecutar(esquema1);
        if (tiene < versionEsquema) {
            ejecutar("DELETE FROM version");
            Sql n(*this, "INSERT INTO version(numero) VALUES(?)");
            n.valores(versionEsquema).correr();
        }
        t.confirmar();
    } catch (const FalloBase& e) {
        return std::string("no se pudieron preparar las tablas de la base: ") + e.what();
    }
    return std::nullopt;
}

PGconn* BasePostgres::conexion() {
    if (PQstatus(c_) == CONNECTION_OK) return c_;
    if (enTransaccion_) throw FalloBase("se perdió la conexión con la base");
    preparadas_.clear();
    PQreset(c_);
    if (PQstatus(c_) != CONNECTION_OK) throw FalloBase("sin conexión con la base: " + error(c_));
    return c_;
}

const std::string& BasePostgres::preparada(const std::string& sql) {
    auto it = preparadas_.find(sql);
    if (it != preparadas_.end()) return it->second;
    const std::string nombre = "s" + std::to_string(preparadas_.size());
    Resultado r{PQprepare(c_, nombre.c_str(), sql.c_str(), 0, nullptr)};
    revisar(c_, r.r);
    return preparadas_.emplace(sql, nombre).first->second;
}

std::unique_ptr<Sentencia> BasePostgres::preparar(std::string_view sql) {
    return std::make_unique<SentenciaPostgres>(*this, sql);
}

void BasePostgres::ejecutar(std::string_view sql) {
    if (sql == "COMMIT" || sql == "ROLLBACK") {
        enTransaccion_ = false;
        if (sql == "ROLLBACK" && PQstatus(c_) != CONNECTION_OK) return;  // nothing to undo on a lost connection
    }
    PGconn* c = conexion();
    Resultado r{PQexec(c, std::string(sql).c_str())};
    revisar(c, r.r);
    if (sql.rfind("BEGIN", 0) == 0) enTransaccion_ = true;
}

void BasePostgres::difundir(const std::string& canal, const std::string& texto) {
    Sql n(*this, "SELECT pg_notify(?, ?)");
    n.valores(canal, texto).correr();
}

}  // namespace tt::control
