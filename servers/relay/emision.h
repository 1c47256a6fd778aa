#pragma once

#include "empalme.h"
#include "imagen_respaldo.h"
#include "uplink/publicador.h"
#include "comun/cola.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tt::relay {

// Makes the fallback pictures of every transmission on one thread of its own, so the network
// thread never encodes. A transmission asks through its mailbox; a newer request replaces one not
// yet begun; a mailbox whose transmission went away is skipped.
// Owner: the server (pedir, recoger, parar on its thread); the worker only runs hacerRelleno.
class Taller {
public:
    struct Buzon {  // guarded by the workshop's lock
        std::optional<std::pair<std::string, Formato>> pedido;  // the JPEG and the stream's format
        std::optional<RellenoHecho> hecho;
    };
    Taller() = default;
    ~Taller();
    Taller(const Taller&) = delete;
    Taller& operator=(const Taller&) = delete;
    void pedir(const std::shared_ptr<Buzon>& b, std::string jpeg, Formato f);
    std::optional<RellenoHecho> recoger(const std::shared_ptr<Buzon>& b);
    void parar();  // lets the current job finish, then joins

private:
    std::mutex candado_;  // guards fin_ and every mailbox
    bool fin_ = false;
    std::unique_ptr<Cola> cola_;  // made with the first request; one job per mailbox with a request
};

// The RTMP publication of one transmission, alive from its first data to the end of its stream:
// the reassembled bytes go through the splicer to the publisher, which gets the fallback picture
// whenever the data stops. Logs when the picture starts and ends, naming the transmission by
// `nombre` (never the destination). Owner: the relay's network thread.
class Emision {
public:
    Emision(const std::string& destino, std::string nombre, Taller& taller, double umbral);
    void datos(std::string_view bytes, double ahora);
    void revisar(double ahora);
    void imagen(std::string jpeg);  // the transmission's fallback picture, when the app sends it
    // The destination is taking what is published now; it took something at some point.
    bool publicando() const { return publicador_ && publicador_->publicando(); }
    bool haPublicado() const { return publicador_ && publicador_->haPublicado(); }
    // Ends the publication: the publisher, already told to finish, for whoever joins it.
    std::unique_ptr<Publicador> terminar();

private:
    void publicar(Empalme::Salida s);
    void pedirRelleno();

    std::string nombre_;
    Taller& taller_;
    std::shared_ptr<Taller::Buzon> buzon_ = std::make_shared<Taller::Buzon>();
    Empalme empalme_;
    std::unique_ptr<Publicador> publicador_;
    bool cabeceraPuesta_ = false;
    std::string jpeg_;
    bool jpegNuevo_ = false;
    std::uint64_t versionPedida_ = ~std::uint64_t(0);
    bool hayImagen_ = false;  // the picture in use is the app's, not the repeated key frame
};

}  // namespace tt::relay
