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

// isGranted(probePaths(home, the user's user-dirs.dirs), runsConfined()).
bool isGranted(const std::string& home);

// Tries each probe as a folder to list, in order: the first that opens gives true; EACCES
// or EPERM gives false at once, without trying the rest; any other failure (ENOENT: the
// folder doesn't exist) moves on. When none opened and none was refused: true, since a
// folder that doesn't exist keeps nothing out, unless `confined`: a sandbox hides the
// folders it doesn't share rather than refusing them.
bool isGranted(const std::vector<std::string>& probes, bool confined = false);

// Whether this process runs in a Flatpak or Snap sandbox.
bool runsConfined();

// The probe that refused to open (EACCES or EPERM), the same walk as isGranted: nothing
// when access is granted.
std::optional<std::string> refusedFolder(const std::string& home);
std::optional<std::string> refusedFolder(const std::vector<std::string>& probes);

// The folders to probe: the desktop, documents, downloads, music, pictures and videos
// folders named in a user-dirs.dirs text ("$HOME/…" or absolute paths inside the home;
// entries that name the home itself are skipped), then "Desktop", "Documents" and
// "Downloads" under the home when not already listed. Joined to `home` with one "/".
std::vector<std::string> probePaths(const std::string& home, std::string_view userDirsText);

}  // namespace keldwick::FullDiskAccess
