#include "comun/sin_clave.h"

namespace tt {

std::string sinClave(const std::string& url) {
    const auto esquema = url.find("://");
    if (esquema == std::string::npos || esquema == 0) return "…";
    const std::size_t desde = esquema + 3;
    auto finHost = url.find_first_of("/?#", desde);
    std::string host = url.substr(desde, finHost == std::string::npos ? std::string::npos : finHost - desde);
    if (auto arroba = host.rfind('@'); arroba != std::string::npos) host = "…@" + host.substr(arroba + 1);
    std::string visible = url.substr(0, desde) + host;
    if (finHost == std::string::npos) return visible;
    if (url[finHost] != '/') return visible + "/…";
    // The application is kept only when something follows it: a single path element is the key.
    const auto finApp = url.find_first_of("/?#", finHost + 1);
    if (finApp == std::string::npos || url[finApp] != '/' || finApp == finHost + 1) return visible + "/…";
    return visible + url.substr(finHost, finApp - finHost) + "/…";
}

}  // namespace tt
