#include "cuentas.h"

#include "clave.h"

#include "comun/cripto.h"
#include "comun/permiso.h"
#include "protocolo/protocolo.h"

#include <openssl/rand.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace tt::control {

namespace {

const char* sinSesion = "Tu sesión ya no es válida. Vuelve a iniciar sesión.";
constexpr std::size_t maxReporte = 128u << 10;
constexpr long long reportesPorHora = 10;
constexpr double vidaRegistros = 90 * 86400.0;  // reports, permissions and unused tokens last this long

std::optional<std::string> texto(const Json& c, const char* k) {
    auto it = c.find(k);
    if (it == c.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// Trimmed and lower-cased, as the app sends it; nothing when it cannot be an address (a blank or a
// line break would also reach the mail's headers).
std::optional<std::string> correoValido(std::string s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(0, 1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    for (auto& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    const auto arroba = s.find('@');
    if (s.size() > 254 || arroba == std::string::npos || arroba == 0 || s.find('.', arroba) == std::string::npos)
        return std::nullopt;
    for (unsigned char ch : s)
        if (ch <= ' ' || ch == 0x7F || ch == '<' || ch == '>' || ch == ',' || ch == ';') return std::nullopt;
    return s;
}

std::string seisDigitos() {
    for (;;) {
        unsigned char b[4];
        if (RAND_bytes(b, 4) != 1) throw FalloBase("sin fuente de azar");
        const std::uint32_t v = std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
        if (v >= 4294000000u) continue;  // no bias towards small codes
        char t[8];
        std::snprintf(t, sizeof t, "%06u", unsigned(v % 1000000));
        return t;
    }
}

std::string resumenCodigo(const std::string& correo, const std::string& modo, const std::string& codigo) {
    return sha256Hex(correo + "|" + modo + "|" + codigo);
}

int contarCelulares(Base& b, const std::string& correo) {
    Sql q(b, "SELECT count(*) FROM fichas WHERE correo = ? AND tipo = 'celular'");
    q.valores(correo);
    return q.fila() ? int(q.entero(0)) : 0;
}

}  // namespace

Respuesta fallo(int estado, const std::string& t) { return {estado, Json{{"error", t}}}; }

Cuentas::Cuentas(Base& b, Ajustes a) : b_(b), a_(std::move(a)) {}

Respuesta Cuentas::atender(std::string_view ruta, const Json& c, double ahora, const std::string& cliente) {
    try {
        if (ruta == "/registro") return registrar(c, ahora, cliente);
        if (ruta == "/codigo") return pedirCodigo(c, ahora, cliente);
        if (ruta == "/verificar") return verificar(c, ahora, "verificar", cliente);
        if (ruta == "/entrar") return verificar(c, ahora, "entrar", cliente);
        if (ruta == "/clave") return conClave(c, ahora, cliente);
        if (ruta == "/restablecer") return restablecer(c, ahora, cliente);
        if (ruta == "/saldo") return saldo(c, ahora);
        if (ruta == "/pase") return pase(c, ahora);
        if (ruta == "/salir") return salir(c, ahora);
        if (ruta == "/reporte") return reporte(c, ahora);
        if (ruta == "/vinculo") return entrarConVinculo(c, ahora);
        return fallo(404, "No existe esa dirección.");
    } catch (const FalloBase& e) {
        anotar(std::string("control: la base falló: ") + e.what());
        return fallo(500, "El servicio tuvo un problema. Inténtalo de nuevo en un momento.");
    }
}

Respuesta Cuentas::registrar(const Json& c, double ahora, const std::string& cliente) {
    auto correo = correoValido(texto(c, "correo").value_or(""));
    auto clave = texto(c, "clave");
    if (!correo) return fallo(400, "Escribe un correo válido.");
    if (!clave) return fallo(400, "Escribe una contraseña.");
    if (auto f = faltaEnClave(*clave); !f.empty()) return fallo(400, f);
    const std::string resumen = resumirClave(*clave);  // slow: outside the lock
    if (resumen.empty()) return fallo(500, "El servicio tuvo un problema. Inténtalo de nuevo en un momento.");
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql q(b_, "SELECT verificada FROM cuentas WHERE correo = ?");
        q.valores(*correo);
        if (q.fila()) {
            if (q.entero(0)) return fallo(409, "Ya existe una cuenta con ese correo. Inicia sesión.");
        } else {
            // No password until the address is proven: the one of the registration whose code is
            // typed (registrar again for an unverified address leaves the others' passwords aside).
            Sql n(b_, "INSERT INTO cuentas(correo, clave, sala, segundos, creada) VALUES(?, '', ?, ?, ?) "
                      "ON CONFLICT DO NOTHING");
            n.valores(*correo, azarHex(8), a_.prueba ? a_.saldoInicial : 0ll, ahora).correr();
            anotar("control: cuenta nueva " + *correo);
        }
        t.confirmar();
    }
    Json r{{"ok", true}};
    if (auto f = emitirCodigo(*correo, "verificar", ahora, cliente, r, resumen)) return *f;
    return {200, r};
}

Respuesta Cuentas::pedirCodigo(const Json& c, double ahora, const std::string& cliente) {
    auto correo = correoValido(texto(c, "correo").value_or(""));
    const std::string modo = texto(c, "modo").value_or("entrar");
    if (!correo) return fallo(400, "Escribe un correo válido.");
    if (modo != "entrar" && modo != "recuperar") return fallo(400, "Modo de código desconocido.");
    bool hay = false;
    {
        std::lock_guard l(b_.candado());
        Sql q(b_, "SELECT 1 FROM cuentas WHERE correo = ?");
        q.valores(*correo);
        hay = q.fila();
    }
    Json r{{"ok", true}};
    // The same answer either way: nobody learns from it which addresses have an account.
    if (!hay) return {200, r};
    if (auto f = emitirCodigo(*correo, modo, ahora, cliente, r)) return *f;
    return {200, r};
}

std::optional<Respuesta> Cuentas::emitirCodigo(const std::string& correo, const std::string& modo, double ahora,
                                               const std::string& cliente, Json& respuesta, const std::string& clave) {
    const std::string codigo = seisDigitos();
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql viejos(b_, "DELETE FROM pedidos WHERE en < ?");
        viejos.valores(ahora - 3600).correr();
        // Counted per address too, so a stranger asking codes for someone cannot use up theirs.
        Sql cuantos(b_, "SELECT count(*), coalesce(sum(CASE WHEN cliente = ? THEN 1 ELSE 0 END), 0) FROM pedidos "
                        "WHERE correo = ?");
        cuantos.valores(cliente, correo);
        if (cuantos.fila() && (cuantos.entero(1) >= a_.codigosPorHora || cuantos.entero(0) >= a_.codigosPorCorreo))
            return fallo(429, "Pediste demasiados códigos. Espera un rato y vuelve a intentarlo.");
        Sql p(b_, "INSERT INTO pedidos(correo, en, cliente) VALUES(?, ?, ?)");
        p.valores(correo, ahora, cliente).correr();
        Sql q(b_, "INSERT INTO codigos(correo, modo, resumen, vence, fallos) VALUES(?, ?, ?, ?, 0) "
                  "ON CONFLICT(correo, modo) DO UPDATE SET resumen = excluded.resumen, vence = excluded.vence, fallos = 0");
        q.valores(correo, modo, resumenCodigo(correo, modo, codigo), ahora + a_.vidaCodigo).correr();
        if (!clave.empty()) {
            Sql viejos(b_, "DELETE FROM registros WHERE vence < ?");
            viejos.valores(ahora).correr();
            Sql r(b_, "INSERT INTO registros(resumen, correo, clave, vence) VALUES(?, ?, ?, ?) ON CONFLICT(resumen) "
                      "DO UPDATE SET correo = excluded.correo, clave = excluded.clave, vence = excluded.vence");
            r.valores(resumenCodigo(correo, modo, codigo), correo, clave, ahora + a_.vidaCodigo).correr();
        }
        t.confirmar();
    }
    if (a_.prueba) {
        anotar("control: código de prueba para " + correo + " (" + modo + "): " + codigo);
        respuesta["codigo"] = codigo;
        return std::nullopt;
    }
    if (!alMandar) return fallo(500, "El servicio no puede mandar correos.");
    if (auto e = alMandar(correo, codigo, modo)) {
        anotar("control: no se pudo mandar el código a " + correo + ": " + *e);
        return fallo(502, "No pudimos mandarte el correo. Inténtalo de nuevo en un momento.");
    }
    anotar("control: código mandado a " + correo + " (" + modo + ")");
    return std::nullopt;
}

std::optional<Respuesta> Cuentas::frenar(const std::string& cliente, double ahora) {
    Sql viejos(b_, "DELETE FROM fallos WHERE en < ?");
    viejos.valores(ahora - 900).correr();
    Sql q(b_, "SELECT count(*), coalesce(sum(CASE WHEN cliente = ? THEN 1 ELSE 0 END), 0) FROM fallos");
    q.valores(cliente);
    if (!q.fila()) return std::nullopt;
    const long long todos = q.entero(0), suyos = q.entero(1);
    // Under a crowd of guessers, only addresses that failed a few times wait: the others, an
    // owner typing the right code among them, go on.
    if (suyos >= a_.fallosPorCliente || (todos >= a_.fallosTodos && suyos >= 3))
        return fallo(429, "Demasiados intentos fallidos desde tu conexión. Espera unos minutos.");
    return std::nullopt;
}

void Cuentas::fallar(const std::string& correo, const std::string& cliente, double ahora) {
    Sql f(b_, "INSERT INTO fallos(correo, en, cliente) VALUES(?, ?, ?)");
    f.valores(correo, ahora, cliente).correr();
}

std::optional<Respuesta> Cuentas::revisarCodigo(const std::string& correo, const std::string& modo,
                                                const std::string& codigo, double ahora, const std::string& cliente,
                                                std::string* clave) {
    std::lock_guard l(b_.candado());
    Transaccion t(b_);
    if (auto f = frenar(cliente, ahora)) {
        t.confirmar();
        return f;
    }
    // The code's row stays locked to the end, so two instances checking it at once count both tries
    // and only one of them can use it.
    Sql bloqueo(b_, "UPDATE codigos SET fallos = fallos WHERE correo = ? AND modo = ?");
    bloqueo.valores(correo, modo).correr();
    Sql q(b_, "SELECT resumen, vence, fallos FROM codigos WHERE correo = ? AND modo = ?");
    q.valores(correo, modo);
    if (!q.fila()) {  // a guess all the same
        fallar(correo, cliente, ahora);
        t.confirmar();
        return fallo(400, "No hay un código pendiente para ese correo. Pide uno nuevo.");
    }
    const std::string resumen = q.texto(0);
    const double vence = q.real(1);
    const long long fallos = q.entero(2);
    if (fallos >= a_.intentosCodigo)
        return fallo(400, "Ese código ya no sirve: hubo demasiados intentos. Pide uno nuevo.");
    if (vence < ahora) return fallo(400, "El código venció. Pide uno nuevo.");
    const std::string escrito = resumenCodigo(correo, modo, codigo);
    bool bien = protocolo::igualesSeguro(resumen, escrito);
    // Each registration of an address not yet proven has its own code: an earlier one still
    // counts, and it brings its own password.
    Sql r(b_, "SELECT clave FROM registros WHERE resumen = ? AND correo = ? AND vence >= ?");
    r.valores(escrito, correo, ahora);
    if (r.fila()) {
        bien = true;
        if (clave) *clave = r.texto(0);
    }
    if (!bien) {
        Sql u(b_, "UPDATE codigos SET fallos = fallos + 1 WHERE correo = ? AND modo = ?");
        u.valores(correo, modo).correr();
        fallar(correo, cliente, ahora);
        t.confirmar();
        if (fallos + 1 >= a_.intentosCodigo)
            return fallo(400, "Código incorrecto. Ese código ya no sirve: pide uno nuevo.");
        return fallo(400, "Código incorrecto.");
    }
    Sql d(b_, "DELETE FROM codigos WHERE correo = ? AND modo = ?");
    d.valores(correo, modo).correr();
    t.confirmar();
    return std::nullopt;
}

Respuesta Cuentas::verificar(const Json& c, double ahora, const char* modo, const std::string& cliente) {
    auto correo = correoValido(texto(c, "correo").value_or(""));
    auto codigo = texto(c, "codigo");
    if (!correo) return fallo(400, "Escribe un correo válido.");
    if (!codigo) return fallo(400, "Escribe los 6 dígitos del código.");
    std::string clave;
    if (auto f = revisarCodigo(*correo, modo, *codigo, ahora, cliente, &clave)) return *f;
    Aviso a;
    {
        // The code proves the address: the account is confirmed whichever way it came. The first
        // proof keeps only the password of the registration it belongs to (none when signing in
        // by code) and signs out whatever was signed in before.
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql q(b_, "SELECT verificada, sala FROM cuentas WHERE correo = ?");
        q.valores(*correo);
        if (q.fila() && !q.entero(0)) {
            a.sala = q.texto(1);
            Sql u(b_, "UPDATE cuentas SET verificada = 1, clave = ? WHERE correo = ?");
            u.valores(clave, *correo).correr();
            revocarTodo(*correo, a);
        }
        Sql d(b_, "DELETE FROM registros WHERE correo = ?");
        d.valores(*correo).correr();
        t.confirmar();
    }
    if (!a.sala.empty()) avisar(a);
    return dentro(*correo, texto(c, "tipo").value_or("mac"), ahora);
}

Respuesta Cuentas::conClave(const Json& c, double ahora, const std::string& cliente) {
    auto correo = correoValido(texto(c, "correo").value_or(""));
    auto clave = texto(c, "clave");
    if (!correo || !clave) return fallo(400, "Escribe tu correo y contraseña.");
    std::string guardada;
    bool verificada = false;
    {
        std::lock_guard l(b_.candado());
        // Guessing passwords gets slow: a pause after too many wrong ones for one account from
        // one address (the owner elsewhere is not held up), or from that address in all.
        if (auto f = frenar(cliente, ahora)) return *f;
        Sql cuantos(b_, "SELECT count(*) FROM fallos WHERE correo = ? AND cliente = ?");
        cuantos.valores(*correo, cliente);
        if (cuantos.fila() && cuantos.entero(0) >= a_.fallosClave)
            return fallo(429, "Demasiados intentos. Espera unos minutos o entra con un código.");
        Sql q(b_, "SELECT clave, verificada FROM cuentas WHERE correo = ?");
        q.valores(*correo);
        if (q.fila()) {
            guardada = q.texto(0);
            verificada = q.entero(1) != 0;
        }
    }
    // An unknown address costs the same time as a wrong password.
    static const std::string nadie = resumirClave("nadie");
    const bool bien = claveCorrecta(*clave, guardada.empty() ? nadie : guardada) && !guardada.empty();
    if (!bien) {
        std::lock_guard l(b_.candado());
        fallar(*correo, cliente, ahora);
        return fallo(401, "Correo o contraseña incorrectos.");
    }
    if (!verificada) return fallo(403, "Confirma tu correo con el código que te mandamos.");
    return dentro(*correo, texto(c, "tipo").value_or("mac"), ahora);
}

Respuesta Cuentas::restablecer(const Json& c, double ahora, const std::string& cliente) {
    auto correo = correoValido(texto(c, "correo").value_or(""));
    auto codigo = texto(c, "codigo");
    auto clave = texto(c, "clave");
    if (!correo) return fallo(400, "Escribe un correo válido.");
    if (!codigo || !clave) return fallo(400, "Faltan el código o la contraseña nueva.");
    if (auto f = faltaEnClave(*clave); !f.empty()) return fallo(400, f);
    if (auto f = revisarCodigo(*correo, "recuperar", *codigo, ahora, cliente)) return *f;
    const std::string resumen = resumirClave(*clave);
    if (resumen.empty()) return fallo(500, "El servicio tuvo un problema. Inténtalo de nuevo en un momento.");
    Aviso a;
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql u(b_, "UPDATE cuentas SET clave = ?, verificada = 1 WHERE correo = ?");
        u.valores(resumen, *correo).correr();
        Sql s(b_, "SELECT sala FROM cuentas WHERE correo = ?");
        s.valores(*correo);
        if (s.fila()) a.sala = s.texto(0);
        revocarTodo(*correo, a);
        Sql r(b_, "DELETE FROM registros WHERE correo = ?");
        r.valores(*correo).correr();
        t.confirmar();
    }
    if (!a.sala.empty()) avisar(a);
    anotar("control: contraseña cambiada de " + *correo);
    return dentro(*correo, texto(c, "tipo").value_or("mac"), ahora);
}

// Every device of the account is signed out and its pending phone links void. Under the lock, in a
// transaction; `a.sala` already set.
void Cuentas::revocarTodo(const std::string& correo, Aviso& a) {
    Sql f(b_, "SELECT resumen FROM fichas WHERE correo = ?");
    f.valores(correo);
    while (f.fila()) a.revocadas.push_back(f.texto(0));
    Sql d(b_, "DELETE FROM fichas WHERE correo = ?");
    d.valores(correo).correr();
    Sql v(b_, "DELETE FROM vinculos WHERE sala = ?");
    v.valores(a.sala).correr();
    a.vinculados = 0;
}

Respuesta Cuentas::dentro(const std::string& correo, const std::string& pedido, double ahora) {
    const std::string tipo = pedido == "celular" ? "celular" : "mac";
    const std::string ficha = azarHex(32);
    std::string sala;
    int celulares = 0;
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql s(b_, "SELECT sala FROM cuentas WHERE correo = ?");
        s.valores(correo);
        if (!s.fila()) return fallo(404, "No hay una cuenta con ese correo.");
        sala = s.texto(0);
        Sql n(b_, "INSERT INTO fichas(resumen, correo, tipo, creada) VALUES(?, ?, ?, ?)");
        n.valores(sha256Hex(ficha), correo, tipo, ahora).correr();
        celulares = contarCelulares(b_, correo);
        t.confirmar();
    }
    if (tipo == "celular") avisar({sala, std::nullopt, celulares, {}, std::nullopt});
    return {200, Json{{"correo", correo}, {"sala", sala}, {"ficha", ficha}}};
}

