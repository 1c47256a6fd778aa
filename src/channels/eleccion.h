#pragma once

#include "channels/canales.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace tt {

class Almacen;

// The channel whose id is stored under "canal", else the first one; nothing without channels.
std::optional<Canal> canalElegido(const Canales& canales, const std::optional<std::string>& guardado);
std::optional<Canal> canalElegido(const Canales& canales, const QSettings& preferidas);

// Whether the chosen channel's screens must be (re)loaded: always when forced or before the
// interface is ready, otherwise only when another channel is chosen (no channel = no channel).
bool hayQueCargar(const std::optional<Canal>& elegido, const std::optional<std::string>& cargado,
                  bool uiLista, bool forzar);

// The folder of the chosen channel's screens: the account folder without a channel, else the
// channel's folder, made here. The first time a "canales" folder is made in the data folder
// itself, the screens made before channels existed move into this channel.
std::filesystem::path baseDeCanal(const Canales& canales, const std::optional<Canal>& elegido);

// Writes the current store (when there is one), then opens the chosen channel's and records its
// id in `cargado`.
std::unique_ptr<Almacen> abrirCanal(const Canales& canales, const std::optional<Canal>& elegido,
                                    Almacen* actual, std::optional<std::string>& cargado);

// The "Mezclar a mono" choice: "mono." + the channel's id when stored, else "mono".
bool mezclarMono(const QSettings& preferidas, const std::optional<Canal>& elegido);

// The channel pop-up: its items, the one to select and the title above the screens.
struct MenuCanales {
    struct Item {
        std::string titulo;
        std::string marca;  // a channel id, or "+" (open the sheet)
        bool separador = false;
    };
    std::vector<Item> items;
    int elegido = 0;
    std::string tituloPantallas;
};
MenuCanales menuCanales(const Canales& canales, const std::optional<Canal>& elegido);

}  // namespace tt
