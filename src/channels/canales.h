#pragma once

#include "channels/canal.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// The account's Kick channels, kept in canales.json of the account folder; each channel's
// screens live in its own folder below "canales". Lives on the main thread, owned by the
// application object.
class Canales {
public:
    Canales();  // the account folder and the data folder of the process
    Canales(std::filesystem::path cuenta, std::filesystem::path datos);

    std::vector<Canal> lista;
    // Channels of the data folder's own canales.json when the account folder is another one:
    // those kept on this computer before signing in.
    std::vector<Canal> anteriores;

    const std::filesystem::path& archivo() const { return archivo_; }
    const std::filesystem::path& cuenta() const { return cuenta_; }
    const std::filesystem::path& datos() const { return datos_; }
    bool cuentaEsDatos() const;  // no account folder of its own: channels live in the data folder
    std::optional<Canal> operator[](const std::string& id) const;
    // The channel's folder. An id that is not a plain name gets a folder named after its digest,
    // so no id reaches outside "canales".
    std::filesystem::path carpeta(const std::string& id) const;

    void guardar(const Canal& c);
    void eliminar(const std::string& id);

private:
    void escribir();

    std::filesystem::path cuenta_;
    std::filesystem::path datos_;
    std::filesystem::path archivo_;
    bool danado_ = false;  // the file read at start lost channels: keep it before overwriting it
};

// The name of a channel's folder inside a "canales" folder.
std::string nombreDeCarpeta(const std::string& id);

}  // namespace tt
