#include "aforo.h"

#include <sys/resource.h>

#include <algorithm>

namespace tt::control {

std::shared_ptr<Aforo::Plaza> Aforo::tomar(const boost::asio::ip::address& d) {
    {
        std::lock_guard l(candado_);
        auto& n = porDir_[d];
        const bool libre = std::find(libres_.begin(), libres_.end(), d) != libres_.end();
        if (ocupadas_ >= total_ || (n >= porDireccion_ && !libre)) {
            if (n == 0) porDir_.erase(d);
            return nullptr;
        }
        ++n;
        ++ocupadas_;
    }
    return std::make_shared<Plaza>(shared_from_this(), d);
}

void Aforo::soltar(const boost::asio::ip::address& d) {
    std::lock_guard l(candado_);
    --ocupadas_;
    auto it = porDir_.find(d);
    if (it != porDir_.end() && --it->second == 0) porDir_.erase(it);
}

std::size_t Aforo::ocupadas() const {
    std::lock_guard l(candado_);
    return ocupadas_;
}

std::size_t Aforo::segunDescriptores() {
    rlimit r{};
    const std::size_t limite = getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY ? r.rlim_cur : 4096;
    // The base, its journal, the served files and the listening socket need some of them.
    return std::clamp<std::size_t>(limite > 64 ? limite - 64 : limite / 2, 8, 100000);
}

}  // namespace tt::control
