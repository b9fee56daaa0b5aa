#pragma once
// Large system data in the home folder that may move like any other item. This unit
// holds the tables and the test that lets hand-picked items out of Library.

#include <string>
#include <unordered_set>
#include <vector>

namespace keldwick::SystemData {

// Application Support folders that belong to this program: "Keldwick", "Marrowfen".
const std::unordered_set<std::string>& ownFolders();

// The system's own Application Support folders (58 names), never offered and never
// open to hand-picking. Exact, case-sensitive names.
const std::vector<std::string>& systemAppFolders();
bool isSystemAppFolder(const std::string& name);

// Large data that tools keep in hidden folders at the top of the home, which the system
// data window offers: local AI models, each folder with its name, in discovery order.
struct HiddenModelFolder {
    const char* relativePath;  // below the home
    const char* name;
};
const std::vector<HiddenModelFolder>& hiddenModelFolders();
// The Android emulators' folder below the home; each "<name>.avd" in it is one item.
inline constexpr const char* kEmulatorFolder = ".android/avd";

// Whether an item the user picked by hand inside the home folder's Library may move:
// anything at or inside the device backups or the Xcode archives; inside Application
// Support, anything in an app's folder unless the app is the system's ("com.apple."
// names and the system folders) or this program's. Pure string tests, no file access.
bool isOpenToChosen(const std::string& path, const std::string& home);

}  // namespace keldwick::SystemData
