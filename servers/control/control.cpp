// tremolante-control: the control service. Accounts and balances in SQLite or PostgreSQL, sign-in
// codes, the permissions the relays check on their own, the rooms of the live channel, the phone
// page, the update feed and report intake, on one port. On PostgreSQL any number of instances
// serve the same accounts, and tell each other what a room must learn.
#include "avisos.h"
#include "base_postgres.h"
#include "base_sqlite.h"
#include "bitacora_control.h"
#include "cuentas.h"
#include "escucha_postgres.h"
#include "servicio.h"

#include "comun/archivo_claves.h"
#include "comun/entorno.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tt;
using namespace tt::control;
namespace fs = std::filesystem;

namespace {

const char* ayuda =
    "Uso: tremolante-control --datos CARPETA --secreto-archivo RUTA [opciones]\n"
    "\n"
    "  --escuchar HOST:PUERTO      dirección de escucha (127.0.0.1:8080; puerto 0: uno libre)\n"
    "  --datos CARPETA             carpeta de la base (control.db, 0600, modo WAL); se crea si falta\n"
    "  --base URL                  en vez de control.db, una base PostgreSQL (postgresql://USUARIO@HOST/BASE,\n"
    "                              también TM_CONTROL_BASE); la contraseña en PGPASSFILE o en un archivo\n"
    "                              de servicio (0600), nunca en la dirección. Varias instancias sobre la\n"
    "                              misma base atienden las mismas cuentas y se pasan los avisos de las salas\n"
    "  --secreto-archivo RUTA      archivo (permisos 0600) con la línea \"secreto=…\" que comparte con\n"
    "                              el relay; también sirve el archivo --claves del relay\n"
    "  --relay HOST:PUERTO         relay que se da en cada permiso (127.0.0.1:7935)\n"
    "  --relays LISTA              varios relays, separados por comas: cada permiso da el menos cargado\n"
    "                              de los que informaron su carga en los últimos 15 s (su --nombre)\n"
    "  --relays-archivo RUTA       …o uno por línea en un archivo (# comenta)\n"
    "  --web CARPETA               página de los celulares (la que trae la instalación)\n"
    "  --actualizaciones CARPETA   version.json y app.zip para GET /app/version y /app/zip, tal como\n"
    "                              los deja scripts/empaquetar (build, sha256, firma Ed25519)\n"
    "  --correo-orden ORDEN        orden que manda los códigos, el mensaje por su entrada estándar,\n"
    "                              p. ej. \"/usr/sbin/sendmail -t\"; obligatoria fuera del modo prueba\n"
    "  --prueba                    modo prueba: los códigos van en la respuesta (\"codigo\") y en la\n"
    "                              bitácora, no se mandan; existe la cuenta de prueba\n"
    "  --saldo-inicial S           (prueba) segundos de transmisión de cada cuenta nueva (36000)\n"
    "  --cuenta-prueba CORREO      (prueba) correo de la cuenta de prueba, contraseña Piloto#4821\n"
    "                              (piloto@tremolante.test)\n"
    "  --vida-pase S               un permiso sin usar vence a los S segundos (300)\n"
    "  --proxies LISTA             direcciones IP del proxy de adelante (nginx), separadas por comas: sus\n"
    "                              conexiones no tienen cupo por dirección y su cabecera X-Real-IP da la\n"
    "                              dirección del cliente\n"
    "  --conexiones N              conexiones abiertas a la vez (las que deja el límite de descriptores)\n"
    "  --conexiones-por-ip N       …desde una misma dirección (la mitad)\n"
    "  --destinos-permitidos LISTA sufijos de servidor a los que se permite publicar, separados\n"
    "                              por comas (vacío: cualquier dirección pública)\n"
    "  --destinos-locales          permite destinos en direcciones locales o privadas (pila local)\n"
    "  --help                      esta ayuda\n"
    "\n"
    "El secreto nunca va en la línea de órdenes (cualquier usuario la ve con ps): en el archivo de\n"
    "--secreto-archivo o en la variable TM_CONTROL_SECRETO. El relay deriva la llave de cada\n"
    "permiso como hex(HMAC-SHA256(secreto, \"llave|\" + sid)) y abre el pase con el mismo secreto.\n"
    "\n"
    "Al arrancar escribe \"escuchando en HOST:PUERTO\" en la salida estándar.\n";

// The relay's file of keys will do: its "clave=…" line is not this service's.
bool leerSecreto(const std::string& ruta, std::string& secreto, std::string& error) {
    auto v = leerArchivoClaves(ruta, {"clave", "secreto"}, error);
    if (!v) return false;
    secreto = v->count("secreto") ? v->at("secreto") : "";
    if (secreto.empty()) {
        error = "el archivo " + ruta + " no tiene una línea \"secreto=…\"";
        return false;
    }
    return true;
}

// The code goes to the mail command on its standard input, never on its command line.
std::optional<std::string> mandarCorreo(const std::string& orden, const std::string& correo, const std::string& codigo,
                                        const std::string& modo) {
    const std::string asunto = modo == "recuperar" ? "Tu código para cambiar la contraseña" : "Tu código de Tremolante";
    const std::string mensaje = "To: " + correo + "\nSubject: " + asunto +
                                "\nContent-Type: text/plain; charset=utf-8\n\nTu código es " + codigo +
                                ". Vence en 10 minutos.\nSi no lo pediste, ignora este correo.\n";
    int tubo[2];
    if (pipe2(tubo, O_CLOEXEC) != 0) return std::string("sin tubo");
    posix_spawn_file_actions_t acc;
    posix_spawn_file_actions_init(&acc);
    posix_spawn_file_actions_adddup2(&acc, tubo[0], 0);
    std::string sh = "/bin/sh", c = "-c", o = orden;
    char* argv[] = {sh.data(), c.data(), o.data(), nullptr};
    pid_t pid = -1;
    const int r = posix_spawn(&pid, "/bin/sh", &acc, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&acc);
    ::close(tubo[0]);
    if (r != 0) {
        ::close(tubo[1]);
        return std::string("no arrancó la orden de correo: ") + std::strerror(r);
    }
    std::size_t hecho = 0;
    while (hecho < mensaje.size()) {
        ssize_t n = ::write(tubo[1], mensaje.data() + hecho, mensaje.size() - hecho);
        if (n <= 0) break;
        hecho += std::size_t(n);
    }
    ::close(tubo[1]);
    // A mail command that hangs must not hold a worker forever.
    int estado = 0;
    for (int i = 0; i < 300; ++i) {
        const pid_t w = waitpid(pid, &estado, WNOHANG);
        if (w == pid) {
            if (WIFEXITED(estado) && WEXITSTATUS(estado) == 0) return std::nullopt;
            return "la orden de correo terminó con estado " + std::to_string(WIFEXITED(estado) ? WEXITSTATUS(estado) : -1);
        }
        ::usleep(100000);
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, &estado, 0);
    return std::string("la orden de correo no terminó en 30 s");
}

constexpr const char* canalAvisos = "tremolante_avisos";

std::vector<std::string> lista(const std::string& texto, char separador) {
    std::vector<std::string> r;
    std::stringstream s(texto);
    for (std::string x; std::getline(s, x, separador);) {
        if (auto h = x.find('#'); h != std::string::npos) x.erase(h);
        while (!x.empty() && std::isspace(static_cast<unsigned char>(x.back()))) x.pop_back();
        while (!x.empty() && std::isspace(static_cast<unsigned char>(x.front()))) x.erase(0, 1);
        if (!x.empty()) r.push_back(x);
    }
    return r;
}

bool numero(const std::string& s, double& v) {
    auto x = leerNumero(s);
    if (!x || *x < 0) return false;
    v = *x;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Ajustes a;
    OpcionesServicio o;
    std::optional<fs::path> datos;
    std::optional<std::string> conexion;
    std::optional<std::string> correoOrden;
    a.saldoInicial = 36000;
    if (const char* s = std::getenv("TM_CONTROL_SECRETO")) a.secreto = s;
    std::error_code ec;
    o.web = fs::canonical("/proc/self/exe", ec).parent_path() / ".." / "share" / "tremolante" / "control";
    for (int i = 1; i < argc; ++i) {
        std::string k = argv[i];
        if (k == "--help" || k == "-h") {
            std::fputs(ayuda, stdout);
            return 0;
        }
        if (k == "--prueba") {
            a.prueba = true;
            continue;
        }
        if (k == "--destinos-locales") {
            a.destinos.locales = true;
            continue;
        }
        if (k == "--secreto") {
            std::fprintf(stderr, "--secreto no se acepta: el secreto no va en la línea de órdenes (cualquier usuario la "
                                 "ve). Use --secreto-archivo ARCHIVO (0600) o TM_CONTROL_SECRETO.\n");
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "falta el valor de %s\n%s", k.c_str(), ayuda);
            return 2;
        }
        std::string v = argv[++i];
        double x = 0;
        if (k == "--escuchar") {
            auto dos = v.rfind(':');
            if (dos == std::string::npos || !numero(v.substr(dos + 1), x) || x > 65535) {
                std::fprintf(stderr, "dirección inválida: %s\n", v.c_str());
                return 2;
            }
            o.host = v.substr(0, dos);
            o.puerto = std::uint16_t(x);
        } else if (k == "--datos") {
            datos = v;
        } else if (k == "--secreto-archivo") {
            std::string error;
            if (!leerSecreto(v, a.secreto, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 2;
            }
        } else if (k == "--relay") {
            a.relays = {v};
        } else if (k == "--relays") {
            a.relays = lista(v, ',');
        } else if (k == "--relays-archivo") {
            std::ifstream f(v);
            std::stringstream s;
            s << f.rdbuf();
            if (!f) {
                std::fprintf(stderr, "no se pudo leer la lista de relays %s\n", v.c_str());
                return 2;
            }
            a.relays = lista(s.str(), '\n');
        } else if (k == "--base") {
            conexion = v;
        } else if (k == "--proxies") {
            for (auto& x : lista(v, ',')) {
                boost::system::error_code e;
                auto d = boost::asio::ip::make_address(x, e);
                if (e) {
                    std::fprintf(stderr, "dirección de proxy inválida: %s\n", x.c_str());
                    return 2;
                }
                o.proxies.push_back(d);
            }
        } else if (k == "--web") {
            o.web = v;
        } else if (k == "--actualizaciones") {
            o.actualizaciones = v;
        } else if (k == "--correo-orden") {
            correoOrden = v;
        } else if (k == "--saldo-inicial" && numero(v, x)) {
            a.saldoInicial = (long long)x;
        } else if (k == "--cuenta-prueba") {
            a.cuentaPrueba = v;
        } else if (k == "--vida-pase" && numero(v, x)) {
            a.vidaPase = x;
        } else if (k == "--conexiones" && numero(v, x) && x >= 1) {
            o.maxConexiones = std::size_t(x);
        } else if (k == "--conexiones-por-ip" && numero(v, x) && x >= 1) {
            o.maxPorDireccion = std::size_t(x);
        } else if (k == "--destinos-permitidos") {
            a.destinos.sufijos = sufijosDe(v);
        } else {
            std::fprintf(stderr, "opción desconocida o valor inválido: %s\n%s", k.c_str(), ayuda);
            return 2;
        }
    }
    if (a.relays.empty()) {
        std::fprintf(stderr, "la lista de relays está vacía\n");
        return 2;
    }
    if (!conexion)
        if (const char* b = std::getenv("TM_CONTROL_BASE"); b && *b) conexion = b;
    if (conexion && !esConexionPostgres(*conexion)) {
        std::fprintf(stderr, "--base debe ser una dirección postgresql://…\n");
        return 2;
    }
    if (!datos && !conexion) {
        std::fprintf(stderr, "falta --datos CARPETA (donde vive la base de cuentas) o --base URL\n");
        return 2;
    }
    if (a.secreto.empty()) {
        std::fprintf(stderr, "sin secreto no se pueden dar permisos que el relay acepte: dé --secreto-archivo ARCHIVO "
                             "(0600, línea \"secreto=…\") o TM_CONTROL_SECRETO\n");
        return 2;
    }
    if (!a.prueba && !correoOrden) {
        std::fprintf(stderr, "sin --correo-orden no hay cómo mandar los códigos de acceso: dé una orden que lea el "
                             "mensaje por su entrada estándar (p. ej. \"/usr/sbin/sendmail -t\") o use --prueba\n");
        return 2;
    }
    std::unique_ptr<Base> base;
    BasePostgres* postgres = nullptr;
    std::unique_ptr<EscuchaPostgres> escucha;
    if (conexion) {
        std::unique_ptr<BasePostgres> p;
        if (auto e = BasePostgres::abrir(*conexion, p)) {
            std::fprintf(stderr, "%s\n", e->c_str());
            return 1;
        }
        postgres = p.get();
        base = std::move(p);
        escucha = std::make_unique<EscuchaPostgres>(*conexion, canalAvisos);
    } else {
        fs::create_directories(*datos, ec);
        fs::permissions(*datos, fs::perms::owner_all, ec);
        if (auto e = BaseSqlite::abrir(*datos / "control.db", base)) {
            std::fprintf(stderr, "%s\n", e->c_str());
            return 1;
        }
    }

    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    Cuentas cuentas(*base, a);
    cuentas.alAnotar = anotar;
    if (correoOrden)
        cuentas.alMandar = [orden = *correoOrden](const std::string& correo, const std::string& codigo,
                                                  const std::string& modo) {
            return mandarCorreo(orden, correo, codigo, modo);
        };
    try {
        cuentas.prepararPrueba(ahoraPared());
    } catch (const FalloBase& e) {
        std::fprintf(stderr, "la base no responde: %s\n", e.what());
        return 1;
    }
    {
        Servicio servicio(o, cuentas);
        if (escucha) {
            // What a room must learn goes through the base to every instance, this one included,
            // so it reaches the room wherever its sockets are.
            escucha->alAnotar = anotar;
            escucha->alRecibir = [&servicio](std::string t) {
                if (auto av = avisoDeTexto(t)) servicio.avisar(std::move(*av));
            };
            if (auto e = escucha->iniciar()) {
                std::fprintf(stderr, "%s\n", e->c_str());
                return 1;
            }
            cuentas.alAviso = [&servicio, &base, postgres](Aviso av) {
                try {
                    std::lock_guard l(base->candado());
                    for (auto& t : textosDeAviso(av)) postgres->difundir(canalAvisos, t);
                } catch (const FalloBase& e) {
                    anotar(std::string("control: no se pudo pasar un aviso a las demás instancias: ") + e.what());
                    servicio.avisar(std::move(av));  // this instance's rooms still hear it
                }
            };
        } else {
            cuentas.alAviso = [&servicio](Aviso av) { servicio.avisar(std::move(av)); };
        }
        std::string error;
        auto puerto = servicio.iniciar(error);
        if (!puerto) {
            std::fprintf(stderr, "no se pudo escuchar en %s:%u: %s\n", o.host.c_str(), unsigned(o.puerto), error.c_str());
            return 1;
        }
        std::printf("escuchando en %s:%u\n", o.host.c_str(), unsigned(*puerto));
        std::fflush(stdout);
        anotar("control: escuchando en " + o.host + ":" + std::to_string(*puerto) + (a.prueba ? " (modo prueba)" : ""));
        servicio.correr();
        cuentas.alAviso = nullptr;
        escucha.reset();  // before the service it calls goes
    }
    anotar("control: detenido");
    return 0;
}
