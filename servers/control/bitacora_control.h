#pragma once

#include <string>

namespace tt::control {

// One line with the time on standard error. Never given a password, a token or a code (test
// mode's codes excepted: that is what test mode is for).
void anotar(const std::string& texto);

}  // namespace tt::control
