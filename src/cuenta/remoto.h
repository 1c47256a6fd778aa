#pragma once

#include "comun/json.h"
#include "cuenta/archivo_cuenta.h"
#include "protocolo/pase.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QImage;
class QNetworkAccessManager;
class QTimer;
class QWebSocket;

namespace tt {

// The one client of the control service: the signed-in account and its file, every HTTP request,
// and the live WebSocket channel in the account's room. Main thread: every completion and
// callback runs there.
class Remoto : public QObject {
    Q_OBJECT
public:
    using Hecho = std::function<void(std::optional<std::string> error)>;
    using Completar = std::function<void(std::optional<Json> respuesta, std::optional<std::string> error)>;

    // `sitio`: host[:port] of the service (TM_CONTROL, else the maker's host).
    explicit Remoto(std::filesystem::path archivo, std::string sitio = sitioPorOmision(), QObject* padre = nullptr);
    ~Remoto() override;
    static std::string sitioPorOmision();

    // HTTP: each completion is called exactly once, on the main thread.
    void registrar(const std::string& correo, const std::string& clave, Hecho hecho);
    void pedirCodigo(const std::string& correo, const std::string& modo, Hecho hecho);
    void verificar(const std::string& correo, const std::string& codigo, Hecho hecho);
    void entrar(const std::string& correo, const std::string& codigo, Hecho hecho);
    void entrarConClave(const std::string& correo, const std::string& clave, Hecho hecho);
    void restablecer(const std::string& correo, const std::string& codigo, const std::string& clave, Hecho hecho);
    void pedirSaldo(std::function<void(std::optional<long long> segundos, std::string servidor)> hecho);
    void pedirPase(const std::string& destino, const std::string& canal, bool seco,
                   std::function<void(std::optional<Pase> pase, std::optional<std::string> error)> hecho);
    void cerrarSesion();
    // A POST of a JSON object to a path of the service; the answer object on a 200, else one
    // Spanish sentence. Answers over 4 MiB are not read. Public for the report upload.
    void pedir(const std::string& ruta, const Json& cuerpo, Completar completar);
    // The crash reports not sent before go to the service in the background; nothing without an
    // account.
    void mandarReportes();

    const std::optional<Cuenta>& cuenta() const { return cuenta_; }
    // The code the service returned with its last answer in test mode ("" when none came).
    const std::string& codigoDePrueba() const { return codigoDePrueba_; }
    const std::string& sitio() const { return sitio_; }

    // The live channel.
    bool conectado() const { return conectado_; }
    int celulares() const { return celulares_; }
    int vinculados() const { return vinculados_; }
    void enviar(const Json& mensaje);  // only while open; never queued
    void reconectar();
    std::string enlaceNuevo();  // a phone link with a fresh one-time token
    void desvincularTodos();
    // A base64 JPEG of the image (standard alphabet, no line breaks); `calidad` 0…1.
    static std::optional<std::string> jpeg(const QImage& imagen, double calidad);
    // The text as a QR code (error correction M), `lado` points square at twice that in pixels.
    static std::optional<QImage> codigoQR(const std::string& texto, int lado);

    std::function<void()> alSalir;
    std::function<void(long long)> alSaldo;
    std::function<void(bool)> alOrden;
    std::function<void(const std::string&)> alElegir;
    std::function<void(const std::string&)> alCamara;
    std::function<void()> alCambiar;
    std::function<void()> alPedirEstado;
    std::function<void(const std::string& sid, bool publicando)> alDestino;

    // The fixed wait before a dropped socket is opened again, and the ping period (ms).
    int esperaReconexion = 4000;
    int periodoPing = 25000;

private:
    void conectar();
    void recibir(QWebSocket* tarea, const QString& texto);
    void caer(QWebSocket* tarea);
    void soltar(QWebSocket* tarea);
    void dentro(const std::string& correo, std::optional<Json> r, std::optional<std::string> error, Hecho hecho);
    void guardar();
    void cambiar();
    void anotarCodigo(const std::optional<Json>& respuesta);

    std::filesystem::path archivo_;
    std::string sitio_;
    QNetworkAccessManager* sesion_;
    QPointer<QWebSocket> tarea_;
    QTimer* latido_;
    std::optional<Cuenta> cuenta_;
    bool conectado_ = false;
    int celulares_ = 0;
    int vinculados_ = 0;
    std::string codigoDePrueba_;
};

}  // namespace tt
