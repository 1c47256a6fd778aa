#pragma once

#include "channels/canales.h"

#include <optional>
#include <string>
#include <vector>

namespace tt {

// What the channel sheet's "Guardar canal" did: the note to show under the form (red when
// `error`), and the channel as saved, cleaned of stray blanks.
struct ResultadoCanal {
    bool guardado = false;
    bool error = false;
    std::string nota;  // empty without `avisar`
    Canal canal;
};

// Cleans the form's values, checks them in order and saves the channel when they pass.
ResultadoCanal guardarActual(Canales& canales, Canal formulario, bool avisar);

// Channels kept before signing in that are not in the list yet, for the sheet's pop-up.
std::vector<Canal> anterioresLibres(const Canales& canales);
// The note after one of them fills the form.
std::string notaAnterior(const Canal& c);
// The question before deleting a channel, and its explanation.
std::string preguntaEliminar(const Canal& c);
extern const char* const explicacionEliminar;

}  // namespace tt
