#pragma once
// Where the user's file manager shows "Move to Keldwick Drive", so that a notice can send
// the user there only when the entry is really there: `make install` puts the entries
// beside the program (scripts/install-desktop), and each file manager reads them from
// its own folders.

#include <optional>
#include <string>
#include <vector>

namespace keldwick::FileManagerEntry {

// What decides it, read from the environment by live().
struct Facts {
    std::string executable;             // the running program's real path
    std::string dataHome;               // $XDG_DATA_HOME, default ~/.local/share
    std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS, default /usr/local/share, /usr/share
    std::string currentDesktop;         // $XDG_CURRENT_DESKTOP
};

Facts live();

// The menu path of the entry in the desktop's file manager: "Scripts ▸ Move to Keldwick
// Drive" in Nautilus (GNOME), "Move to Keldwick Drive" in Dolphin (KDE) and Nemo
// (Cinnamon). None when the program doesn't run from an installation
// (<prefix>/lib/keldwick/<version>/keldwick with <prefix>/bin/keldwick), when that
// installation's entry for the desktop's file manager is missing or lies where that file
// manager doesn't look, or when the desktop's file manager has no entry of ours.
std::optional<std::string> place(const Facts& facts);

}  // namespace keldwick::FileManagerEntry