std::optional<Acceso> Cuentas::autorizar(std::string_view sala, std::string_view ficha, double ahora) {
    if (ficha.empty() || ficha.size() > 256 || sala.empty()) return std::nullopt;
    const std::string resumen = sha256Hex(ficha);
    std::lock_guard l(b_.candado());
    Sql q(b_,
          "SELECT f.correo, c.sala, f.tipo, CASE WHEN f.creada > f.usada THEN f.creada ELSE f.usada END "
          "FROM fichas f JOIN cuentas c ON c.correo = f.correo "
          "WHERE f.resumen = ?");
    q.valores(resumen);
    if (!q.fila() || q.texto(1) != sala) return std::nullopt;
    // A token left unused for 90 days is void; one in use stays good (its use noted once an hour).
    const double usada = q.real(3);
    if (usada < ahora - vidaRegistros) {
        Sql d(b_, "DELETE FROM fichas WHERE resumen = ?");
        d.valores(resumen).correr();
        return std::nullopt;
    }
    Acceso a{q.texto(0), q.texto(1), q.texto(2), resumen, 0};
    if (usada < ahora - 3600) {
        Sql u(b_, "UPDATE fichas SET usada = ? WHERE resumen = ?");
        u.valores(ahora, resumen).correr();
    }
    a.vinculados = contarCelulares(b_, a.correo);
    return a;
}

