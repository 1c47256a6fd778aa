#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tt::prueba {

// A certificate authority and a server certificate for localhost, 127.0.0.1 and extra addresses,
// made with the openssl command in a folder.
struct Certificados {
    std::filesystem::path ca, certificado, llave;
};
Certificados hacerCertificados(const std::filesystem::path& carpeta, const std::vector<std::string>& ips = {});

// A small TLS server for the upload speed test, on its own thread. It reads each POST and its body;
// when it answers, it does so once the whole body has arrived.
class ServidorTls {
public:
    enum class Modo { contesta, callado };
    // `espacio`: a network namespace (from `ip netns add`) to listen in; empty for this one.
    // `tasa`: bytes per second the server reads at, 0 for as fast as they come (loopback is too
    // fast for a figure otherwise).
    ServidorTls(const Certificados& c, Modo modo, const std::string& direccion = "127.0.0.1",
                const std::string& espacio = "", double tasa = 0);
    ~ServidorTls();
    unsigned short puerto() const;
    // Source address and body bytes of every connection that sent a whole request head.
    struct Visita {
        std::string origen;
        std::size_t cuerpo = 0;
        std::string cabecera;
    };
    std::vector<Visita> visitas() const;

    struct Estado;

private:
    std::shared_ptr<Estado> e_;
};

}  // namespace tt::prueba
