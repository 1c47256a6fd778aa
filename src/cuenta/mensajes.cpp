#include "cuenta/mensajes.h"

#include <cctype>
#include <limits>

namespace tt {

bool sitioLocal(std::string_view sitio) { return sitio.starts_with("127.") || sitio.starts_with("localhost"); }

Respuesta leerRespuesta(int estado, std::string_view cuerpo) {
    Respuesta r;
    Json j = cuerpo.size() > kTopeRespuesta ? Json() : Json::parse(cuerpo, nullptr, false);
    if (estado == 200 && j.is_object()) {
        r.objeto = std::move(j);
        return r;
    }
    if (j.is_object()) {
        auto e = j.find("error");
        if (e != j.end() && e->is_string()) {
            r.error = e->get<std::string>();
            return r;
        }
    }
    r.error = kSinConexion;
    return r;
}

namespace {
std::optional<std::string> texto(const Json& j, const char* k) {
    auto i = j.find(k);
    if (i == j.end() || !i->is_string()) return std::nullopt;
    return i->get<std::string>();
}
std::optional<long long> entero(const Json& j, const char* k) {
    auto i = j.find(k);
    if (i == j.end() || !i->is_number_integer()) return std::nullopt;
    return i->get<long long>();
}
int contar(const Json& j, const char* k) {
    auto n = entero(j, k);
    if (!n || *n < 0 || *n > std::numeric_limits<int>::max()) return 0;
    return int(*n);
}
}  // namespace

std::optional<Mensaje> leerMensaje(std::string_view crudo) {
    if (crudo.size() > kTopeRespuesta) return std::nullopt;
    Json j = Json::parse(crudo, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    auto t = texto(j, "t");
    if (!t) return std::nullopt;
    Mensaje m;
    using T = Mensaje::Tipo;
    if (*t == "celulares") {
        m.tipo = T::celulares;
        m.conectados = contar(j, "conectados");
        m.vinculados = contar(j, "vinculados");
    } else if (*t == "hola") {
        m.tipo = T::hola;
    } else if (*t == "saldo") {
        auto s = entero(j, "segundos");
        if (!s) return std::nullopt;
        m.tipo = T::saldo;
        m.segundos = *s;
    } else if (*t == "elegir" || *t == "camara") {
        auto id = texto(j, "id");
        if (!id) return std::nullopt;
        m.tipo = *t == "elegir" ? T::elegir : T::camara;
        m.id = *id;
    } else if (*t == "destino") {
        auto sid = texto(j, "sid");
        auto p = j.find("publicando");
        if (!sid || p == j.end() || !p->is_boolean()) return std::nullopt;
        m.tipo = T::destino;
        m.id = *sid;
        m.publicando = p->get<bool>();
    } else if (*t == "transmitir") {
        m.tipo = T::transmitir;
    } else if (*t == "detener") {
        m.tipo = T::detener;
    } else {
        return std::nullopt;
    }
    return m;
}

int estadoDelRechazo(std::string_view error) {
    // Qt 6.4 keeps the refused upgrade's status only in its text: "…status code: 403 (Forbidden)."
    constexpr std::string_view marca = "status code: ";
    auto p = error.find(marca);
    if (p == std::string_view::npos) return 0;
    int n = 0;
    for (std::size_t i = p + marca.size(); i < error.size() && std::isdigit(static_cast<unsigned char>(error[i])) && n < 1000; ++i)
        n = n * 10 + (error[i] - '0');
    return n;
}

Json instantanea(const EstadoCelular& e, bool todo) {
    Json j;
    j["t"] = todo ? "estado" : "pulso";
    j["programa"] = e.programa;
    j["vivo"] = e.vivo;
    j["seco"] = e.seco;
    j["aviso"] = e.aviso;
    j["sinRed"] = e.vivo && e.sinRed;
    j["sinDestino"] = e.vivo && e.sinDestino;
    j["listo"] = e.botonHabilitado && !e.pidiendoPase;
    j["redes"] = e.redes;
    j["error"] = !e.vivo && !e.pidiendoPase && e.avisoEsProblema;
    if (e.saldo) j["saldo"] = *e.saldo;
    if (e.vivo) {
        if (e.calidad) j["calidad"] = *e.calidad;
        j["tiempo"] = e.tiempo;
        j["cifras"] = e.sale + " Mbps  ·  " + e.cps + " cuadros/s  ·  " + e.saltados + " saltados";
    }
    if (todo) {
        j["canal"] = e.canal;
        j["camaras"] = Json::array();
        for (auto& [id, nombre] : e.camaras) j["camaras"].push_back(Json{{"id", id}, {"nombre", nombre}});
        j["camara"] = e.camara;
        j["pantallas"] = Json::array();
        for (auto& p : e.pantallas)
            j["pantallas"].push_back(Json{{"id", p.id}, {"nombre", p.nombre}, {"respaldo", p.respaldo}, {"foto", p.foto}});
    }
    return j;
}

}  // namespace tt
