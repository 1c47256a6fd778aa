#include "saludos.h"

namespace tt::relay {

namespace ip = boost::asio::ip;

ip::address Saludos::redDe(const ip::address& a) {
    if (a.is_v6() && a.to_v6().is_v4_mapped()) return redDe(ip::make_address_v4(ip::v4_mapped, a.to_v6()));
    if (a.is_v4()) return ip::address_v4(a.to_v4().to_uint() & 0xFFFFFF00u);
    auto b = a.to_v6().to_bytes();
    for (std::size_t i = 8; i < b.size(); ++i) b[i] = 0;
    return ip::address_v6(b);
}

bool Saludos::entrar(const ip::address& a) {
    const auto red = redDe(a);
    auto it = redes_.find(red);
    const int deRed = it == redes_.end() ? 0 : it->second;
    if (enCurso_ >= total_ || deRed >= porRed_) return false;
    ++redes_[red];
    ++enCurso_;
    return true;
}

void Saludos::salir(const ip::address& a) {
    auto it = redes_.find(redDe(a));
    if (it == redes_.end()) return;
    --enCurso_;
    if (--it->second <= 0) redes_.erase(it);
}

}  // namespace tt::relay
