#pragma once

#include "comun/json.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tt {

// Developer settings of config.json in the home data folder.
struct Config {
    std::string servidor = "rtmp://127.0.0.1:1938/live/mac";
    int kbps = 1600;
    int preset = 6;
    std::optional<std::string> entrada;
    std::optional<std::string> clave;
};

Json aJson(const Config& c);
std::optional<Config> configDeJson(const Json& j);  // nothing when a required key is missing or mistyped

// Reads the file or, when it is missing or damaged, writes and returns the defaults. A damaged
// file is first kept beside it as "config.json.dañado" so its entry point and key can be recovered.
Config leerConfig(const std::filesystem::path& carpeta);
Config leerConfig();  // in the home data folder

}  // namespace tt