std::optional<Acceso> Cuentas::autenticar(const Json& c, double ahora, bool celularVale) {
    auto sala = texto(c, "sala");
    auto ficha = texto(c, "ficha");
    if (!sala || !ficha) return std::nullopt;
    auto a = autorizar(*sala, *ficha, ahora);
    // A phone's token opens the room's socket, nothing that spends or stores.
    if (a && a->tipo == "celular" && !celularVale) return std::nullopt;
    return a;
}

Respuesta Cuentas::saldo(const Json& c, double ahora) {
    auto a = autenticar(c, ahora);
    if (!a) return fallo(403, sinSesion);
    std::lock_guard l(b_.candado());
    Sql q(b_, "SELECT segundos FROM cuentas WHERE correo = ?");
    q.valores(a->correo);
    if (!q.fila()) return fallo(403, sinSesion);
    return {200, Json{{"segundos", q.entero(0)}, {"servidor", a_.relays.front()}}};
}

Respuesta Cuentas::pase(const Json& c, double ahora) {
    auto a = autenticar(c, ahora);
    if (!a) return fallo(403, sinSesion);
    const std::string destino = texto(c, "destino").value_or("");
    auto s = c.find("seco");
    const bool seco = s != c.end() && s->is_boolean() && s->get<bool>();
    if (destino.empty() && !seco) return fallo(400, "Falta el destino de la transmisión (el canal de Kick).");
    if (!seco)
        if (auto no = destinoRechazado(destino, a_.destinos)) return fallo(400, *no);
    const std::string sid = azarHex(16);
    long long segundos = 0;
    std::string relay;
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql q(b_, "SELECT segundos FROM cuentas WHERE correo = ?");
        q.valores(a->correo);
        if (!q.fila()) return fallo(403, sinSesion);
        segundos = q.entero(0);
        if (segundos <= 0) return fallo(402, "Se terminaron tus horas de transmisión. Escríbenos para cargar más.");
        relay = elegirRelay(ahora);
        Sql n(b_, "INSERT INTO pases(sid, correo, sala, seco, segundos, creado, relay) VALUES(?, ?, ?, ?, ?, ?, ?)");
        n.valores(sid, a->correo, a->sala, seco ? 1 : 0, segundos, ahora, relay).correr();
        t.confirmar();
    }
    Permiso p{sid, a->sala, destino, segundos, ahora + a_.vidaPase, seco, ahora};
    anotar("control: permiso " + sid.substr(0, 8) + " para " + a->correo + " (" + std::to_string(segundos) + " s" +
           (seco ? ", en seco" : "") + ", relay " + relay + ")");
    return {200, Json{{"entrada", relay},
                      {"sid", sid},
                      {"llave", protocolo::llaveDeSid(a_.secreto, sid)},
                      {"pase", sellarPermiso(a_.secreto, p)},
                      {"segundos", segundos}}};
}

