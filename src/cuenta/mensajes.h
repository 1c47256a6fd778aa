#pragma once

// What travels to and from the control service, decided without any socket: the reading of an
// HTTP answer, the messages of the live channel, and the snapshot the phones get. Pure functions.

#include "comun/json.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tt {

inline constexpr std::size_t kTopeRespuesta = 4u << 20;  // answers and socket messages
inline constexpr const char* kSinConexion = "No hay conexión con el servicio. Revisa el internet.";

// "http"/"ws" for a service on loopback ("127.…" or "localhost…"), else the secure schemes.
bool sitioLocal(std::string_view sitio);

// One HTTP answer as the caller sees it: the object on a 200, else one Spanish sentence (the
// service's "error" when it sent one). `estado` 0 means no answer at all.
struct Respuesta {
    std::optional<Json> objeto;
    std::optional<std::string> error;
};
Respuesta leerRespuesta(int estado, std::string_view cuerpo);

// A message from the service on the live channel; nothing for what the app does not act on.
struct Mensaje {
    enum class Tipo { celulares, hola, saldo, elegir, camara, transmitir, detener, destino };
    Tipo tipo = Tipo::hola;
    int conectados = 0;
    int vinculados = 0;
    long long segundos = 0;
    std::string id;           // a screen, a camera, or the transmission ("destino")
    bool publicando = false;  // "destino": the relay's destination takes that transmission now
};
std::optional<Mensaje> leerMensaje(std::string_view texto);

// The HTTP status of a refused WebSocket upgrade, from the socket library's error text (0 when
// the text names none).
int estadoDelRechazo(std::string_view error);

// What the phones are shown. Filled by the application; `instantanea` puts it in wire order.
struct EstadoCelular {
    std::string programa = "camara";
    bool vivo = false;
    bool seco = false;
    std::string aviso;
    bool avisoEsProblema = false;  // the notice is not in the secondary colour
    bool sinRed = false;
    bool sinDestino = false;  // live and the relay reports the platform is not taking the stream
    bool botonHabilitado = false;
    bool pidiendoPase = false;
    std::string redes;
    std::optional<long long> saldo;  // only with an account in use
    // Live only.
    std::optional<std::string> calidad;
    std::string tiempo, sale, cps, saltados;
    // Full snapshot only.
    std::string canal;
    std::vector<std::pair<std::string, std::string>> camaras;  // id, name
    std::string camara;
    struct Pantalla {
        std::string id, nombre;
        bool respaldo = false;
        std::string foto;  // base64 JPEG, "" when it could not be made
    };
    std::vector<Pantalla> pantallas;
};
Json instantanea(const EstadoCelular& e, bool todo);

}  // namespace tt
