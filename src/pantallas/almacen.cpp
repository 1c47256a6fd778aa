#include "pantallas/almacen.h"

#include "comun/bitacora.h"
#include "comun/cola.h"
#include "comun/proceso.h"
#include "pantallas/imagen.h"
#include "principal/principal.h"

#include <QImageReader>
#include <QMimeDatabase>
#include <QSettings>
#include <QTimer>

#include <utility>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tt {

namespace fs = std::filesystem;

namespace {

constexpr int ladoMuestra = 1280;

Pantalla nueva(const char* id, const char* nombre, const char* titulo, const char* subtitulo) {
    Pantalla p;
    p.id = id;
    p.nombre = nombre;
    p.titulo = titulo;
    p.subtitulo = subtitulo;
    return p;
}

Pantalla pantallaCamara() {
    Pantalla p = nueva("camara", "Cámara", "", "");
    p.camara = 1;
    p.micro = true;
    return p;
}

std::string minusculas(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Audio and video files alike count as audiovisual; the file must then prove it has video.
bool esAudiovisual(const std::string& ext) {
    if (ext.empty()) return false;
    QMimeDatabase db;
    for (const QMimeType& t : db.mimeTypesForFileName(QString::fromStdString("x." + ext))) {
        QStringList nombres = t.allAncestors();
        nombres.prepend(t.name());
        for (const QString& n : nombres)
            if (n.startsWith("video/") || n.startsWith("audio/")) return true;
    }
    return false;
}

void borrar(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

}  // namespace

std::optional<fs::path> apartarDanado(const fs::path& archivo) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(archivo, ec))) return std::nullopt;
    fs::path destino = archivo.string() + ".dañado";
    for (int n = 2; fs::exists(fs::symlink_status(destino, ec)) && n < 1000; ++n)
        destino = archivo.string() + ".dañado " + std::to_string(n);
    fs::rename(archivo, destino, ec);
    if (ec) {
        bitacora("archivos: no se pudo apartar " + archivo.string() + " dañado: " + ec.message());
        return std::nullopt;
    }
    bitacora("archivos: " + archivo.filename().string() + " estaba dañado; quedó guardado como " +
             destino.filename().string());
    return destino;
}

std::vector<Pantalla> Almacen::predeterminadas() {
    Pantalla pausa = nueva("pausa", "Volvemos en un momento", "Volvemos en un momento", "No te vayas");
    pausa.sinInternet = true;
    return {nueva("inicio", "Inicio", "Ya casi empezamos", "En un momento arrancamos"), pausa,
            nueva("despedida", "Despedida", "Gracias por acompañarnos", "Nos vemos en la próxima")};
}

const Pantalla& Almacen::soloAudio() {
    static const Pantalla audio = [] {
        Pantalla p = nueva("audio", "Solo audio", "Entramos a una zona de baja señal",
                           "Sube el volumen para seguir escuchándonos");
        p.micro = true;
        return p;
    }();
    return audio;
}

Almacen::Almacen() : Almacen(carpetaDatos()) {}

Almacen::Almacen(const fs::path& base)
    : lista_(base / "pantallas.json"), medios_(base / "pantallas"), pendiente_(std::make_unique<QTimer>()) {
    pendiente_->setSingleShot(true);
    pendiente_->setInterval(500);
    QObject::connect(pendiente_.get(), &QTimer::timeout, [this] { escribirEnFondo(); });
    std::error_code ec;
    fs::create_directories(medios_, ec);

    if (fs::exists(lista_, ec)) {
        std::optional<std::vector<Pantalla>> leidas;
        bool perdio = false;
        if (auto j = leerJson(lista_)) leidas = pantallasDeJson(*j, &perdio);
        if (!leidas || perdio) {
            danado_ = true;
            bitacora("pantallas: " + lista_.string() + (leidas ? " tenía valores que no se pudieron leer"
                                                                : " no se pudo leer; se usan las pantallas de siempre"));
        }
        if (leidas) pantallas_ = std::move(*leidas);
    }
    if (pantallas_.empty()) pantallas_ = predeterminadas();

    QSettings preferidas;
    const QString marca = QString::fromStdString("audioSembrada." + lista_.string());
    if (!preferidas.value(marca).toBool()) {
        preferidas.setValue(marca, true);
        if (!(*this)["audio"]) {
            pantallas_.push_back(soloAudio());
            escribir();
        }
    }
    if (!(*this)["camara"]) {
        pantallas_.insert(pantallas_.begin(), pantallaCamara());
        escribir();
    }
}

Almacen::~Almacen() {
    if (pendiente_->isActive()) escribirEnFondo();
}  // the writer ends after what was handed to it

std::optional<Pantalla> Almacen::operator[](const std::string& id) const {
    for (const Pantalla& p : pantallas_)
        if (p.id == id) return p;
    return std::nullopt;
}