// Under the lock, in the permission's transaction. The load of a relay: the transmissions it held
// open at its last report, plus the permissions given for it in the last 10 s (not yet on air, or
// not yet in a report).
std::string Cuentas::elegirRelay(double ahora) {
    if (a_.relays.size() == 1) return a_.relays.front();
    // One choice at a time across every instance: two permissions asked at once see each other.
    Sql bloqueo(b_, "UPDATE candados SET n = n + 1 WHERE nombre = 'relays'");
    bloqueo.correr();
    struct Candidato {
        long long carga = 0;
        bool vivo = false;
    };
    std::map<std::string, Candidato> c;
    Sql q(b_, "SELECT direccion, transmisiones, visto FROM relays");
    while (q.fila())
        if (q.real(2) >= ahora - vidaCarga) c[q.texto(0)] = {q.entero(1), true};
    Sql n(b_, "SELECT relay, count(*) FROM pases WHERE creado > ? GROUP BY relay");
    n.valores(ahora - 10);
    while (n.fila()) c[n.texto(0)].carga += n.entero(1);
    // None heard from lately (the service or every relay just started): all of them, by what was given.
    const bool alguno = std::any_of(a_.relays.begin(), a_.relays.end(), [&](auto& r) { return c[r].vivo; });
    const std::string* mejor = nullptr;
    for (auto& r : a_.relays)
        if ((c[r].vivo || !alguno) && (!mejor || c[r].carga < c[*mejor].carga)) mejor = &r;
    return *mejor;
}

