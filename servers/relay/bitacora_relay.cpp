#include "bitacora_relay.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace tt::relay {

void anotar(const std::string& texto) {
    static std::mutex candado;  // publishing threads log too
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char hora[16];
    std::strftime(hora, sizeof hora, "%H:%M:%S", &local);
    std::lock_guard l(candado);
    std::fprintf(stderr, "%s %s\n", hora, texto.c_str());
    std::fflush(stderr);
}

}  // namespace tt::relay
