#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tt {

// Reads the encoder's "-progress" output ("key=value" lines) into its figures. Pure: the caller
// passes the clock and holds the engine's lock.
class Progreso {
public:
    void linea(std::string_view linea, double ahora);
    // A read of several lines, possibly ending in a partial one kept for the next read.
    void datos(std::string_view bytes, double ahora);

    std::int64_t totalBytes = 0;
    double cps = 0;
    double ritmo = 0;  // encoded media seconds per wall-clock second, smoothed
    std::optional<std::pair<std::int64_t, double>> avance;  // (output µs, clock) of the last point

private:
    std::string resto_;
};

}  // namespace tt
