// tremolante-relay: the relay stand-in. Takes the uplink's links, checks their handshake,
// acknowledges and reassembles the chunks, and writes the stream to a file and/or publishes it
// over RTMP.
//
// Keys. An answer beginning "TM1 " is signed with the configured `clave`. Answers beginning
// "TM2 ", "TM3" and "TM4" are signed with the permission's `llave`, which the control service
// derives from the transmission's sid and a secret both services share:
//     llave = lowercase hex of HMAC-SHA256(key = secreto, message = "llave|" + sid)
// so the relay recomputes it without a database.
#include "bitacora_relay.h"
#include "servidor.h"

#include "comun/entorno.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <sys/resource.h>

using namespace tt;
using namespace tt::relay;

namespace {

const char* ayuda =
    "Uso: tremolante-relay [opciones]\n"
    "\n"
    "  --escuchar HOST:PUERTO  dirección de escucha (127.0.0.1:7935; puerto 0: uno libre)\n"
    "  --clave CLAVE           clave compartida de las respuestas \"TM1\" (o TM_RELAY_CLAVE)\n"
    "  --secreto SECRETO       secreto compartido con el servicio de control (o TM_RELAY_SECRETO)\n"
    "  --salida RUTA           archivo FLV rearmado; \"{sesion}\" se reemplaza por la sesión\n"
    "  --destino URL           destino RTMP cuando el cliente no manda uno\n"
    "  --razon RAZON           (pruebas) responder RAZON en vez de \"OK\"…\n"
    "  --tras N                …después de N admisiones (0)\n"
    "  --silencio S            cerrar una transmisión sin datos tras S segundos (330)\n"
    "  --espera-saludo S       tiempo para la respuesta al reto (10)\n"
    "  --help                  esta ayuda\n"
    "\n"
    "Las respuestas \"TM2\", \"TM3\" y \"TM4\" se firman con la llave del permiso, que el servicio\n"
    "de control deriva del sid con el secreto compartido:\n"
    "  llave = hex en minúsculas de HMAC-SHA256(clave = secreto, mensaje = \"llave|\" + sid)\n"
    "\n"
    "Al arrancar escribe \"escuchando en HOST:PUERTO\" en la salida estándar.\n";

bool numero(const std::string& s, double& v) {
    auto x = leerNumero(s);
    if (!x || *x < 0) return false;
    v = *x;
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
        } else if (a == "--clave") {
            o.clave = v;
        } else if (a == "--secreto") {
            o.secreto = v;
        } else if (a == "--salida") {
            o.salida = v;
        } else if (a == "--destino") {
            o.destino = v;
        } else if (a == "--razon") {
            o.razon = v;
        } else if (a == "--tras" && numero(v, x)) {
            o.tras = int(x);
        } else if (a == "--silencio" && numero(v, x)) {
            o.silencio = x;
        } else if (a == "--espera-saludo" && numero(v, x)) {
            o.esperaSaludo = x;
        } else {
            std::fprintf(stderr, "opción desconocida o valor inválido: %s\n%s", a.c_str(), ayuda);
            return 2;
        }
    }

    // Many links and clients at once: as many descriptors as the system allows us.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    boost::asio::io_context io;
    Servidor servidor(io, o);
    std::string error;
    auto puerto = servidor.iniciar(error);
    if (!puerto) {
        std::fprintf(stderr, "no se pudo escuchar en %s:%u: %s\n", o.host.c_str(), unsigned(o.puerto), error.c_str());
        return 1;
    }
    std::printf("escuchando en %s:%u\n", o.host.c_str(), unsigned(*puerto));
    std::fflush(stdout);
    anotar("relay: escuchando en " + o.host + ":" + std::to_string(*puerto));

    boost::asio::signal_set senales(io, SIGINT, SIGTERM);
    senales.async_wait([&](boost::system::error_code, int) { io.stop(); });
    io.run();
    return 0;
}
