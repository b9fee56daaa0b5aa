#include "shell/Session.h"

namespace keldwick {

std::optional<std::string> sessionProblem(const std::function<std::string(const char*)>& environment) {
    if (!environment("DISPLAY").empty() || !environment("WAYLAND_DISPLAY").empty()) return std::nullopt;
    if (!environment("QT_QPA_PLATFORM").empty()) return std::nullopt;
    return "keldwick needs a graphical session: no DISPLAY or WAYLAND_DISPLAY";
}

}  // namespace keldwick
