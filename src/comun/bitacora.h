#pragma once

#include <string>
#include <string_view>

namespace tt {

// Appends "HH:mm:ss text" to app.log in the log folder; callable from any thread.
// Never write a stream key or a token here.
void bitacora(std::string_view texto);

// Only with TM_DEPURAR.
void bitacoraDepurar(std::string_view texto);

// "HH:mm:ss text\n" in local time: the line every log of this system writes.
std::string lineaConHora(std::string_view texto);

// One such line on standard error, whole even when several threads write: the servers' log.
void anotarEnError(std::string_view texto);

}  // namespace tt
