#pragma once

#include "comun/cola.h"
#include "update/actualizacion.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tt {

// Keeps the installed copy up to date from the control service's feed: a check every three
// hours, the offer, and the install (download, hash, signature, unpacking, the swap script).
// Main thread: every field below; the queue "tm.actualiza" only verifies and unpacks a download
// and hands its verdict back to the main thread.
class Actualizador : public QObject {
public:
    // `sitio`: host[:port] of the control service; `recursos`: the running copy's resources folder.
    Actualizador(std::string sitio, std::filesystem::path recursos, QObject* padre = nullptr);
    ~Actualizador() override;

    void empezar();  // once; a second call does nothing
    void revisar();
    void ofrecer();
    void instalar(const Anuncio& anuncio);
    void posponer(const std::string& build) { pospuesta_ = build; }
    void fallar(const std::string& texto, bool manual);
    void alDetener();  // a transmission stopped: offer what is pending a few seconds later

    const DatosApp& datos() const { return datos_; }
    bool ocupado() const { return ocupado_; }
    const std::optional<Anuncio>& pendiente() const { return pendiente_; }

    // Asked of the application at each offer and install.
    std::function<bool()> alVivo;          // a transmission is on air
    std::function<bool()> alVentanaLibre;  // the main window is shown, without a sheet
    std::function<void(const Anuncio&)> alPreguntar;  // show the offer; it answers instalar or posponer
    std::function<void(const std::string&, bool error)> alDecir;
    std::function<void()> alSalir;  // save what must be saved and quit: the script takes over

    double periodo = 10800;     // s between checks
    double primera = 3;         // s to the first check
    double esperaDetenida = 6;  // s after a stop before offering

private:
    std::string base() const;
    void descargado(QNetworkReply* r, const Anuncio& a);
    // On the queue: the checks of the downloaded zip and the launch of the script. The reason of
    // a failure, or nothing when the script runs.
    std::optional<std::string> verificar(const Anuncio& a, const std::filesystem::path& instalada,
                                         const std::filesystem::path& trabajo) const;

    std::string sitio_;
    std::filesystem::path recursos_;
    DatosApp datos_;
    QNetworkAccessManager* red_;
    QTimer* reloj_ = nullptr;
    bool ocupado_ = false;
    bool salirAlDetener_ = false;  // the swap script waits for this process to end
    std::optional<std::string> pospuesta_;
    std::optional<Anuncio> pendiente_;
    bool dichoAlDia_ = false;  // the log says once that the feed has nothing newer
    std::filesystem::path trabajo_;  // the work folder of the install under way
    std::unique_ptr<QFile> zip_;
    Cola cola_{"tm.actualiza"};  // last: its thread ends before the fields it may touch go
};

}  // namespace tt