std::optional<fs::path> Almacen::ruta(const Pantalla& p) const {
    if (!p.archivo || !esNombreLlano(*p.archivo)) return std::nullopt;
    return medios_ / *p.archivo;
}

std::optional<Pantalla> Almacen::deRespaldo() const {
    for (const Pantalla& p : pantallas_)
        if (p.sinInternet) return p;
    return std::nullopt;
}

void Almacen::guardar() { pendiente_->start(); }

bool Almacen::pendiente() const { return pendiente_->isActive() || *escribiendo_ > 0; }

std::function<void()> Almacen::trabajoDeEscribir() {
    pendiente_->stop();
    const bool danado = std::exchange(danado_, false);
    ++*escribiendo_;
    return [lista = lista_, j = aJson(pantallas_), danado, escribiendo = escribiendo_] {
        if (danado) apartarDanado(lista);
        if (!escribirJson(lista, j)) bitacora("pantallas: no se pudo escribir " + lista.string());
        --*escribiendo;
    };
}

void Almacen::escribir() {
    auto trabajo = trabajoDeEscribir();
    if (escritor_) escritor_->sincrono(trabajo);  // after the saves already handed over
    else trabajo();
}

void Almacen::escribirEnFondo() {
    if (!escritor_) escritor_ = std::make_unique<Cola>("tm.guardar");
    escritor_->asincrono(trabajoDeEscribir());
}

std::string Almacen::nombreLibre() const {
    auto usado = [this](const std::string& n) {
        return std::any_of(pantallas_.begin(), pantallas_.end(), [&](const Pantalla& p) { return p.nombre == n; });
    };
    std::string nombre = "Pantalla nueva";
    for (int n = 2; usado(nombre); ++n) nombre = "Pantalla nueva " + std::to_string(n);
    return nombre;
}

Pantalla Almacen::agregar() {
    Pantalla p;
    p.nombre = nombreLibre();
    pantallas_.push_back(p);
    guardar();
    return p;
}

void Almacen::actualizar(const Pantalla& p) {
    auto it = std::find_if(pantallas_.begin(), pantallas_.end(), [&](const Pantalla& q) { return q.id == p.id; });
    if (it == pantallas_.end()) return;
    *it = p;
    if (it->archivo && !esNombreLlano(*it->archivo)) it->archivo.reset();
    if (p.sinInternet)
        for (Pantalla& q : pantallas_)
            if (&q != &*it) q.sinInternet = false;
    guardar();
}

std::optional<Pantalla> Almacen::duplicar(const std::string& id) {
    auto it = std::find_if(pantallas_.begin(), pantallas_.end(), [&](const Pantalla& q) { return q.id == id; });
    if (it == pantallas_.end()) return std::nullopt;
    Pantalla copia = *it;
    copia.id = Pantalla::nuevoId();
    copia.nombre += " (copia)";
    copia.sinInternet = false;
    copia.archivo.reset();
    if (auto origen = ruta(*it)) {
        std::string ext = origen->extension().string();  // with its dot, or empty
        std::string nombre = copia.id + ext;
        std::error_code ec;
        if (fs::copy_file(*origen, medios_ / nombre, ec) && !ec) copia.archivo = nombre;
    }
    pantallas_.insert(it + 1, copia);
    guardar();
    return copia;
}

void Almacen::eliminar(const std::string& id) {
    if (id == "camara") return;
    auto it = std::find_if(pantallas_.begin(), pantallas_.end(), [&](const Pantalla& q) { return q.id == id; });
    if (it == pantallas_.end()) return;
    if (auto r = ruta(*it)) {
        borrar(*r);
        muestras_.erase(*it->archivo);
    }
    pantallas_.erase(it);
    guardar();
}

std::optional<std::string> Almacen::importar(const fs::path& origen, Pantalla& p) {
    auto r = copiar(origen, p.id, {});
    if (auto* error = std::get_if<std::string>(&r)) return *error;
    usar(std::get<Copia>(r), p);
    return std::nullopt;
}

