#pragma once

// Passwords are kept only as a slow salted hash (scrypt). The stored text names its parameters,
// so a later change of them still checks the passwords stored before.

#include <string>
#include <string_view>

namespace tt::control {

struct ParametrosScrypt {
    unsigned long long n = 1ull << 14;  // about 16 MiB and tens of milliseconds per check
    unsigned long long r = 8;
    unsigned long long p = 1;
};

// "scrypt$N$r$p$salt$hash" (hex). Empty when the library fails.
std::string resumirClave(std::string_view clave, const ParametrosScrypt& q = {});
// False for a wrong password and for a stored text this code cannot read.
bool claveCorrecta(std::string_view clave, std::string_view guardada);

// Checks of a new password, as the app's sign-in window shows them; the first one failed, in
// Spanish, or empty.
std::string faltaEnClave(std::string_view clave);

}  // namespace tt::control