Respuesta Cuentas::salir(const Json& c, double ahora) {
    auto a = autenticar(c, ahora, true);
    if (!a) return {200, Json{{"ok", true}}};  // already out
    int celulares = 0;
    {
        std::lock_guard l(b_.candado());
        Sql d(b_, "DELETE FROM fichas WHERE resumen = ?");
        d.valores(a->resumen).correr();
        celulares = contarCelulares(b_, a->correo);
    }
    avisar({a->sala, std::nullopt, celulares, {a->resumen}, std::nullopt});
    return {200, Json{{"ok", true}}};
}

Respuesta Cuentas::reporte(const Json& c, double ahora) {
    auto a = autenticar(c, ahora);
    if (!a) return fallo(403, sinSesion);
    auto texto_ = texto(c, "texto");
    if (!texto_) return fallo(400, "El reporte no trae texto.");
    if (texto_->size() > maxReporte) return fallo(413, "El reporte es demasiado grande.");
    std::lock_guard l(b_.candado());
    Transaccion t(b_);
    // Old reports and used permissions go; an account sends only a few reports an hour.
    Sql viejos(b_, "DELETE FROM reportes WHERE recibido < ?");
    viejos.valores(ahora - vidaRegistros).correr();
    Sql pases(b_, "DELETE FROM pases WHERE creado < ?");
    pases.valores(ahora - vidaRegistros).correr();
    Sql cuantos(b_, "SELECT count(*) FROM reportes WHERE correo = ? AND recibido >= ?");
    cuantos.valores(a->correo, ahora - 3600);
    if (cuantos.fila() && cuantos.entero(0) >= reportesPorHora)
        return fallo(429, "Ya llegaron varios reportes de esta cuenta hace poco. Inténtalo más tarde.");
    Sql n(b_, "INSERT INTO reportes(correo, tipo, nombre, version, texto, recibido) VALUES(?, ?, ?, ?, ?, ?)");
    n.valores(a->correo, texto(c, "tipo").value_or(""), texto(c, "nombre").value_or(""),
              texto(c, "version").value_or(""), *texto_, ahora)
        .correr();
    t.confirmar();
    return {200, Json{{"ok", true}}};
}

