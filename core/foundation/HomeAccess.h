#pragma once
// Whether this process may read the user's files. Linux keeps no list of apps granted full
// disk access; what can shut a process out of the home is confinement (a Flatpak or Snap
// sandbox without home access, AppArmor, SELinux). The probe asks whether the managed
// folders and the home's standard folders can be listed. A standard folder whose own
// permissions keep the user out is the user's choice, not confinement: it is named, but
// doesn't count against access (nothing in it is moved).

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::HomeAccess {

struct Reading {
    // Every folder that must be listed can be.
    bool granted = true;
    // Standard folders refused (EACCES or EPERM) because their own mode keeps this user out.
    std::vector<std::string> refusedByMode;
    // The first folder whose refusal withholds access: a managed folder refused for any
    // reason, or a standard folder refused though its mode lets the user in.
    std::optional<std::string> blockedBy;

    // The folder to show the user: the one that blocks, else the first refused by its mode.
    std::optional<std::string> folderToShow() const;
    bool operator==(const Reading&) const = default;
};

// Lists each folder of `managed`, then of `standard`. Access is granted when every one that
// exists can be listed, except standard folders refused by their own mode (collected, never
// blocking). A folder that doesn't exist (ENOENT and the like) keeps nothing out, unless
// `confined` and none exists at all: a sandbox hides the folders it doesn't share rather
// than refusing them.
Reading read(const std::vector<std::string>& managed, const std::vector<std::string>& standard,
             bool confined = false);
// read(managed, probePaths(home, the user's user-dirs.dirs), runsConfined()).
Reading read(const std::string& home, const std::vector<std::string>& managed);

// Whether this process runs in a Flatpak or Snap sandbox.
bool runsConfined();

// The sandbox this process runs in and the name it is known by there: a Flatpak's
// application id, a Snap's instance name, the names its commands take.
struct Sandbox {
    enum class Kind { none, flatpak, snap };
    Kind kind = Kind::none;
    std::string id;
    bool operator==(const Sandbox&) const = default;
};

// The sandbox told by the environment each one sets in its processes: FLATPAK_ID in a
// Flatpak, SNAP_INSTANCE_NAME (SNAP_NAME on older snapd) in a Snap. An empty or missing
// name tells nothing: without it no command could name this program alone.
Sandbox sandboxFrom(const std::function<std::optional<std::string>(const char*)>& environment);
// sandboxFrom(this process's environment).
Sandbox sandbox();

// The folders to probe: the desktop, documents, downloads, music, pictures and videos
// folders named in a user-dirs.dirs text ("$HOME/…" or absolute paths inside the home;
// entries that name the home itself are skipped), then "Desktop", "Documents" and
// "Downloads" under the home when not already listed. Joined to `home` with one "/".
std::vector<std::string> probePaths(const std::string& home, std::string_view userDirsText);

}  // namespace keldwick::HomeAccess
