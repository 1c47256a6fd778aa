#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace tt {

// One copy of the application per user and data folder: a second start finds the first one's
// local socket, asks it to come forward and ends, so two copies never fight over the camera.
// Main thread.
class Unica : public QObject {
public:
    // `clave` names the copy (different data folders are different copies).
    explicit Unica(const std::string& clave);
    ~Unica() override;

    // True for the first copy, which listens from now on; false when another one answered the call.
    bool primera();
    std::function<void()> alLlamar;  // a later start asked this copy to come forward

private:
    QString nombre_;
    std::unique_ptr<QLocalServer> servidor_;
};

// The key of the copy that uses this data folder.
std::string claveDeCopia();

}  // namespace tt
