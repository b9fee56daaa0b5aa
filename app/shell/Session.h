#pragma once
// Whether the program can show itself at all.

#include <functional>
#include <optional>
#include <string>

namespace keldwick {

// The line to print when there is no graphical session to show the tray in: neither
// DISPLAY nor WAYLAND_DISPLAY is set (and no Qt platform was named explicitly, as tests
// and screenshots do). `environment` reads a variable, empty when unset.
std::optional<std::string> sessionProblem(const std::function<std::string(const char* name)>& environment);

}  // namespace keldwick
