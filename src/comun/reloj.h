#pragma once

namespace tt {

// Seconds of the monotonic clock: the common clock of capture, engine and uplink.
double ahora();

}  // namespace tt
