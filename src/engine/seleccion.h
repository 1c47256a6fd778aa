#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tt {

// A capture device as the menus show it.
struct Dispositivo {
    std::string id;      // the platform's unique id, kept in the user's preferences
    std::string nombre;  // the name shown to the user
};

// Which device a menu selects: the remembered id; else the first whose name says it is a real
// camera or capture card ("ILCE|Sony|USB3|Capture|HDMI|Cam Link"); else the first that is not a
// virtual or phone device ("OBS|iPhone|Virtual"); else the first. Case-sensitive, anywhere in the
// name. Nothing when the list is empty.
std::optional<std::size_t> elegirDispositivo(const std::vector<Dispositivo>& lista,
                                             const std::optional<std::string>& recordado);

// Linux asks no permission: a camera this user cannot open is the refused permission. Access is
// refused only when cameras are listed and none of them can be opened.
bool accesoCamara(const std::vector<Dispositivo>& camaras, bool (*puedeAbrir)(const std::string& id));

struct RangoCuadros {
    double minimo = 0;  // frames per second
    double maximo = 0;
};

struct FormatoCamara {
    int ancho = 0;
    int alto = 0;
    std::vector<RangoCuadros> rangos;
};

struct FormatoElegido {
    std::size_t indice = 0;  // into the list given
    std::size_t rango = 0;   // into that format's ranges
    double duracion = 0;     // frame duration to fix, seconds
    std::string texto;       // "1920×1080 a 60 cuadros"
    std::string salida;      // "Sale en 1280×720"
};

// The tallest format up to 1080 lines, and among equal heights the fastest up to 60 frames per
// second (score = height × 100 + whole part of min(best maximum, 60.5); first wins ties). Each
// format counts with its range of highest maximum; formats without a finite maximum above 0 are
// skipped. Nothing when no format qualifies.
std::optional<FormatoElegido> elegirFormato(const std::vector<FormatoCamara>& formatos);

// 1/60 s when the range reaches past 60.5 and can go as low as 60; else its shortest duration.
double duracionCuadro(const RangoCuadros& r);

// "W×H a N cuadros" with N = round(min(maximo, 60)).
std::string formatoTexto(int ancho, int alto, double maximo);
// What the stream carries of that format, as the encoder's scale filter ("-2:min(720,ih)") makes
// it: at most 720 lines, the width in proportion rounded to an even number. "Sale en W×H".
std::string salidaTexto(int ancho, int alto);

// The synthetic camera's rate from TM_RUIDO: a whole number, else 30. Rates that a timer cannot
// honour (0, negative, above 240) are brought back to 30 and 240.
int ritmoFalso(const std::optional<std::string>& ruido);

// Hot-plug notifications come in bursts: one job runs `espera` seconds after the last of them.
// Time is passed in; the shell arms a timer for cuando() and calls toca() when it fires.
class Rebote {
public:
    explicit Rebote(double espera = 0.7) : espera_(espera) {}
    void avisar(double ahora) { vence_ = ahora + espera_; }
    std::optional<double> cuando() const { return vence_; }
    // True once, when the last notification is at least `espera` old.
    bool toca(double ahora);

private:
    double espera_;
    std::optional<double> vence_;
};

// The camera and microphone ids of a menu pair or of the pair last opened.
struct ParDispositivos {
    std::optional<std::string> camara;
    std::optional<std::string> microfono;
    bool operator==(const ParDispositivos&) const = default;
};

}  // namespace tt
