#include "app/unica.h"

#include "comun/proceso.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace tt {

Unica::Unica(const std::string& clave) {
    const QByteArray resumen =
        QCryptographicHash::hash(QByteArray::fromStdString(clave), QCryptographicHash::Sha256).toHex().left(16);
    nombre_ = QString("tremolante-%1-%2").arg(::getuid()).arg(QString::fromLatin1(resumen));
}

Unica::~Unica() = default;

bool Unica::primera() {
    {
        QLocalSocket otra;
        otra.connectToServer(nombre_);
        if (otra.waitForConnected(1000)) {
            otra.write("al frente\n");
            otra.waitForBytesWritten(1000);
            return false;
        }
    }
    // Nobody answers: a socket left by a copy that crashed is taken over.
    QLocalServer::removeServer(nombre_);
    servidor_ = std::make_unique<QLocalServer>();
    servidor_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!servidor_->listen(nombre_)) return true;  // it cannot listen: this copy runs all the same
    connect(servidor_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = servidor_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            if (alLlamar) alLlamar();
        }
    });
    return true;
}

std::string claveDeCopia() { return carpetaDatos().string(); }

}  // namespace tt
