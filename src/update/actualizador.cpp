#include "update/actualizador.h"

#include "comun/bitacora.h"
#include "principal/principal.h"
#include "comun/proceso.h"
#include "update/paquete.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace tt {

namespace fs = std::filesystem;

namespace {

constexpr qint64 kTopeVersion = 64 << 10;
constexpr qint64 kTopeZip = qint64(1) << 30;

std::string minusculas(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

QNetworkRequest pedido(const std::string& url, int espera) {
    QNetworkRequest p{QUrl(QString::fromStdString(url), QUrl::StrictMode)};
    p.setTransferTimeout(espera);
    p.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // The feed names no other place: an answer that points elsewhere is not followed.
    p.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return p;
}

int estadoDe(QNetworkReply* r) {
    const QVariant v = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return v.isValid() ? v.toInt() : 0;
}

}  // namespace

Actualizador::Actualizador(std::string sitio, fs::path recursos, QObject* padre)
    : QObject(padre), sitio_(std::move(sitio)), recursos_(std::move(recursos)),
      datos_(leerDatosApp(leerJson(recursos_ / "app.json", 64 << 10))), red_(new QNetworkAccessManager(this)) {}

Actualizador::~Actualizador() {
    for (auto* r : red_->findChildren<QNetworkReply*>()) r->disconnect(this);
}

std::string Actualizador::base() const {
    const bool local = sitio_.starts_with("127.") || sitio_.starts_with("localhost");
    return (local ? "http://" : "https://") + sitio_;
}

void Actualizador::empezar() {
    if (reloj_) return;
    const auto& e = entorno();
    auto modo = e.texto(Tm::actualizar);
    if ((e.tiene(Tm::datos) && !modo) || modo == "no") return;
    reloj_ = new QTimer(this);
    connect(reloj_, &QTimer::timeout, this, &Actualizador::revisar);
    reloj_->start(int(periodo * 1000));
    QTimer::singleShot(int(primera * 1000), this, &Actualizador::revisar);
}

void Actualizador::revisar() {
    if (ocupado_) return;
    QNetworkReply* r = red_->get(pedido(base() + "/app/version", 15000));
    connect(r, &QNetworkReply::downloadProgress, r, [r](qint64 recibido, qint64 total) {
        if (recibido > kTopeVersion || total > kTopeVersion) r->abort();
    });
    connect(r, &QNetworkReply::finished, this, [this, r] {
        r->deleteLater();
        if (r->error() != QNetworkReply::NoError || estadoDe(r) != 200) return;  // silent: the next check
        const QByteArray cuerpo = r->read(kTopeVersion + 1);
        auto j = Json::parse(cuerpo.constData(), cuerpo.constData() + cuerpo.size(), nullptr, false);
        auto a = leerAnuncio(j);
        if (!a) return;
        if (!mayor(a->build, datos_.build)) {
            if (!dichoAlDia_) bitacora("actualización: no hay nada más nuevo que el build " + datos_.build);
            dichoAlDia_ = true;
            pendiente_.reset();
            return;
        }
        if (!pendiente_)
            bitacora("hay una versión nueva: " + a->version.value_or("?") + " (" + a->build + "); esta es " +
                     datos_.build);
        pendiente_ = std::move(a);
        ofrecer();
    });
}

void Actualizador::ofrecer() {
    Momento m;
    m.ocupado = ocupado_;
    m.vivo = alVivo && alVivo();
    m.ventanaLibre = alVentanaLibre && alVentanaLibre();
    m.automatico = entorno().texto(Tm::actualizar) == "auto";
    switch (decidirOferta(m, pendiente_, pospuesta_)) {
        case Oferta::nada: return;
        case Oferta::instalar: return instalar(*pendiente_);
        case Oferta::preguntar:
            if (alPreguntar) alPreguntar(*pendiente_);
            return;
    }
}

void Actualizador::alDetener() {
    QPointer<Actualizador> yo = this;
    QTimer::singleShot(int(esperaDetenida * 1000), this, [yo] {
        if (!yo) return;
        if (yo->salirAlDetener_) {
            if (yo->alSalir && !(yo->alVivo && yo->alVivo())) yo->alSalir();
        } else if (yo->pendiente_) yo->ofrecer();
    });
}

void Actualizador::instalar(const Anuncio& a) {
    if (ocupado_ || (alVivo && alVivo())) return;
    auto instalada = instalacionReemplazable(recursos_);
    if (!instalada) {
        pendiente_ = a;  // fallar postpones this build
        return fallar(kMoverCarpeta, false);
    }
    ocupado_ = true;
    pendiente_ = a;
    if (alDecir) alDecir("Descargando la versión nueva…", false);
    // Named after the process, so a second copy running at once never shares it.
    std::error_code ec;
    trabajo_ = fs::temp_directory_path(ec) / ("tm-actualiza-" + std::to_string(getpid()));
    fs::remove_all(trabajo_, ec);
    if (!fs::create_directories(trabajo_, ec) || fs::is_symlink(fs::symlink_status(trabajo_, ec))) {
        return fallar("no se pudo guardar el paquete", true);
    }
    fs::permissions(trabajo_, fs::perms::owner_all, ec);
    zip_ = std::make_unique<QFile>(QString::fromStdString((trabajo_ / "app.zip").string()));
    if (!zip_->open(QIODevice::WriteOnly | QIODevice::NewOnly)) return fallar("no se pudo guardar el paquete", true);

    QNetworkReply* r = red_->get(pedido(base() + "/app/zip", 60000));
    auto roto = std::make_shared<bool>(false);
    connect(r, &QNetworkReply::readyRead, this, [this, r, roto] {
        if (*roto) return;
        const QByteArray b = r->readAll();
        if (zip_->size() + b.size() > kTopeZip || zip_->write(b) != b.size()) {
            *roto = true;
            r->abort();
        }
    });
    connect(r, &QNetworkReply::finished, this, [this, r, a, instalada = *instalada, roto] {
        r->deleteLater();
        const QByteArray resto = r->readAll();
        const bool bien = !*roto && r->error() == QNetworkReply::NoError && estadoDe(r) == 200 &&
                          zip_->write(resto) == resto.size() && zip_->flush();
        zip_.reset();
        if (!bien) return fallar("no se pudo bajar el paquete", true);
        QPointer<Actualizador> yo = this;
        cola_.asincrono([yo, this, a, instalada, trabajo = trabajo_] {
            auto error = verificar(a, instalada, trabajo);
            enPrincipal([yo, a, error] {
                if (!yo) return;
                if (error) return yo->fallar(*error, true);
                bitacora("actualización: paquete " + a.build + " listo; la app se cierra para cambiarse");
                // A transmission started during the download is not cut: the script waits for
                // this process, which quits once the transmission stops.
                if (yo->alVivo && yo->alVivo()) yo->salirAlDetener_ = true;
                else if (yo->alSalir) yo->alSalir();
            });
        });
    });
}

std::optional<std::string> Actualizador::verificar(const Anuncio& a, const fs::path& instalada,
                                                  const fs::path& trabajo) const {
    const fs::path zip = trabajo / "app.zip";
    auto sha = sha256DeArchivo(zip);
    if (!sha) return "no se pudo bajar el paquete";
    if (*sha != minusculas(a.sha256)) return "el paquete no coincide con el publicado";
    // Who made it, before a single entry of it is unpacked.
    if (!firmaValida(*sha, a.firma, recursos_ / "actualizaciones.pem")) return "el paquete llegó dañado (firma)";
    if (auto error = desempacar(zip, trabajo)) {
        bitacora("actualización: " + *error);
        return "no se pudo abrir el paquete";
    }
    std::error_code ec;
    fs::remove(zip, ec);
    const fs::path nueva = trabajo / instalada.filename();
    const DatosApp suya = leerDatosApp(leerJson(nueva / "share" / "tremolante" / "app.json", 64 << 10));
    const fs::path exe = nueva / "bin" / "tremolante";
    if (!esLaEsperada(datos_, suya, a.build) || !fs::is_regular_file(exe, ec) || access(exe.c_str(), X_OK) != 0)
        return "el paquete no es la app esperada";
    // The encoder is a link to this machine's ffmpeg, which no package carries: the new copy
    // keeps the one installed.
    const fs::path enlace = fs::path("share") / "tremolante" / "ffmpeg";
    if (!fs::exists(fs::symlink_status(nueva / enlace, ec)))
        if (auto destino = fs::read_symlink(instalada / enlace, ec); !ec)
            fs::create_symlink(destino, nueva / enlace, ec);
    if (!lanzarGuion(guionCambio(getpid(), instalada, nueva, trabajo))) return "no arrancó el instalador";
    return std::nullopt;
}

void Actualizador::fallar(const std::string& texto, bool manual) {
    ocupado_ = false;
    zip_.reset();
    if (!trabajo_.empty()) {
        std::error_code ec;
        fs::remove_all(trabajo_, ec);  // nothing of a refused package stays behind
        trabajo_.clear();
    }
    bitacora("actualización: " + texto);  // once it is gone: whoever reads the log finds it clean
    if (pendiente_) pospuesta_ = pendiente_->build;
    if (alDecir) alDecir(manual ? textoManual() : std::string(texto), true);
}

}  // namespace tt
