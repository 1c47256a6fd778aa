#pragma once

#include "comun/cola.h"
#include "comun/json.h"
#include "uplink/despacho.h"
#include "uplink/interfaces.h"
#include "protocolo/pase.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// The bonded uplink of one transmission: one TCP connection per usable network interface, each
// pinned to its interface, carrying numbered chunks to the relay. The decisions live in Despacho;
// this shell owns the sockets, the interface watch and the 0.25 s check.
// Owner: its queue "tm.reparto". `cortado`, `resumen`, `detalle`, `tomarPresion` and `sondeo`
// read what the checks published (under candadoVista), so the window's reads never wait for the
// queue.
class Reparto : public std::enable_shared_from_this<Reparto> {
public:
    // Nothing when `entrada` is not "host:port". The permission's entrada takes precedence.
    static std::shared_ptr<Reparto> crear(const std::string& entrada, const std::string& clave,
                                          std::optional<std::string> destino,
                                          std::optional<std::string> respaldo, std::optional<Pase> pase);
    ~Reparto();
    Reparto(const Reparto&) = delete;
    Reparto& operator=(const Reparto&) = delete;

    // Called once, on a background queue, when the relay ends the transmission with a reason.
    void fijarAlCortar(std::function<void(const std::string& razon)> fn);

    // Blocks the producer until the piece is taken or the uplink is inactive.
    void enviar(std::string datos);
    void terminar();
    bool cortado() const;
    Resumen resumen() const;
    std::vector<Json> detalle() const;
    // The pressure of the checks since the last call; nothing when no check ran since.
    std::optional<Presion> tomarPresion();
    void sondear(int kbps, double segundos);
    Sondeo sondeo() const;  // as of the last check

    const std::string& sesion() const { return sesion_; }
    const std::string& epoca() const { return epoca_; }
    bool activo();
    std::int64_t confirmadosTotal();  // payload bytes acknowledged since creation
    Cuentas cuentas();

private:
    struct Conexion;
    Reparto(std::string host, std::uint16_t puerto, AjustesReparto ajustes);
    void arrancar();
    void revisar();
    void cumplir(Acciones acciones);
    void conectar(const std::string& bsd);
    void soltar(const std::string& bsd);
    void mandar(const std::string& bsd, std::string bytes);
    void escribir(const std::string& bsd, const std::shared_ptr<Conexion>& c);
    void leer(const std::string& bsd, const std::shared_ptr<Conexion>& c);
    void fallo(const std::string& bsd, const std::shared_ptr<Conexion>& c);
    bool vigente(const std::string& bsd, const std::shared_ptr<Conexion>& c) const;
    void cerrarTodo();

    Cola q_;  // first member: destroyed last, after every socket that uses its io_context
    std::string host_;
    std::uint16_t puerto_;
    std::string sesion_, epoca_;
    std::unique_ptr<Despacho> d_;
    std::function<void(const std::string&)> alCortar_;
    std::map<std::string, std::shared_ptr<Conexion>> conexiones_;
    std::shared_ptr<Temporizador> reloj_;
    std::unique_ptr<VigiaInterfaces> vigia_;  // link and address events: the check runs at once
    std::map<std::string, std::string> interfaces_;  // usable now, read at most every 0.5 s
    double interfacesEn_ = -1e9;

    mutable std::mutex candadoVista;  // guards what follows: read by the engine's and the window's threads
    std::optional<double> sinRedDesde_;
    Resumen resumen_;
    std::vector<Json> detalle_;
    TramoPresion presion_;  // summed until taken
    Sondeo sondeo_;
};

}  // namespace tt
