#pragma once

#include "pantallas/pantalla.h"

#include <QImage>

#include <filesystem>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class QTimer;

namespace tt {

class Cola;

// The screens of one channel, their media folder and their thumbnails. Lives on the main thread
// (its debounced save is a main-thread timer); owned by the application object, one at a time.
class Almacen {
public:
    Almacen();  // on the data folder
    explicit Almacen(const std::filesystem::path& base);
    ~Almacen();  // a save still pending is written first
    Almacen(const Almacen&) = delete;
    Almacen& operator=(const Almacen&) = delete;

    const std::vector<Pantalla>& pantallas() const { return pantallas_; }
    const std::filesystem::path& lista() const { return lista_; }
    const std::filesystem::path& medios() const { return medios_; }

    std::optional<Pantalla> operator[](const std::string& id) const;
    // medios/archivo, or nothing without a file.
    std::optional<std::filesystem::path> ruta(const Pantalla& p) const;
    // The screen the relay shows while the computer is offline.
    std::optional<Pantalla> deRespaldo() const;
    // The audio-only screen, as the defaults make it.
    static const Pantalla& soloAudio();

    Pantalla agregar();
    void actualizar(const Pantalla& p);
    std::optional<Pantalla> duplicar(const std::string& id);
    void eliminar(const std::string& id);
    // A file chosen in the editor becomes p's background; the caller saves p. Returns the
    // message to show, or nothing when it worked. A file that gives no still is refused.
    std::optional<std::string> importar(const std::filesystem::path& origen, Pantalla& p);
    // A file copied into the media folder, ready to become a screen's background.
    struct Copia {
        std::string nombre;
        bool esVideo = false;
        QImage still;
    };
    using Resultado = std::variant<Copia, std::string>;  // the copy, or the message to show
    // The same with the checks and the copy on the store's worker: `progreso` (0…100, when it
    // changes) and then `hecho` on the main thread; `usar` makes the copy a screen's background.
    // Nothing is called once the store is gone (the copy is then removed).
    void importarEnFondo(const std::filesystem::path& origen, const std::string& id,
                         std::function<void(int)> progreso, std::function<void(Resultado)> hecho);
    void usar(const Copia& c, Pantalla& p);
    void quitarFondo(Pantalla& p);
    // A still of p's background, at most 1280 × 1280; cached by file name, failures not cached.
    std::optional<QImage> muestra(const Pantalla& p);
    // The same only when it is already cached: nothing is decoded.
    std::optional<QImage> muestraGuardada(const Pantalla& p) const;
    // The still of a background file, decoded (any thread), and kept for p once decoded elsewhere.
    static std::optional<QImage> leerMuestra(const std::filesystem::path& ruta, bool esVideo);
    void recordarMuestra(const Pantalla& p, const QImage& still);

    void escribir();  // now, cancelling the pending save
    bool pendiente() const;

    // The three screens of a new list, in order.
    static std::vector<Pantalla> predeterminadas();

private:
    void guardar();  // 0.5 s after the last change
    void escribirEnFondo();
    std::function<void()> trabajoDeEscribir();  // the list as it is now, and the damaged file's fate
    std::string nombreLibre() const;
    // The checks and the copy, on any thread: read only the media folder's path.
    Resultado copiar(const std::filesystem::path& origen, const std::string& id,
                     const std::function<void(int)>& progreso) const;

    std::vector<Pantalla> pantallas_;
    std::filesystem::path lista_;
    std::filesystem::path medios_;
    std::map<std::string, QImage> muestras_;
    std::unique_ptr<QTimer> pendiente_;
    bool danado_ = false;  // the file read at opening lost data: keep it before overwriting it
    std::shared_ptr<int> vida_ = std::make_shared<int>(0);
    std::shared_ptr<std::atomic<int>> escribiendo_ = std::make_shared<std::atomic<int>>(0);
    // Writes the list (it waits for the disk) in the order of the changes; made at the first save.
    std::unique_ptr<Cola> escritor_;
    std::unique_ptr<Cola> obrero_;  // made at the first import in the background; last, so it ends first
};

// Moves a damaged file aside (name + ".dañado", or ".dañado 2", … when taken) before it is
// overwritten, and logs it. Returns the new path, or nothing when it could not be moved.
std::optional<std::filesystem::path> apartarDanado(const std::filesystem::path& archivo);

}  // namespace tt
