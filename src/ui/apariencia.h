#pragma once

namespace tt {

// The dark look of the whole application (Fusion style and one dark palette), so dialogs and
// menus match the main window. Once, right after the QApplication is made.
void aparienciaOscura();

}  // namespace tt
