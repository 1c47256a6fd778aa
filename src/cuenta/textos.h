#pragma once

// The texts of the account as the main window and the phones show them: pure functions.

#include <optional>
#include <string>
#include <string_view>

namespace tt {

// Seconds as hours and minutes: "1 h 2 min", "59 min"; negative seconds are "0 min".
std::string enHoras(long long segundos);

// Seconds left: while live under a permission, counted down from the start of the transmission
// (whole seconds since it went live); otherwise the balance as last known.
std::optional<long long> saldoRestante(bool vivoConPase, long long saldoAlEmpezar, double segundosAlAire,
                                       std::optional<long long> saldo);

struct TextoSaldo {
    enum class Color { secundario, rojo, naranja };
    std::string texto;  // empty: the label is cleared
    Color color = Color::secundario;
    bool avisarCinco = false;  // put the five-minute warning in the notice line now
};
// The balance line: nothing left is red, under ten minutes orange. The five-minute warning is
// given once per transmission, while live under a permission.
TextoSaldo textoSaldo(std::optional<long long> restante, bool vivoConPase, bool avisoDado);

struct TextoCelular {
    std::string texto;
    std::string boton;
};
// The phone block: who is signed in, whether the service is reachable, and the phones.
TextoCelular textoCelular(const std::optional<std::string>& correo, bool conectado, int vinculados, int celulares);

// The phone sheet's count line: "Todavía no hay celulares con sesión." with none signed in, else
// how many are signed in and how many connected now.
std::string textoCuentaCelulares(int vinculados, int celulares);

// The link of the phone sheet's QR code: always https, the address percent-encoded as a URL
// fragment allows (letters, digits and -._~!$&'()*+,;=:@/? stay as they are).
std::string enlaceCelular(const std::string& sitio, const std::string& correo);

}  // namespace tt
