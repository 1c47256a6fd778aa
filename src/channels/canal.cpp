#include "channels/canal.h"

#include <QUrl>
#include <QUuid>

namespace tt {

const std::string Canal::servidorKick = "rtmps://fa723fc1b171.global-contribute.live-video.net/app/";

namespace {

bool blanco(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string recortar(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && blanco(s[a])) ++a;
    while (b > a && blanco(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool conBlancos(const std::string& s) {
    for (char c : s)
        if (blanco(c)) return true;
    return false;
}

bool esRtmp(const std::string& s) { return s.rfind("rtmp://", 0) == 0 || s.rfind("rtmps://", 0) == 0; }

}  // namespace

Canal Canal::nuevo() {
    Canal c;
    c.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    return c;
}

std::optional<std::string> Canal::destino() const {
    std::string k = recortar(clave), s = recortar(servidor);
    // Any blank left inside would split the encoder's output argument.
    if (k.empty() || conBlancos(k)) return std::nullopt;
    if (esRtmp(k)) return k;  // a whole URL pasted into the key field
    if (!esRtmp(s) || conBlancos(s)) return std::nullopt;
    QUrl url(QString::fromStdString(s), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    // An empty or "/" path becomes "/app/"; the rest of the text stays as typed.
    std::size_t autoridad = s.find("://") + 3;
    std::size_t finAutoridad = s.find_first_of("/?#", autoridad);
    if (finAutoridad == std::string::npos) finAutoridad = s.size();
    std::size_t finRuta = s.find_first_of("?#", finAutoridad);
    if (finRuta == std::string::npos) finRuta = s.size();
    std::string ruta = s.substr(finAutoridad, finRuta - finAutoridad);
    if (ruta.empty() || ruta == "/") s = s.substr(0, finAutoridad) + "/app/" + s.substr(finRuta);
    if (s.back() != '/') s += '/';
    return s + k;
}

Json aJson(const Canal& c) {
    return Json{{"id", c.id}, {"nombre", c.nombre}, {"servidor", c.servidor}, {"clave", c.clave}};
}

std::optional<Canal> canalDeJson(const Json& j) {
    if (!j.is_object()) return std::nullopt;
    Canal c;
    const std::pair<const char*, std::string*> campos[] = {
        {"id", &c.id}, {"nombre", &c.nombre}, {"servidor", &c.servidor}, {"clave", &c.clave}};
    for (auto [clave, campo] : campos) {
        auto it = j.find(clave);
        if (it == j.end() || !it->is_string()) return std::nullopt;
        *campo = it->get<std::string>();
    }
    return c;
}

}  // namespace tt
