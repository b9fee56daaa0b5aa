#pragma once
// Simulator device folders: where they live, how to recognise one, and what its
// "device.plist" says about the device.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"

namespace keldwick {

struct SimulatorDevice {
    std::string name;
    std::optional<std::string> runtime;
    bool isIdle = false;
    std::optional<Date> lastBooted;

    bool operator==(const SimulatorDevice&) const = default;

    // Reads folder + "/device.plist" (XML or binary property list). Nothing when the
    // file can't be read or parsed, its top level is not a dictionary, or "name" is
    // not a string. The device is idle only when "state" is the integer 1 and neither
    // "isDeleted" nor "isEphemeral" is the boolean true.
    static std::optional<SimulatorDevice> read(const std::string& folder);
};

namespace Simulators {

// home + "/Library/Developer/CoreSimulator/Devices" (plain concatenation).
std::string devicesFolder(const std::string& home);

// True for the 8-4-4-4-12 hexadecimal form, either case.
bool isUUID(std::string_view text);

// True when the last component is a UUID and the rest of the path ends with
// "/Library/Developer/CoreSimulator/Devices". No file-system access.
bool isDeviceFolder(const std::string& path);

// The UUID-named entries of `folder`, joined to it, in listing order. A folder that
// can't be listed has none.
std::vector<std::string> deviceFolders(const std::string& folder);

}  // namespace Simulators
}  // namespace keldwick
