#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QMessageBox;
class QWidget;

namespace tt {

// A question or an alert in the application's own look (its font, colours and rounded buttons),
// window-modal over `sobre` and deleted when it closes. Return takes the safe choice; a destructive
// choice is red and never the default.
struct Pregunta {
    QString titulo;                  // the question itself, in bold
    QString explicacion;             // plain text under it (names and notes are never markup)
    std::vector<QString> opciones;   // the buttons, left to right
    int segura = 0;                  // the default for Return
    std::optional<int> destructiva;  // shown red
    std::optional<int> alEscapar;    // what Escape chooses; none: it closes without an answer
};

// Opens it; `respuesta` gets the index of the choice, or nothing when it closed without one.
QMessageBox* preguntar(QWidget* sobre, const Pregunta& p, std::function<void(std::optional<int>)> respuesta);
// An alert with one button, "Entendido".
QMessageBox* avisar(QWidget* sobre, const QString& titulo, const QString& explicacion);
// The application's look on a message box made elsewhere.
void vestir(QMessageBox& m);

}  // namespace tt
