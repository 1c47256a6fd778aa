#include "pantallas/pantalla.h"

#include <QString>
#include <QUuid>

#include <cmath>
#include <limits>

namespace tt {

const std::vector<std::pair<std::string, std::string>>& tiposDeRed() {
    static const std::vector<std::pair<std::string, std::string>> tipos = {
        {"instagram", "Instagram"}, {"tiktok", "TikTok"},   {"kick", "Kick"},
        {"youtube", "YouTube"},     {"facebook", "Facebook"}, {"x", "X"},
        {"twitch", "Twitch"},       {"whatsapp", "WhatsApp"},
    };
    return tipos;
}

std::string Pantalla::nuevoId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

std::vector<Red> Pantalla::redesVisibles() const {
    std::vector<Red> visibles;
    for (const Red& r : redes)
        if (!QString::fromStdString(r.usuario).trimmed().isEmpty()) visibles.push_back(r);
    return visibles;
}

bool Pantalla::esDirecta() const {
    return camara == 1 && !archivo && titulo.empty() && subtitulo.empty() && redesVisibles().empty();
}

bool esNombreLlano(std::string_view nombre) {
    return !nombre.empty() && nombre != "." && nombre != ".." &&
           nombre.find('/') == std::string_view::npos && nombre.find('\0') == std::string_view::npos;
}

namespace {

// Each reader leaves the default in place and notes the loss when a present value has the wrong type.
struct Lector {
    const Json& j;
    bool perdio = false;

    void leer(const char* clave, std::string& destino) {
        auto it = j.find(clave);
        if (it == j.end()) return;
        if (it->is_string()) destino = it->get<std::string>();
        else perdio = true;
    }
    void leer(const char* clave, bool& destino) {
        auto it = j.find(clave);
        if (it == j.end()) return;
        if (it->is_boolean()) destino = it->get<bool>();
        else perdio = true;
    }
    void leer(const char* clave, double& destino) {
        auto it = j.find(clave);
        if (it == j.end()) return;
        if (it->is_number()) destino = it->get<double>();
        else perdio = true;
    }
    // Whole numbers within int only: 4.0 counts as 4, 4.5 does not.
    void leer(const char* clave, int& destino) {
        auto it = j.find(clave);
        if (it == j.end()) return;
        if (it->is_number()) {
            double v = it->get<double>();
            if (std::floor(v) == v && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()) {
                destino = it->is_number_float() ? int(v) : int(it->get<std::int64_t>());
                return;
            }
        }
        perdio = true;
    }
};

std::vector<Red> leerRedes(const Json& j, bool& perdio) {
    auto it = j.find("redes");
    if (it == j.end()) return {};
    if (!it->is_array()) {
        perdio = true;
        return {};
    }
    std::vector<Red> redes;
    for (const Json& r : *it) {
        auto tipo = r.is_object() ? r.find("tipo") : r.end(), usuario = r.is_object() ? r.find("usuario") : r.end();
        if (!r.is_object() || tipo == r.end() || usuario == r.end() || !tipo->is_string() || !usuario->is_string()) {
            perdio = true;
            return {};
        }
        redes.push_back({tipo->get<std::string>(), usuario->get<std::string>()});
    }
    return redes;
}

}  // namespace

Pantalla pantallaDeJson(const Json& j, bool* perdio) {
    Pantalla p;
    if (!j.is_object()) {
        if (perdio) *perdio = true;
        return p;
    }
    Lector l{j};
    l.leer("id", p.id);
    l.leer("nombre", p.nombre);
    if (auto it = j.find("archivo"); it != j.end() && !it->is_null()) {
        // A path here could point the store's copies and deletions outside its media folder.
        if (it->is_string() && esNombreLlano(it->get<std::string>())) p.archivo = it->get<std::string>();
        else l.perdio = true;
    }
    l.leer("esVideo", p.esVideo);
    l.leer("rellenar", p.rellenar);
    l.leer("fondoTam", p.fondoTam);
    l.leer("fondoPos", p.fondoPos);
    l.leer("alTerminar", p.alTerminar);
    l.leer("volumen", p.volumen);
    l.leer("micro", p.micro);
    l.leer("camara", p.camara);
    l.leer("camTam", p.camTam);
    l.leer("camPos", p.camPos);
    l.leer("titulo", p.titulo);
    l.leer("subtitulo", p.subtitulo);
    l.leer("textoTam", p.textoTam);
    l.leer("textoPos", p.textoPos);
    p.redes = leerRedes(j, l.perdio);
    l.leer("redesTam", p.redesTam);
    l.leer("redesPos", p.redesPos);
    l.leer("redesFila", p.redesFila);
    l.leer("sinInternet", p.sinInternet);
    if (perdio && l.perdio) *perdio = true;
    return p;
}

Json aJson(const Pantalla& p) {
    Json j = Json::object();
    j["id"] = p.id;
    j["nombre"] = p.nombre;
    if (p.archivo) j["archivo"] = *p.archivo;
    j["esVideo"] = p.esVideo;
    j["rellenar"] = p.rellenar;
    j["fondoTam"] = p.fondoTam;
    j["fondoPos"] = p.fondoPos;
    j["alTerminar"] = p.alTerminar;
    j["volumen"] = p.volumen;
    j["micro"] = p.micro;
    j["camara"] = p.camara;
    j["camTam"] = p.camTam;
    j["camPos"] = p.camPos;
    j["titulo"] = p.titulo;
    j["subtitulo"] = p.subtitulo;
    j["textoTam"] = p.textoTam;
    j["textoPos"] = p.textoPos;
    Json redes = Json::array();
    for (const Red& r : p.redes) redes.push_back(Json{{"tipo", r.tipo}, {"usuario", r.usuario}});
    j["redes"] = std::move(redes);
    j["redesTam"] = p.redesTam;
    j["redesPos"] = p.redesPos;
    j["redesFila"] = p.redesFila;
    j["sinInternet"] = p.sinInternet;
    return j;
}

std::optional<std::vector<Pantalla>> pantallasDeJson(const Json& j, bool* perdio) {
    if (!j.is_array()) return std::nullopt;
    std::vector<Pantalla> lista;
    lista.reserve(j.size());
    for (const Json& e : j) {
        if (!e.is_object()) return std::nullopt;
        lista.push_back(pantallaDeJson(e, perdio));
    }
    return lista;
}

Json aJson(const std::vector<Pantalla>& lista) {
    Json j = Json::array();
    for (const Pantalla& p : lista) j.push_back(aJson(p));
    return j;
}

}  // namespace tt
