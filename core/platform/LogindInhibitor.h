#pragma once
// logind's "idle" inhibitor, taken over the system D-Bus. logind hands back a file
// descriptor; the inhibitor lasts until that descriptor is closed.

#include <string>
#include <variant>

namespace keldwick::platform {

struct InhibitorRefused {
    std::string reason;  // why no inhibitor was taken (no system bus, logind refused, …)
};

// Calls org.freedesktop.login1.Manager.Inhibit("idle", who, why, "block") with a 5-second
// timeout. Returns the held descriptor (close-on-exec), or why none was taken. Honours
// DBUS_SYSTEM_BUS_ADDRESS like every sd-bus client.
std::variant<int, InhibitorRefused> inhibitIdle(const std::string& who, const std::string& why);

}  // namespace keldwick::platform
