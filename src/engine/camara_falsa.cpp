#include "engine/camara_falsa.h"

#include "comun/reloj.h"
#include "engine/convertir.h"

#include <QImageReader>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>

namespace tt {

namespace asio = boost::asio;

std::vector<Cuadro> cuadrosFalsos(const QImage& imagen, bool ruido, std::uint32_t semilla) {
    auto base = imagenANv12709(imagen, 1920, 1080);
    if (!base) return {};
    base->duracion = 0;
    std::vector<Cuadro> lista{*base};
    if (!ruido) return lista;
    std::mt19937 azar(semilla);
    const std::size_t luma = std::size_t(base->pasoY) * base->alto;
    const std::size_t desde = luma / 3, largo = luma / 3;
    for (int i = 0; i < 12; ++i) {
        Cuadro c = nuevoCuadro(base->ancho, base->alto);
        c.bt709 = true;
        std::memcpy(c.memoria->data(), base->memoria->data(), base->memoria->size());
        std::uint8_t* p = c.y() + desde;
        for (std::size_t j = 0; j + 4 <= largo; j += 4) {
            const std::uint32_t r = azar();
            std::memcpy(p + j, &r, 4);
        }
        for (std::size_t j = largo & ~std::size_t(3); j < largo; ++j) p[j] = std::uint8_t(azar());
        lista.push_back(std::move(c));
    }
    return lista;
}

QImage leerImagenFalsa(const std::string& ruta) {
    QImageReader lector(QString::fromStdString(ruta));
    lector.setAutoTransform(true);
    const QSize tam = lector.size();
    if (tam.isValid() && tam.width() > 1920)
        lector.setScaledSize(QSize(1920, std::max(1, int(qint64(tam.height()) * 1920 / tam.width()))));
    return lector.read();
}

CamaraFalsa::CamaraFalsa(std::vector<Cuadro> cuadros, int ritmo)
    : cuadros_(std::move(cuadros)), ritmo_(std::max(1, ritmo)) {}

CamaraFalsa::~CamaraFalsa() {
    if (falsa_) falsa_->cancelar();
}

namespace {

// A timer that keeps its deadlines on a fixed grid (next = last deadline + period), so the work
// it runs does not slow the rate down; after a stall longer than a period it starts a new grid.
class Metronomo : public Temporizador, public std::enable_shared_from_this<Metronomo> {
public:
    Metronomo(asio::io_context& io, double periodo, std::function<void()> fn)
        : t_(io), periodo_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(periodo))),
          fn_(std::move(fn)) {}
    void empezar() {
        vence_ = std::chrono::steady_clock::now() + periodo_;
        armar();
    }
    void cancelar() override {
        cancelado_ = true;
        asio::post(t_.get_executor(), [yo = shared_from_this()] { yo->t_.cancel(); });
    }

private:
    void armar() {
        t_.expires_at(vence_);
        t_.async_wait([yo = shared_from_this()](const boost::system::error_code& e) {
            if (e || yo->cancelado_) return;
            yo->fn_();
            const auto ya = std::chrono::steady_clock::now();
            yo->vence_ += yo->periodo_;
            if (yo->vence_ + yo->periodo_ < ya) yo->vence_ = ya + yo->periodo_;
            yo->armar();
        });
    }

    asio::steady_timer t_;
    std::chrono::steady_clock::duration periodo_;
    std::chrono::steady_clock::time_point vence_;
    std::function<void()> fn_;
    std::atomic<bool> cancelado_{false};
};

}  // namespace

Cuadro CamaraFalsa::siguiente(double ahora) {
    Cuadro c = cuadros_[k_++ % cuadros_.size()];
    c.hora = ahora;
    c.duracion = 1.0 / ritmo_;
    return c;
}

void CamaraFalsa::arrancar(Cola& cola, std::function<void(const Cuadro&)> entregar) {
    if (cuadros_.empty() || falsa_) return;
    auto m = std::make_shared<Metronomo>(cola.contexto(), 1.0 / ritmo_,
                                         [this, entregar = std::move(entregar)] { entregar(siguiente(ahora())); });
    asio::post(cola.contexto(), [m] { m->empezar(); });
    falsa_ = m;
}

}  // namespace tt
