#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tt {

// Publishes a reassembled FLV stream to an RTMP destination with librtmp, on its own thread so a
// slow or unreachable destination never holds up the reassembly. Cuts the byte stream into whole
// tags (one RTMP_Write each); after a failure waits 5 s, dropping what waited, reconnects and
// repeats the stream's metadata and decoder set-up tags before going on. Every blocking step
// (connecting, the RTMP handshake, each write) gives up after a few seconds, so a destination that
// stops answering never holds the worker, and terminar is never kept waiting long. Holds at most
// 16 MiB of tags; bytes that are not FLV are not published at all.
// Owner: one thread (the relay's network thread, or an encoder's output reader) calls poner and
// terminar; the worker thread owns the connection. `anotar` receives its log lines, never the key;
// `alFallar`, when given, is called on the worker thread each time a connection cannot be made or
// a publication is lost (it must not drop the last reference to this object).
class Publicador {
public:
    Publicador(std::string url, std::function<void(const std::string&)> anotar,
               std::function<void()> alFallar = {});
    ~Publicador();
    Publicador(const Publicador&) = delete;
    Publicador& operator=(const Publicador&) = delete;

    void poner(const std::string& bytes);  // any slice of the FLV stream
    void terminar();                         // sends what is queued, then closes
    // Any thread: the destination took the last tag written; it took one at some point.
    bool publicando() const { return publicando_; }
    bool haPublicado() const { return haPublicado_; }

private:
    void trabajar();
    void cortarEtiquetas();
    bool esperarReintento();  // drops what waited; false when told to finish meanwhile

    std::string url_;
    std::function<void(const std::string&)> anotar_;
    std::function<void()> alFallar_;
    std::string bufer_;  // network thread only
    bool cabeceraVista_ = false;
    bool roto_ = false;  // the bytes are not FLV: nothing more is taken

    std::mutex candado_;  // guards cola_, bytesCola_, fin_, iniciales_
    std::condition_variable cv_;
    std::deque<std::string> cola_;
    std::size_t bytesCola_ = 0;
    bool fin_ = false;
    std::string iniciales_[3];  // metadata, video set-up, audio set-up
    std::atomic<bool> publicando_{false}, haPublicado_{false};
    std::thread hilo_;
};

}  // namespace tt
