#pragma once

#include <functional>

namespace tt {

// Runs fn on the Qt main thread's event loop (later, even when called from the main thread).
void enPrincipal(std::function<void()> fn);
void enPrincipalDespues(double segundos, std::function<void()> fn);

}  // namespace tt
