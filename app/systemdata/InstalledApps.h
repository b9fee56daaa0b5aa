#pragma once
// The installed applications as the desktop lists them (the .desktop files of the XDG
// data folders' "applications"), matched to the folder an app keeps its files in, so
// that such a folder shows its app's icon. A folder named "Steam" matches the app whose
// file is "steam.desktop" or whose Name is "Steam"; failing that, one whose name begins
// with "Steam " ("Steam Link"). Case is ignored. Main thread only.

#include <QIcon>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace keldwick {

struct InstalledApp {
    std::string file;  // the .desktop file
    std::string name;  // its Name
    std::string icon;  // its Icon: a theme icon name or an absolute path; may be empty
    bool operator==(const InstalledApp&) const = default;
};

class InstalledApps {
public:
    // The session's application folders, the user's own first (a file there overrides
    // the system's of the same name), as System Data's listing reads them: the user's
    // data folder (UserFolders::dataHome) and each of $XDG_DATA_DIRS (default
    // /usr/local/share:/usr/share), each + "/applications".
    static std::vector<std::string> applicationFolders();

    // Reads the folders in order on first use. A folder that can't be listed, and a file
    // that can't be read or has no Name, add nothing.
    explicit InstalledApps(std::vector<std::string> folders = applicationFolders());

    // The app that keeps its files in a folder called `itemName`; none without one.
    std::optional<InstalledApp> match(const std::string& itemName);

    // That app's icon, from the icon theme or its file; a null icon when no app matches or
    // the theme has no such icon. Remembered per name, misses included.
    QIcon icon(const std::string& itemName);

    // A .desktop file's entry; none when it can't be read, has no Name, or is hidden.
    static std::optional<InstalledApp> read(const std::string& file);

private:
    void load();

    std::vector<std::string> folders_;
    bool loaded_ = false;
    std::vector<InstalledApp> apps_;
    std::map<std::string, QIcon> icons_;
};

}  // namespace keldwick
