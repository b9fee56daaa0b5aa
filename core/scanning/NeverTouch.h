#pragma once
// The fixed tables of what never moves, and the two standard rule lists.
//
// The tables hold the system's own folders and names first, in their fixed order;
// the Linux additions are declared apart (linux* below) and follow them, so a Linux
// system gets the same protection as the platform the tables were written for.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scanning/ScanRule.h"

namespace keldwick {
class ProtectedLocationRule;
}

namespace keldwick::NeverTouch {

// "/System", "/Library", "/Applications", "/usr", "/bin", "/sbin", "/opt", "/private",
// "/cores", "/Volumes", then linuxSystemFolders().
const std::vector<std::string>& systemFolders();
// Names below the home folder that hold keys and passwords (8).
const std::vector<std::string>& credentialFolders();
// join(home, name) for "Desktop", "Documents", "Downloads", "Movies", "Music",
// "Pictures", "Public", "Applications", "Sites", "Library", then the Linux standard
// folders, then the folders the user's desktop names in ~/.config/user-dirs.dirs that
// aren't listed yet.
std::vector<std::string> standardFolders(const std::string& home);

// Why `path` is, or lies in, a folder the scan rules never let go: the protected
// locations (system folders included) and the credential folders below `home`.
std::optional<std::string> protectedFolderReason(const std::string& home, const std::string& path);

// protectedFolderReason for many paths below one home, its tables built once.
class ProtectedFolders {
public:
    explicit ProtectedFolders(const std::string& home);
    std::optional<std::string> reason(const std::string& path) const;

private:
    std::shared_ptr<const ProtectedLocationRule> locations_;
    std::vector<std::string> credentials_;
};

// Linux system and mount folders (never /home or /root).
const std::vector<std::string>& linuxSystemFolders();
// Folders below the home folder that Linux desktops manage, with the reason.
const std::vector<std::pair<std::string, std::string>>& linuxProtectedHomeFolders();
// Standard folder names of Linux desktops that the list above lacks.
const std::vector<std::string>& linuxStandardFolderNames();
// App extensions of Linux, next to the app extensions of the app rule.
const std::vector<std::string>& linuxAppExtensions();

// The rules of an automatic scan, in this order: protected locations, development,
// apps and libraries, cloud sync, pins, recently restored items, older copies.
RuleList rules(const std::string& home, const std::vector<std::string>& pinned,
               const std::vector<std::string>& recentlyRestored, const std::vector<std::string>& withOlderCopies,
               const std::vector<std::string>& systemFolders);

// The rules for hand-picked items, in this order: protected locations, development,
// apps and libraries, cloud sync, pins, older copies, credential folders.
RuleList rulesForChosen(const std::string& home, const std::vector<std::string>& pinned,
                        const std::vector<std::string>& withOlderCopies, const std::vector<std::string>& systemFolders);

}  // namespace keldwick::NeverTouch
