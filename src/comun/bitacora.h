#pragma once

#include <string_view>

namespace tt {

// Appends "HH:mm:ss text" to app.log in the log folder; callable from any thread.
// Never write a stream key or a token here.
void bitacora(std::string_view texto);

// Only with TM_DEPURAR.
void bitacoraDepurar(std::string_view texto);

}  // namespace tt
