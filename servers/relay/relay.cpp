// tremolante-relay: the relay stand-in. Takes the uplink's links, checks their handshake,
// acknowledges and reassembles the chunks, and writes the stream to a file and/or publishes it
// over RTMP.
//
// Keys. An answer beginning "TM1 " is signed with the configured `clave`. Answers beginning
// "TM2 ", "TM3" and "TM4" are signed with the permission's `llave`, which the control service
// derives from the transmission's sid and a secret both services share:
//     llave = lowercase hex of HMAC-SHA256(key = secreto, message = "llave|" + sid)
// so the relay recomputes it without a database.
//
// The keys come from the environment or a file only readable by its owner, never from the command
// line, which every local user can read.
#include "bitacora_relay.h"
#include "servidor.h"

#include "comun/archivo_claves.h"
#include "comun/entorno.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tt;
using namespace tt::relay;

namespace {

const char* ayuda =
    "Uso: tremolante-relay [opciones]\n"
    "\n"
    "  --escuchar HOST:PUERTO      dirección de escucha (127.0.0.1:7935; puerto 0: uno libre)\n"
    "  --claves RUTA               archivo de claves (permisos 0600), líneas \"clave=…\" y \"secreto=…\"\n"
    "  --salida RUTA               archivo FLV rearmado; \"{sesion}\" se reemplaza por la sesión\n"
    "  --destino URL               destino RTMP cuando el cliente no manda uno\n"
    "  --destinos-permitidos LISTA sufijos de servidor a los que se publica, separados por comas\n"
    "                              (vacío: cualquier dirección pública)\n"
    "  --destinos-locales          permite destinos en direcciones locales o privadas (pila local)\n"
    "  --plazo-destino S           cerrar (CERRADA) una transmisión cuyo destino no aceptó nada en S\n"
    "                              segundos desde sus primeros datos; 0: nunca (15)\n"
    "  --silencio S                cerrar una transmisión sin datos tras S segundos (330)\n"
    "  --respaldo-tras S           sin datos nuevos tras S segundos, publicar la imagen de respaldo (1.5)\n"
    "  --espera-saludo S           tiempo para la respuesta al reto (10)\n"
    "  --saludo-mudo S             …y para su primer byte: quien calla S segundos se corta (2)\n"
    "  --max-saludos N             conexiones a la vez en el saludo, en total (512)\n"
    "  --max-saludos-ip N          …desde una misma red, /24 en IPv4 y /64 en IPv6 (32)\n"
    "  --max-enlaces N             enlaces a la vez en una transmisión; uno más cierra el que lleva\n"
    "                              más tiempo callado (8)\n"
    "  --inactividad S             cerrar un enlace admitido que no manda nada en S segundos (10)\n"
    "  --max-transmisiones N       transmisiones abiertas a la vez; más reciben OCUPADO (100)\n"
    "  --max-espera MIB            memoria para trozos que esperan un hueco o llegan a medias, por\n"
    "                              transmisión (32)\n"
    "  --max-espera-total MIB      …entre todas las transmisiones (512)\n"
    "  --control HOST:PUERTO       servicio de control al que se informan los segundos usados por\n"
    "                              cada permiso (POST /uso firmado con el secreto)\n"
    "  --nombre HOST:PUERTO        cómo llegan las apps a este relay, tal como está en la lista de\n"
    "                              relays del control; cada 5 s se le informan las transmisiones\n"
    "                              abiertas (POST /carga firmado; la dirección de escucha)\n"
    "  --informe-cada S            cada cuánto se informa una transmisión abierta (15); al recibir\n"
    "                              SIGTERM se mandan los totales finales (espera hasta 3 s)\n"
    "  --estado CARPETA            carpeta (0700) donde se guarda, en un archivo 0600, lo usado y lo\n"
    "                              cerrado de cada permiso: tras un reinicio un permiso cerrado sigue\n"
    "                              cerrado y uno abierto sigue contando desde sus segundos\n"
    "  --razon RAZON               (pruebas) responder RAZON en vez de \"OK\"…\n"
    "  --tras N                    …después de N admisiones (0)\n"
    "  --help                      esta ayuda\n"
    "\n"
    "Claves. Nunca en la línea de órdenes (cualquier usuario la ve con ps): en el entorno,\n"
    "TM_RELAY_CLAVE y TM_RELAY_SECRETO, o en el archivo de --claves, que no debe poder leer nadie\n"
    "más que su dueño. Sin ninguna de las dos el relay no arranca. La clave firma las respuestas\n"
    "\"TM1\" (sin ella se rechazan); el secreto, compartido con el servicio de control, da la llave\n"
    "de las respuestas \"TM2\", \"TM3\" y \"TM4\" (sin él se rechazan):\n"
    "  llave = hex en minúsculas de HMAC-SHA256(clave = secreto, mensaje = \"llave|\" + sid)\n"
    "Una sesión pertenece a la clave que la abrió: una respuesta \"TM1\" no entra en una\n"
    "transmisión abierta con permiso, ni al revés.\n"
    "\n"
    "Permisos. El pase de una respuesta \"TM2\" viene sellado por el servicio de control\n"
    "(AES-256-GCM con una clave derivada del secreto): trae el sid, la sala, el destino, los\n"
    "segundos concedidos y un vencimiento. Un pase falso, alterado o de otro sid recibe CERRADA;\n"
    "vencido antes de la primera admisión, VENCIDO; la sala ya al aire con un permiso más nuevo,\n"
    "OCUPADO; uno más nuevo de la misma sala releva al anterior (RELEVADA); agotados los segundos,\n"
    "SALDO. El destino es siempre el del pase.\n"
    "\n"
    "Al arrancar escribe \"escuchando en HOST:PUERTO\" en la salida estándar.\n";

bool numero(const std::string& s, double& v) {
    auto x = leerNumero(s);
    if (!x || *x < 0) return false;
    v = *x;
    return true;
}

// Reads "clave=…" and "secreto=…" from a file nobody but its owner may read.
bool leerClaves(const std::string& ruta, Opciones& o, std::string& error) {
    auto v = leerArchivoClaves(ruta, {"clave", "secreto"}, error);
    if (!v) return false;
    if (v->count("clave")) o.clave = v->at("clave");
    if (v->count("secreto")) o.secreto = v->at("secreto");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Opciones o;
    if (const char* c = std::getenv("TM_RELAY_CLAVE")) o.clave = c;
    if (const char* s = std::getenv("TM_RELAY_SECRETO")) o.secreto = s;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(ayuda, stdout);
            return 0;
        }
        if (a == "--clave" || a == "--secreto") {
            std::fprintf(stderr,
                         "%s ya no se acepta: las claves no van en la línea de órdenes (cualquier usuario "
                         "la ve). Use TM_RELAY_CLAVE / TM_RELAY_SECRETO o --claves ARCHIVO (0600).\n",
                         a.c_str());
            return 2;
        }
        if (a == "--destinos-locales") {
            o.destinos.locales = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "falta el valor de %s\n%s", a.c_str(), ayuda);
            return 2;
        }
        std::string v = argv[++i];
        double x = 0;
        if (a == "--escuchar") {
            auto dos = v.rfind(':');
            if (dos == std::string::npos || !numero(v.substr(dos + 1), x) || x > 65535) {
                std::fprintf(stderr, "dirección inválida: %s\n", v.c_str());
                return 2;
            }
            o.host = v.substr(0, dos);
            o.puerto = std::uint16_t(x);
        } else if (a == "--claves") {
            std::string error;
            if (!leerClaves(v, o, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 2;
            }
        } else if (a == "--salida") {
            o.salida = v;
        } else if (a == "--destino") {
            o.destino = v;
        } else if (a == "--plazo-destino" && numero(v, x) && x >= 0) {
            o.plazoDestino = x;
        } else if (a == "--destinos-permitidos") {
            o.destinos.sufijos = sufijosDe(v);
        } else if (a == "--control") {
            o.control = v;
        } else if (a == "--nombre") {
            o.nombre = v;
        } else if (a == "--informe-cada" && numero(v, x) && x >= 0.5) {
            o.informeCada = x;
        } else if (a == "--razon") {
            o.razon = v;
        } else if (a == "--tras" && numero(v, x)) {
            o.tras = int(x);
        } else if (a == "--silencio" && numero(v, x)) {
            o.silencio = x;
        } else if (a == "--respaldo-tras" && numero(v, x) && x >= 0.25) {
            o.respaldoTras = x;
        } else if (a == "--espera-saludo" && numero(v, x)) {
            o.esperaSaludo = x;
        } else if (a == "--saludo-mudo" && numero(v, x)) {
            o.mudoSaludo = x;
        } else if (a == "--inactividad" && numero(v, x)) {
            o.inactividad = x;
        } else if (a == "--max-enlaces" && numero(v, x) && x >= 1 && x <= 1000) {
            o.maxEnlaces = int(x);
        } else if (a == "--estado" && !v.empty()) {
            o.estado = v;
        } else if (a == "--max-saludos" && numero(v, x) && x >= 1 && x <= 1e6) {
            o.maxSaludos = int(x);
        } else if (a == "--max-saludos-ip" && numero(v, x) && x >= 1 && x <= 1e6) {
            o.maxSaludosPorIp = int(x);
        } else if (a == "--max-transmisiones" && numero(v, x) && x >= 1 && x <= 1e6) {
            o.maxTransmisiones = int(x);
        } else if (a == "--max-espera" && numero(v, x) && x >= 1 && x <= 65536) {
            o.maxEspera = std::size_t(x * 1048576);
        } else if (a == "--max-espera-total" && numero(v, x) && x >= 1 && x <= 1048576) {
            o.maxEsperaTotal = std::size_t(x * 1048576);
        } else {
            std::fprintf(stderr, "opción desconocida o valor inválido: %s\n%s", a.c_str(), ayuda);
            return 2;
        }
    }
    if (o.clave.empty() && o.secreto.empty()) {
        std::fprintf(stderr,
                     "sin claves el relay no arranca (cualquiera podría usarlo): dé TM_RELAY_CLAVE y/o "
                     "TM_RELAY_SECRETO en el entorno, o --claves ARCHIVO (0600)\n");
        return 2;
    }

    // Many links and clients at once: as many descriptors as the system allows us.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    if (o.destino)
        if (auto no = destinoRechazado(*o.destino, o.destinos)) {
            std::fprintf(stderr, "--destino: %s\n", no->c_str());
            return 2;
        }
    Servidor servidor(o);
    std::string error;
    auto puerto = servidor.iniciar(error);
    if (!puerto) {
        std::fprintf(stderr, "no se pudo escuchar en %s:%u: %s\n", o.host.c_str(), unsigned(o.puerto), error.c_str());
        return 1;
    }
    std::printf("escuchando en %s:%u\n", o.host.c_str(), unsigned(*puerto));
    std::fflush(stdout);
    anotar("relay: escuchando en " + o.host + ":" + std::to_string(*puerto) +
           (o.clave.empty() ? " (sin clave: se rechaza TM1)" : "") +
           (o.secreto.empty() ? " (sin secreto: se rechazan TM2, TM3 y TM4)" : ""));
    servidor.correr();
    anotar("relay: detenido");
    return 0;
}