void Cuentas::vincular(const std::string& sala, const std::string& ficha, double ahora) {
    if (ficha.size() < 16 || ficha.size() > 256) return;
    std::lock_guard l(b_.candado());
    Sql viejos(b_, "DELETE FROM vinculos WHERE vence < ?");
    viejos.valores(ahora).correr();
    Sql n(b_, "INSERT INTO vinculos(resumen, sala, vence) VALUES(?, ?, ?) "
              "ON CONFLICT(resumen) DO UPDATE SET sala = excluded.sala, vence = excluded.vence");
    n.valores(sha256Hex(ficha), sala, ahora + a_.vidaVinculo).correr();
}

Respuesta Cuentas::entrarConVinculo(const Json& c, double ahora) {
    auto sala = texto(c, "sala");
    auto ficha = texto(c, "ficha");
    if (!sala || !ficha) return fallo(400, "Faltan datos del enlace.");
    std::string correo;
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql bloqueo(b_, "UPDATE vinculos SET vence = vence WHERE resumen = ?");  // one use, whichever instance
        bloqueo.valores(sha256Hex(*ficha)).correr();
        Sql q(b_, "SELECT v.vence, c.correo FROM vinculos v JOIN cuentas c ON c.sala = v.sala "
                  "WHERE v.resumen = ? AND v.sala = ?");
        q.valores(sha256Hex(*ficha), *sala);
        const bool hay = q.fila();
        if (!hay || q.real(0) < ahora) return fallo(403, "El enlace ya no sirve. Genera otro desde la app de la computadora.");
        correo = q.texto(1);
        Sql d(b_, "DELETE FROM vinculos WHERE resumen = ?");  // one use only
        d.valores(sha256Hex(*ficha)).correr();
        t.confirmar();
    }
    return dentro(correo, "celular", ahora);
}

