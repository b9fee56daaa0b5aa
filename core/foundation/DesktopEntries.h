#pragma once
// The installed applications' desktop entries (the freedesktop ".desktop" files in the
// XDG data folders' "applications"), read as far as naming an app's data folder needs:
// a folder in $XDG_DATA_HOME is shown by the name of the app that keeps it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick {

struct DesktopEntry {
    std::string id;              // the file's name without ".desktop": "org.kde.krita"
    std::string name;            // Name (the unlocalised one)
    std::string startupWMClass;  // StartupWMClass; may be empty
    std::string program;         // the last component of Exec's program ("krita"); may be empty
    std::string icon = {};       // Icon: a theme icon's name or an absolute file; may be empty

    bool operator==(const DesktopEntry&) const = default;

    // The "[Desktop Entry]" group of a file's text. Nothing when it has no Name or says
    // Hidden=true (the user deleted the entry). Other groups and localised keys are ignored.
    static std::optional<DesktopEntry> parse(std::string_view text, std::string id);

    // Whether the app keeps its data in a folder called `folder`: its id, window class or
    // program equals the name, case ignored.
    bool keeps(std::string_view folder) const;
};

namespace DesktopEntries {

// The folders desktop entries are read from, the user's own first: dataHome +
// "/applications", then each absolute folder of the colon-separated `dataDirs` (empty
// means the default "/usr/local/share:/usr/share") + "/applications".
std::vector<std::string> applicationFolders(const std::string& dataHome, std::string_view dataDirs);

// The entries of every "*.desktop" file directly in the folders. An id met again in a
// later folder is the earlier one's (the user's file overrides the system's, a hidden one
// included). Folders and files that can't be read, and files over 256 KB, add nothing.
// Never throws.
std::vector<DesktopEntry> read(const std::vector<std::string>& folders);

// The Name of the first entry that keeps the folder `folder`; nothing when none does.
std::optional<std::string> appNameFor(const std::vector<DesktopEntry>& entries, std::string_view folder);

}  // namespace DesktopEntries
}  // namespace keldwick
