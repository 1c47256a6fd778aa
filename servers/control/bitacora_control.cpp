#include "bitacora_control.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace tt::control {

void anotar(const std::string& texto) {
    static std::mutex m;  // lines from the pool's threads must not interleave
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char hora[16];
    std::strftime(hora, sizeof hora, "%H:%M:%S", &tm);
    std::lock_guard l(m);
    std::fprintf(stderr, "%s %s\n", hora, texto.c_str());
    std::fflush(stderr);
}

}  // namespace tt::control
