#pragma once

class QWidget;

namespace tt {

// Escape and Ctrl+W close this secondary window (an editor, a sheet), as everywhere else.
void cerrarConTeclas(QWidget& ventana);

}  // namespace tt
