#pragma once
// Large system data in the home folder that may move like any other item. This unit
// holds the tables and the test that lets hand-picked items out of the hidden folders.

#include <string>
#include <unordered_set>
#include <vector>

namespace keldwick::SystemData {

// Folders of $XDG_DATA_HOME that belong to this program: "Keldwick", "Marrowfen".
const std::unordered_set<std::string>& ownFolders();

// The entries of $XDG_DATA_HOME that hold the desktop's own data (the Trash, keyrings,
// icons, fonts, the shell's and the file manager's folders, the search indexers' ...),
// never offered and never open to hand-picking. Exact, case-sensitive names.
const std::vector<std::string>& desktopDataFolders();
bool isDesktopDataFolder(const std::string& name);

// Whether an entry of $XDG_DATA_HOME is an app's folder that may move: neither the
// desktop's nor this program's, and a name at all.
bool isAppFolder(const std::string& name);

// Large data that tools keep in hidden folders at the top of the home, which the system
// data window offers: local AI models, each folder with its name, in discovery order.
struct HiddenModelFolder {
    const char* relativePath;  // below the home
    const char* name;
};
const std::vector<HiddenModelFolder>& hiddenModelFolders();
// The Android emulators' folder below the home; each "<name>.avd" in it is one item.
inline constexpr const char* kEmulatorFolder = ".android/avd";

// Whether an item the user picked by hand inside the hidden folders may move: anything
// inside a local model folder or in an emulator device's folder, and anything in an app's
// folder of `dataHome` ($XDG_DATA_HOME) unless the folder is the desktop's or this
// program's. Pure string tests, no file access.
bool isOpenToChosen(const std::string& path, const std::string& home, const std::string& dataHome);

}  // namespace keldwick::SystemData
