#pragma once

// Tells the control service how many seconds each permission has been on air, so it lowers the
// account's balance, and whether the destination is taking the stream now, so the app can say so.
// A report carries the total so far, never an increment: one repeated after a lost answer counts
// once. Unacknowledged reports are sent again, with what is newest, until the service takes them.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tt::relay {

// Owner: the server's thread.
class Informes {
public:
    Informes(boost::asio::io_context& io, std::string host, std::uint16_t puerto, std::string secreto,
             double reintento = 2);
    Informes(const Informes&) = delete;
    Informes& operator=(const Informes&) = delete;

    // `publicando`: the destination takes the stream (nothing: the stream ended).
    void anotar(const std::string& sid, long long total, std::optional<bool> publicando = std::nullopt);
    // How many transmissions are open on the relay called `nombre`. Not retried: the next one follows.
    void cargar(const std::string& nombre, long transmisiones);
    void parar();  // also drops the reports on their way: nothing waits for the service after it
    std::size_t pendientes() const { return cuentas_.size(); }

private:
    struct Cuenta {
        long long total = 0;
        std::optional<bool> publicando;
        bool enVuelo = false;
    };
    struct Envio;
    void mandar(const std::string& sid);
    // POSTs a signed body; `fin` gets the answer's status (0: none).
    void enviar(const std::string& ruta, std::string cuerpo, std::function<void(int)> fin);
    void programar();

    boost::asio::io_context& io_;
    std::string host_;
    boost::asio::ip::address ip_;
    std::uint16_t puerto_;
    std::string secreto_;
    double reintento_;
    std::map<std::string, Cuenta> cuentas_;  // not yet acknowledged
    boost::asio::steady_timer reloj_;
    std::vector<std::weak_ptr<Envio>> enVuelo_;
    bool programado_ = false, parado_ = false;
    bool cargaEnVuelo_ = false;
    int cargaRechazada_ = 0;  // the status of the last refusal, said once
};

}  // namespace tt::relay
