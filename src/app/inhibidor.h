#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <cstdint>
#include <optional>

namespace tt {

// While on air the computer must not suspend for being idle (a creator on a pause screen does not
// touch it for half an hour); the screen may still lock. Asks logind for an "idle:sleep" block on
// the system bus (held as long as its descriptor is open), or, without logind, the desktop's
// screen saver on the session bus. The calls never wait: an answer that comes after a release
// is let go at once. Main thread.
class Inhibidor : public QObject {
public:
    Inhibidor(QDBusConnection sistema = QDBusConnection::systemBus(),
              QDBusConnection sesion = QDBusConnection::sessionBus());
    void sostener(bool si);
    bool sostenido() const { return candado_.isValid() || galleta_.has_value(); }

private:
    void pedirLogind(int vez);
    void pedirSalvapantallas(int vez);
    void soltar();

    QDBusConnection sistema_, sesion_;
    bool querido_ = false;
    int vez_ = 0;  // which request an answer belongs to
    QDBusUnixFileDescriptor candado_;
    std::optional<std::uint32_t> galleta_;
};

}  // namespace tt