Almacen::Resultado Almacen::copiar(const fs::path& origen, const std::string& id,
                                   const std::function<void(int)>& progreso) const {
    std::string ext = origen.extension().string();
    if (!ext.empty()) ext = minusculas(ext.substr(1));
    Copia c;
    c.esVideo = esAudiovisual(ext);
    // The still is taken now: a file that gives none would be a background that never shows.
    std::optional<QImage> still;
    if (c.esVideo) {
        still = cuadroDeVideo(origen, ladoMuestra);
        if (!still) return "Ese archivo no trae video que se pueda reproducir.";
    } else {
        QImageReader lector(QString::fromStdString(origen.string()));
        if (!lector.canRead()) return "Ese archivo no es un video ni una imagen.";
        still = abrirImagen(origen, ladoMuestra);
        if (!still) return "Esa imagen no se puede abrir: está dañada o es demasiado grande.";
    }
    c.still = std::move(*still);

    // The id names the copy, so it must not carry a path into the name.
    std::string base = id;
    std::replace(base.begin(), base.end(), '/', '_');
    std::replace(base.begin(), base.end(), '\0', '_');
    c.nombre = base + "-" + std::to_string(std::time(nullptr)) + "." + ext;
    // Copied under a temporary name and renamed once whole: a failed copy leaves nothing behind.
    const fs::path destino = medios_ / c.nombre, parcial = medios_ / ("." + c.nombre + ".parcial");
    std::string error;
    {
        std::FILE* de = std::fopen(origen.c_str(), "rb");
        std::FILE* a = de ? std::fopen(parcial.c_str(), "wb") : nullptr;
        if (!de || !a) error = std::strerror(errno);
        std::error_code ec;
        const auto total = de ? fs::file_size(origen, ec) : 0;
        std::vector<char> trozo(4 << 20);
        std::uintmax_t hecho = 0;
        int dicho = -1;
        while (error.empty() && de && a) {
            const std::size_t n = std::fread(trozo.data(), 1, trozo.size(), de);
            if (n > 0 && std::fwrite(trozo.data(), 1, n, a) != n) error = std::strerror(errno);
            if (n < trozo.size()) {
                if (std::ferror(de)) error = "no se pudo leer el archivo";
                break;
            }
            hecho += n;
            const int ahora = total > 0 ? int(std::min<std::uintmax_t>(100, hecho * 100 / total)) : 0;
            if (progreso && ahora != dicho) progreso(dicho = ahora);
        }
        if (de) std::fclose(de);
        if (a && std::fclose(a) != 0 && error.empty()) error = std::strerror(errno);
        if (error.empty() && progreso && dicho != 100) progreso(100);
    }
    std::error_code ec;
    if (error.empty()) fs::rename(parcial, destino, ec);
    if (!error.empty() || ec) {
        fs::remove(parcial, ec);
        return "No se pudo copiar el archivo: " + (error.empty() ? ec.message() : error);
    }
    return c;
}

void Almacen::usar(const Copia& c, Pantalla& p) {
    // A second import within the same second lands on the same name: keep the new copy.
    if (p.archivo != c.nombre) quitarFondo(p);
    muestras_[c.nombre] = c.still;
    p.archivo = c.nombre;
    p.esVideo = c.esVideo;
}

void Almacen::importarEnFondo(const fs::path& origen, const std::string& id, std::function<void(int)> progreso,
                              std::function<void(Resultado)> hecho) {
    if (!obrero_) obrero_ = std::make_unique<Cola>("tm.importar");
    std::weak_ptr<int> vida = vida_;
    obrero_->asincrono([this, vida, origen, id, progreso = std::move(progreso), hecho = std::move(hecho)] {
        auto avisar = [vida, progreso](int n) {
            if (progreso) enPrincipal([vida, progreso, n] {
                if (vida.lock()) progreso(n);
            });
        };
        auto r = std::make_shared<Resultado>(copiar(origen, id, avisar));
        enPrincipal([vida, hecho, r, medios = medios_] {
            if (vida.lock()) return hecho(std::move(*r));
            std::error_code ec;  // the store went meanwhile: nobody will use the copy
            if (auto* c = std::get_if<Copia>(r.get())) fs::remove(medios / c->nombre, ec);
        });
    });
}

void Almacen::quitarFondo(Pantalla& p) {
    if (auto r = ruta(p)) {
        borrar(*r);
        muestras_.erase(*p.archivo);
    }
    p.archivo.reset();
    p.esVideo = false;
}

std::optional<QImage> Almacen::leerMuestra(const fs::path& ruta, bool esVideo) {
    return esVideo ? cuadroDeVideo(ruta, ladoMuestra) : abrirImagen(ruta, ladoMuestra);
}

void Almacen::recordarMuestra(const Pantalla& p, const QImage& still) {
    if (ruta(p)) muestras_[*p.archivo] = still;
}

std::optional<QImage> Almacen::muestraGuardada(const Pantalla& p) const {
    if (!p.archivo) return std::nullopt;
    auto it = muestras_.find(*p.archivo);
    return it == muestras_.end() ? std::nullopt : std::optional(it->second);
}

std::optional<QImage> Almacen::muestra(const Pantalla& p) {
    auto r = ruta(p);
    if (!r) return std::nullopt;
    if (auto it = muestras_.find(*p.archivo); it != muestras_.end()) return it->second;
    auto imagen = leerMuestra(*r, p.esVideo);
    if (imagen) muestras_[*p.archivo] = *imagen;
    return imagen;
}

}  // namespace tt