void Cuentas::desvincular(const std::string& sala) {
    Aviso a{sala, std::nullopt, 0, {}, std::nullopt};
    {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        Sql f(b_, "SELECT f.resumen FROM fichas f JOIN cuentas c ON c.correo = f.correo "
                  "WHERE c.sala = ? AND f.tipo = 'celular'");
        f.valores(sala);
        while (f.fila()) a.revocadas.push_back(f.texto(0));
        Sql d(b_, "DELETE FROM fichas WHERE tipo = 'celular' AND correo IN (SELECT correo FROM cuentas WHERE sala = ?)");
        d.valores(sala).correr();
        Sql v(b_, "DELETE FROM vinculos WHERE sala = ?");  // links not used yet go too
        v.valores(sala).correr();
        t.confirmar();
    }
    avisar(a);
}

Respuesta Cuentas::uso(const std::string& cuerpo, std::string_view firma, double) {
    if (a_.secreto.empty() || !protocolo::igualesSeguro(firma, hmacHex(a_.secreto, "uso|" + cuerpo)))
        return fallo(403, "Firma inválida.");
    auto j = Json::parse(cuerpo, nullptr, false);
    if (!j.is_object() || !j.contains("sid") || !j["sid"].is_string() || !j.contains("segundos") ||
        !j["segundos"].is_number_integer())
        return fallo(400, "Reporte de uso sin sid o segundos.");
    const std::string sid = j["sid"].get<std::string>();
    const long long total = j["segundos"].get<long long>();
    Aviso a;
    if (j.contains("publicando") && j["publicando"].is_boolean()) a.destino = {{sid, j["publicando"].get<bool>()}};
    try {
        std::lock_guard l(b_.candado());
        Transaccion t(b_);
        // Locked first: the same report retried to another instance waits here and then counts nothing.
        Sql bloqueo(b_, "UPDATE pases SET usados = usados WHERE sid = ?");
        bloqueo.valores(sid).correr();
        Sql q(b_, "SELECT correo, sala, usados FROM pases WHERE sid = ?");
        q.valores(sid);
        if (!q.fila()) return fallo(404, "Permiso desconocido.");
        const std::string correo = q.texto(0);
        a.sala = q.texto(1);
        // Totals, not increments: a report repeated or retried never counts twice.
        const long long nuevos = total - q.entero(2);
        if (nuevos > 0) {
            Sql u(b_, "UPDATE pases SET usados = ? WHERE sid = ?");
            u.valores(total, sid).correr();
            Sql c(b_, "UPDATE cuentas SET segundos = CASE WHEN segundos > ? THEN segundos - ? ELSE 0 END WHERE correo = ?");
            c.valores(nuevos, nuevos, correo).correr();
        }
        Sql s(b_, "SELECT segundos FROM cuentas WHERE correo = ?");
        s.valores(correo);
        if (s.fila()) a.saldo = s.entero(0);
        t.confirmar();
        if (nuevos <= 0) a.saldo.reset();
    } catch (const FalloBase& e) {
        anotar(std::string("control: la base falló: ") + e.what());
        return fallo(500, "El servicio tuvo un problema.");
    }
    if (a.saldo || a.destino) avisar(a);
    return {200, Json{{"ok", true}}};
}

