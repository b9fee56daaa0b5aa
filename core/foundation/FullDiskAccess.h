#pragma once
// Whether this process may read the user's files. Linux keeps no list of apps granted full
// disk access; what can shut a process out of the home is confinement (a Flatpak or Snap
// sandbox without home access, AppArmor, SELinux). The probe asks whether the home's
// standard folders can be listed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::FullDiskAccess {

// The settings page that grants access. Linux has none to open: always nothing.
std::optional<std::string> settingsURL();

// isGranted(home, probePaths(home, the user's user-dirs.dirs)).
bool isGranted(const std::string& home);

// Tries each probe as a folder to list, in order: the first that opens gives true; EACCES
// or EPERM gives false at once, without trying the rest; any other failure (ENOENT: the
// folder doesn't exist) moves on. False when none could be opened.
bool isGranted(const std::vector<std::string>& probes);

// The folders to probe: the desktop, documents, downloads, music, pictures and videos
// folders named in a user-dirs.dirs text ("$HOME/…" or absolute paths inside the home;
// entries that name the home itself are skipped), then "Desktop", "Documents" and
// "Downloads" under the home when not already listed. Joined to `home` with one "/".
std::vector<std::string> probePaths(const std::string& home, std::string_view userDirsText);

}  // namespace keldwick::FullDiskAccess
