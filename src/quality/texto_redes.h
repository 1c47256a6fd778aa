#pragma once

#include "uplink/despacho.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tt {

// The network line of the main window: the links of the uplink while on air, otherwise the
// networks the watch sees with their measured upload speed.
struct TextoRedes {
    enum Color { gris, rojo, naranja } color = gris;
    std::string texto;
};

TextoRedes textoRedes(const std::optional<Resumen>& alAire, const std::vector<std::string>& nombres,
                      const std::map<std::string, double>& sube, const std::set<std::string>& midiendo);

}  // namespace tt