Respuesta Cuentas::carga(const std::string& cuerpo, std::string_view firma, double ahora) {
    if (a_.secreto.empty() || !protocolo::igualesSeguro(firma, hmacHex(a_.secreto, "carga|" + cuerpo)))
        return fallo(403, "Firma inválida.");
    auto j = Json::parse(cuerpo, nullptr, false);
    if (!j.is_object() || !j.contains("relay") || !j["relay"].is_string() || !j.contains("transmisiones") ||
        !j["transmisiones"].is_number_integer() || j["transmisiones"].get<long long>() < 0)
        return fallo(400, "Reporte de carga sin relay o transmisiones.");
    const std::string relay = j["relay"].get<std::string>();
    if (std::find(a_.relays.begin(), a_.relays.end(), relay) == a_.relays.end())
        return fallo(404, "Ese relay no está en la lista del servicio.");
    const long long transmisiones = j["transmisiones"].get<long long>();
    bool nuevo = true;
    try {
        std::lock_guard l(b_.candado());
        Sql v(b_, "SELECT visto FROM relays WHERE direccion = ?");
        v.valores(relay);
        if (v.fila()) nuevo = v.real(0) < ahora - vidaCarga;
        Sql n(b_, "INSERT INTO relays(direccion, transmisiones, visto) VALUES(?, ?, ?) ON CONFLICT(direccion) "
                  "DO UPDATE SET transmisiones = excluded.transmisiones, visto = excluded.visto");
        n.valores(relay, transmisiones, ahora).correr();
    } catch (const FalloBase& e) {
        anotar(std::string("control: la base falló: ") + e.what());
        return fallo(500, "El servicio tuvo un problema.");
    }
    // Said when it starts (or starts again) getting permissions, not at every report.
    if (nuevo)
        anotar("control: relay " + relay + " informa su carga (" + std::to_string(transmisiones) +
               " transmisiones): recibe permisos");
    return {200, Json{{"ok", true}}};
}

void Cuentas::prepararPrueba(double ahora) {
    std::lock_guard l(b_.candado());
    if (!a_.prueba) {
        Sql f(b_, "DELETE FROM fichas WHERE correo IN (SELECT correo FROM cuentas WHERE integrada = 1)");
        f.correr();
        Sql d(b_, "DELETE FROM cuentas WHERE integrada = 1");
        d.correr();
        return;
    }
    Sql n(b_, "INSERT INTO cuentas(correo, clave, sala, verificada, segundos, integrada, creada) "
              "VALUES(?, ?, ?, 1, ?, 1, ?) ON CONFLICT DO NOTHING");
    n.valores(a_.cuentaPrueba, resumirClave(clavePrueba), azarHex(8), a_.saldoInicial, ahora).correr();
}

}  // namespace tt::control
