#pragma once

// The switches that script the application for tests (TM_AUTO, TM_GUION, TM_CALIDAD,
// TM_PANTALLA, TM_EDITAR, TM_CANALES, TM_SALIR, TM_RETOMAR, TM_VINCULAR, TM_SESION and
// TM_BIENVENIDA's steps), read in one place. Each
// does what a user would, through the application's own entry points.

#include <QObject>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tt {

class App;
class Bienvenida;

class Guion : public QObject {
public:
    explicit Guion(App& app);

    void alBienvenida(Bienvenida& b);  // the sign-in window was made
    void alAbrir();                // the main window is armed
    void alPedirDispositivos();    // the devices were first asked for
    void alEmpezar();              // a transmission went on air
    void alDetener() { ++vez_; }   // it ended
    void alConectar();             // the live channel to the service is up
    // TM_RETOMAR: the answer to the recovery question ("seguir" or anything else), if scripted.
    std::optional<bool> respuestaAbierta() const;

private:
    void sesionDePrueba(const std::string& correo);

    App& app_;
    int vez_ = 0;  // which transmission a timer belongs to
    bool enlaceDado_ = false;
};

// A switch's items "seconds:value,…"; items without a number of seconds are skipped.
std::vector<std::pair<double, std::string>> itemsDePrueba(const std::optional<std::string>& texto);

}  // namespace tt
