#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt {

// A chunk sent on a link and not yet acknowledged.
struct Trozo {
    std::string datos;
    double enviado = 0;
    bool copia = false;   // has a second copy on another link, or is itself such a copy
    bool latido = false;  // filler sent only to hear from an idle link; carries nothing
};

enum class Etapa {
    conectando,  // waiting for the relay's challenge
    saludado,    // answer sent, waiting for the verdict
    admitido,    // binary: chunks and acknowledgements
};

// One link's state and arithmetic: handshake stage, chunks in flight, delay, window, quality and
// penalties. Pure: time comes in as `ahora`, the socket lives in the uplink's shell.
// Owner: the uplink's Despacho (on the queue "tm.reparto").
class Enlace {
public:
    static constexpr double ventanaInicial = 131072;
    static constexpr double ventanaMaxima = 2097152;
    static constexpr double ventanaMinima = 65536;
    static constexpr std::int64_t topeMinimo = 16384;

    Enlace(std::string bsd, std::string nombre) : bsd_(std::move(bsd)), nombre_(std::move(nombre)) {}

    const std::string& bsd() const { return bsd_; }
    const std::string& nombre() const { return nombre_; }
    bool conectado() const { return con_; }  // a connection exists (the socket belongs to the shell)
    Etapa etapa() const { return etapa_; }
    bool listo() const { return etapa_ == Etapa::admitido; }
    double intentoEn() const { return intentoEn_; }
    const std::map<std::uint32_t, Trozo>& enVuelo() const { return enVuelo_; }
    std::int64_t bytesEnVuelo() const { return bytesEnVuelo_; }
    // Bytes handed to the connection that it has not written yet.
    std::int64_t sinMandar() const { return sinMandar_; }
    std::int64_t confirmados() const { return confirmados_; }
    int kbps() const { return kbps_; }
    double ultimoAcuse() const { return ultimoAcuse_; }
    double castigoHasta() const { return castigoHasta_; }
    int fallas() const { return fallas_; }
    double demora() const { return demora_; }
    // How long an acknowledgement may take on this link, from its recent ones (their smoothed
    // time plus four times their smoothed deviation): a chunk out longer is likely lost.
    double esperaAcuse() const { return demora_ + 4 * desvio_; }
    double demoraBase() const { return demoraBase_; }
    double demoraMin() const { return demoraMin_; }
    double calidad() const { return calidad_; }
    double ventana() const { return ventana_; }
    double graciaHasta() const { return graciaHasta_; }
    int copiados() const { return copiados_; }
    std::int64_t tope() const;  // usable window: ventana × calidad, never below topeMinimo
    bool castigado(double ahora) const { return ahora < castigoHasta_; }
    std::size_t oidoSinLeer() const { return bufer_.size(); }

    // Connection life.
    void conectar(double ahora);
    void saludado() { etapa_ = Etapa::saludado; }
    void admitir(double ahora);
    void soltar(double ahora);  // what a drop resets (delays, quality and penalties stay)
    void reintentarYa() { intentoEn_ = 0; }
    void darGracia(double hasta) { graciaHasta_ = hasta; }

    // Bytes from the relay, parsed by the caller.
    void oir(std::string_view bytes) { bufer_.append(bytes); }
    std::optional<std::string> sacarLinea();
    std::vector<std::uint32_t> sacarAcuses();

    // Bytes handed to the connection, and bytes it reports written.
    void entregado(std::size_t n) { sinMandar_ += std::int64_t(n); }
    void escrito(std::size_t n);

    // A chunk goes out on this link (replacing an entry of the same number). Sent into an empty
    // flight, it starts the silence clock.
    void poner(std::uint32_t seq, std::string datos, double ahora, bool copia, bool latido = false);
    // Any acknowledgement is a sign of life; one of a chunk held here settles it and runs the
    // delay, window and quality arithmetic. Gives the settled entry.
    std::optional<Trozo> acusar(std::uint32_t seq, double ahora);
    // The fallback image arrived: its grace ends.
    void respaldoConfirmado() { graciaHasta_ = 0; }
    // A late entry was copied to another link: it counts against this link's quality.
    void copiado(std::uint32_t seq);
    // The other copy of an entry is gone: its acknowledgement counts like any other.
    void descopiar(std::uint32_t seq);
    // Takes every entry out of the flight.
    std::map<std::uint32_t, Trozo> vaciar();
    void olvidarCopiados() { copiados_ = 0; }

    // Admitted, nothing in flight for `segundos`, no grace running: its silence proves nothing.
    bool ocioso(double ahora, double segundos) const;

    // Stall check of an admitted link. Applies the penalty when another healthy link exists; the
    // caller drops the link when `atascado`. `castigo` is the penalty in seconds (0: none).
    // `topeSinMandar`: bytes the connection may hold unwritten beyond those in flight (so already
    // acknowledged) before the link counts as stalled.
    struct Atasco {
        bool atascado = false;
        double castigo = 0;
    };
    Atasco revisarAtasco(double ahora, bool otraSana, std::int64_t topeSinMandar);

    // 90 s after the last penalty ended the count starts over; true when that happened now.
    bool recuperar(double ahora);

    // Throughput over the last dt seconds.
    void muestra(double dt);

private:
    std::string bsd_;
    std::string nombre_;
    bool con_ = false;
    Etapa etapa_ = Etapa::conectando;
    double intentoEn_ = 0;  // last connect attempt or drop; 0: a retry is due at once
    std::string bufer_;
    std::map<std::uint32_t, Trozo> enVuelo_;
    std::int64_t bytesEnVuelo_ = 0;
    std::int64_t sinMandar_ = 0;
    std::int64_t confirmados_ = 0;
    std::int64_t confirmadosAntes_ = 0;
    int kbps_ = 0;
    double ultimoAcuse_ = 0;  // also set at admission and when a chunk goes into an empty flight
    double vacioDesde_ = 0;   // when the flight last became empty
    double castigoHasta_ = 0;
    int fallas_ = 0;
    double demora_ = 0;
    double desvio_ = 0;
    double demoraBase_ = 0;
    double calidad_ = 1.0;
    int copiados_ = 0;
    double graciaHasta_ = 0;
    double ventana_ = ventanaInicial;
    double recorteEn_ = 0;
    double demoraMin_ = 0;
};

}  // namespace tt
