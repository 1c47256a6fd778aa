#pragma once

#include "empalme.h"

#include <string>

namespace tt::relay {

// What the encoder made of the fallback picture; `aviso` says in Spanish what could not be made
// (the rest is still usable: without video the stream's last key frame is repeated).
struct RellenoHecho {
    Relleno relleno;
    std::string aviso;
};

// Makes the picture and the silence in the stream's own format with FFmpeg's libraries: the JPEG
// decoded and scaled to the size of the stream's key frame, encoded as H.264 with a key frame
// every half second at the stream's rate (only for an H.264 stream), and one AAC frame of silence
// at the stream's sample rate and channels (only for an AAC stream). Blocking and CPU-bound
// (tens of milliseconds): run it off the network thread. An empty `jpeg` gives the silence only.
RellenoHecho hacerRelleno(const std::string& jpeg, const Formato& f);

}  // namespace tt::relay
