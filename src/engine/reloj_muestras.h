#pragma once

#include <cstdint>
#include <optional>

namespace tt {

// Times for a microphone's buffers from its sample count rather than from when each buffer
// happens to reach the program: the audio server hands buffers over in bursts, tens of
// milliseconds late and unevenly, and timing each by its arrival would make the engine insert
// silence and cut overlaps all along a continuous sound. Arrivals are only ever late, so the
// earliest offset seen anchors the count; it follows a device clock slower than the system's
// by at most a millisecond per second, and a jump of more than 0.2 s (samples lost) re-anchors it.
// Pure: the arrival time is passed in.
class RelojMuestras {
public:
    // The time of the first sample of a buffer of `cuadros` sample frames that arrived at `llegada`.
    double hora(double llegada, std::int64_t cuadros, int hz);

private:
    std::int64_t contados_ = 0;
    std::optional<double> base_;
    double ultimaLlegada_ = 0;
};

}  // namespace tt
