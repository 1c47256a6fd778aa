#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tt {

// Whether this ffmpeg can put AV1 into FLV, found with a one-frame test encode on a thread of its
// own, so no frame and no window ever waits for it. Known once per process; later owners reuse the
// answer. Owner: the engine; cerrar (or the destructor) ends a running check and joins its thread.
class PruebaAv1 {
public:
    PruebaAv1() = default;
    ~PruebaAv1() { cerrar(); }
    PruebaAv1(const PruebaAv1&) = delete;
    PruebaAv1& operator=(const PruebaAv1&) = delete;

    void empezar(const std::string& ffmpeg);  // in the background, unless known or running
    std::optional<bool> resultado() const;
    // Blocks until the answer is known (starting the check if needed); nothing once closed.
    std::optional<bool> esperar(const std::string& ffmpeg);
    void cerrar();

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool cerrada_ = false;
    std::jthread hilo_;
};

}  // namespace tt
