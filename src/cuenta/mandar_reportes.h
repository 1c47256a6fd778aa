#pragma once

// Sends the crash reports not sent before to the control service, each once, in the background.

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>

namespace tt {

// A request to the control service, made and completed on the main thread: an answer object, or
// an error text.
using Pedir = std::function<void(const std::string& ruta, const nlohmann::json& cuerpo,
                                 std::function<void(std::optional<nlohmann::json> respuesta,
                                                    std::optional<std::string> error)>)>;

struct EnvioReportes {
    std::string sala, ficha, correo;  // the account at the time of the call
    Pedir pedir;
    double espera = 30;                // seconds for each answer
    std::function<void()> alTerminar;  // main thread, after the settings are updated
};

// Call on the main thread. Without an account (an empty room or token) nothing is read or sent.
// Otherwise the newest four reports of carpetaInformes() not listed in the setting
// "reportesMandados" go one at a time from a background thread, each with the log's end; each
// answered one is added to that setting. A failed or unanswered one is tried at the next call.
void mandarReportes(EnvioReportes envio);
void mandarReportes(const std::string& sala, const std::string& ficha, const std::string& correo, Pedir pedir);

// Stops the upload and joins its thread (a request in flight is abandoned, not marked). Call on the
// main thread before the event loop's application object goes away.
void pararReportes();

}  // namespace tt
