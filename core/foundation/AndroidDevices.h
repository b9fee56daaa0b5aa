#pragma once
// The Android emulator's virtual devices: `~/.android/avd/NAME.avd` folders, each with
// `NAME.ini` beside it. The emulator keeps `*.lock` entries in a device's folder while
// it runs; whether a process holds the device's files open is for the caller's
// open-file checker.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"

namespace keldwick {

struct AndroidDevice {
    std::string name;                // avd.ini.displayname, else NAME with "_" as spaces
    bool isIdle = false;             // no entry named "*.lock" directly in the folder
    std::optional<Date> lastBooted;  // latest modification of "snapshots" or "userdata-qemu.img"

    bool operator==(const AndroidDevice&) const = default;

    // Reads the device at `folder` ("…/NAME.avd"). Nothing when it is not a folder
    // (links are not followed) or NAME.ini is not a regular file beside it. A
    // config.ini that can't be read, or is larger than any real one, leaves the folder's
    // name; a folder that can't be listed counts as running.
    static std::optional<AndroidDevice> read(const std::string& folder);
};

namespace AndroidDevices {

// home + "/.android/avd" (plain concatenation).
std::string devicesFolder(const std::string& home);

// True when the last component is "NAME.avd" (NAME not empty) and the rest of the path
// ends with "/.android/avd". No file-system access.
bool isDeviceFolder(const std::string& path);

// "Pixel_7_API_34.avd" -> "Pixel 7 API 34": the name shown until config.ini is read.
std::string nameFromFolder(std::string_view folderName);

// The value of "avd.ini.displayname" in config.ini's `key=value` lines (spaces around
// either side trimmed, the last occurrence winning); nothing when absent or empty.
std::optional<std::string> displayName(std::string_view configText);

// The "NAME.avd" entries of `folder` with "NAME.ini" beside them, joined to it, in
// listing order. A folder that can't be listed has none.
std::vector<std::string> deviceFolders(const std::string& folder);

}  // namespace AndroidDevices
}  // namespace keldwick
