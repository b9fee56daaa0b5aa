#include "desktop/FileManagerEntry.h"

#include <algorithm>
#include <sstream>

#include "desktop/LoginItem.h"
#include "foundation/PathUtil.h"
#include "foundation/UserFolders.h"
#include "platform/FileStatus.h"
#include "platform/ProcessFacts.h"

namespace keldwick::FileManagerEntry {

namespace {

constexpr const char* kEntryName = "Move to Keldwick Drive";

std::string variable(const char* name) {
    return platform::environmentVariable(name).value_or("");
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

bool isFile(const std::string& path) {
    struct stat st {};
    return platform::statusFollowing(path, st) == 0 && S_ISREG(st.st_mode);
}

// Trailing slashes aside, the same folder.
bool sameFolder(std::string a, std::string b) {
    while (a.size() > 1 && a.back() == '/') a.pop_back();
    while (b.size() > 1 && b.back() == '/') b.pop_back();
    return a == b;
}

struct Manager {
    std::vector<std::string> desktops;  // as $XDG_CURRENT_DESKTOP names them
    std::string entry;                  // below share/
    bool readsDataDirs;                 // or only the user's data folder
    std::string menuPath;
};

const std::vector<Manager>& managers() {
    static const std::vector<Manager> all = {
        // Nautilus runs scripts only from the user's own folder, in its Scripts submenu.
        {{"GNOME", "Unity", "ubuntu"}, std::string("nautilus/scripts/") + kEntryName, false,
         std::string("Scripts \u25B8 ") + kEntryName},
        {{"KDE"}, "kio/servicemenus/keldwick-move.desktop", true, kEntryName},
        {{"X-Cinnamon", "Cinnamon"}, "nemo/actions/keldwick-move.nemo_action", true, kEntryName},
    };
    return all;
}

}  // namespace

Facts live() {
    Facts facts;
    if (auto real = platform::resolvedPath("/proc/self/exe")) facts.executable = *real;
    facts.dataHome = variable("XDG_DATA_HOME");
    if (facts.dataHome.empty() || facts.dataHome.front() != '/') facts.dataHome = UserFolders::home() + "/.local/share";
    for (const std::string& folder : split(variable("XDG_DATA_DIRS"), ':')) {
        if (folder.front() == '/') facts.dataDirs.push_back(folder);
    }
    if (facts.dataDirs.empty()) facts.dataDirs = {"/usr/local/share", "/usr/share"};
    facts.currentDesktop = variable("XDG_CURRENT_DESKTOP");
    return facts;
}

std::optional<std::string> place(const Facts& facts) {
    if (facts.executable.empty()) return std::nullopt;
    const std::string program = loginItemProgram(facts.executable);
    if (program == facts.executable) return std::nullopt;  // not run from an installation
    const std::string share = PathUtil::join(PathUtil::parent(PathUtil::parent(program)), "share");

    const std::vector<std::string> desktops = split(facts.currentDesktop, ':');
    for (const Manager& manager : managers()) {
        const bool ours = std::any_of(desktops.begin(), desktops.end(), [&](const std::string& desktop) {
            return std::find(manager.desktops.begin(), manager.desktops.end(), desktop) != manager.desktops.end();
        });
        if (!ours) continue;
        bool read = sameFolder(share, facts.dataHome);
        if (manager.readsDataDirs) {
            read = read || std::any_of(facts.dataDirs.begin(), facts.dataDirs.end(),
                                       [&](const std::string& folder) { return sameFolder(share, folder); });
        }
        if (read && isFile(PathUtil::join(share, manager.entry))) return manager.menuPath;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace keldwick::FileManagerEntry
