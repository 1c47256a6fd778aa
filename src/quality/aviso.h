#pragma once

#include <string>

namespace tt {

// A line for the notice line under the preview; errors in red, the rest in the secondary colour.
struct Aviso {
    std::string texto;
    bool error = false;
    bool operator==(const Aviso&) const = default;
};

}  // namespace tt
