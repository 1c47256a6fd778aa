#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tt {

// Which RTMP destinations the control service grants and the relay publishes to. librtmp reads
// more than a URL: a blank followed by "name=value" sets its options (a SOCKS proxy, timeouts, a
// SWF to fetch), and "rtmpt"/"rtmpe" make it POST to, or tunnel through, whatever host is named.
// A destination is therefore only "rtmp://" or "rtmps://", a host name or address, an optional
// port and a path, in printable characters without blanks.
struct ReglasDestino {
    bool locales = false;               // loopback and private addresses allowed (local stack, tests)
    std::vector<std::string> sufijos;   // the host must be one of these or below one; empty: any
};

// Nothing when the destination may be used; otherwise why not, in Spanish. Addresses are checked
// as written: a name is not resolved here.
std::optional<std::string> destinoRechazado(std::string_view url, const ReglasDestino& reglas);

// "a.example, .b.example" → {"a.example", "b.example"}: the operator's list of host suffixes.
std::vector<std::string> sufijosDe(std::string_view lista);

}  // namespace tt
