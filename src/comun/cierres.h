#pragma once

#include <filesystem>
#include <string>

namespace tt {

// Installs, once per process, the handler of SIGSEGV, SIGABRT, SIGBUS, SIGFPE and SIGILL: it
// writes a report "Tremolante-<UTC date and time>.crash" (0600) into `carpeta` with the signal,
// the address, `version` and a backtrace, then lets the signal's default action end the process
// (so a core dump stays possible). Call it early on the main thread, before other threads start:
// the main thread gets an alternate stack, so even a stack overflow leaves a report. False when
// already installed or when the folder's path is too long.
bool instalarCierres(const std::filesystem::path& carpeta, const std::string& version);

}  // namespace tt
