#include "soporte/soporte.h"

#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <thread>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tt::prueba {

namespace fs = std::filesystem;

CarpetaTemporal::CarpetaTemporal() {
    std::string plantilla = (fs::temp_directory_path() / "tm-prueba-XXXXXX").string();
    if (!::mkdtemp(plantilla.data())) throw std::runtime_error("mkdtemp");
    ruta_ = plantilla;
}

CarpetaTemporal::~CarpetaTemporal() {
    std::error_code ec;
    fs::remove_all(ruta_, ec);
}

std::string leer(const fs::path& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void escribir(const fs::path& ruta, const std::string& datos) {
    std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
    f << datos;
}

int puertoLibre() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) throw std::runtime_error("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof a;
    const bool bien = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &largo) == 0;
    ::close(s);
    if (!bien) throw std::runtime_error("bind");
    return ntohs(a.sin_port);
}

bool escuchaEn(int puerto, double segundos) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
    do {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(std::uint16_t(puerto));
        const bool conecto = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (s >= 0) ::close(s);
        if (conecto) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < fin);
    return false;
}

bool esperar(const std::function<bool()>& cond, double segundos) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::duration<double>(segundos);
    while (std::chrono::steady_clock::now() < fin) {
        QCoreApplication::processEvents();
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QCoreApplication::processEvents();
    return cond();
}

Proceso entornoDeApp(const fs::path& carpeta, std::map<std::string, std::string> extra) {
    QImage imagen(64, 36, QImage::Format_RGB32);
    imagen.fill(Qt::darkBlue);
    const auto foto = carpeta / "cam.png";
    if (!imagen.save(QString::fromStdString(foto.string()))) throw std::runtime_error("cam.png");
    const Proceso antes = proceso();
    Proceso p = antes;
    extra["TM_DATOS"] = antes.entorno.variable("TM_DATOS").value_or("");
    extra["TM_CAMARA_FALSA"] = foto.string();
    p.entorno = Entorno(std::move(extra));
    fijarProceso(p);
    return antes;
}

}  // namespace tt::prueba
