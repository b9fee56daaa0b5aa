#include "foundation/SystemData.h"

#include <string_view>

#include "foundation/PathUtil.h"

namespace keldwick::SystemData {

const std::unordered_set<std::string>& ownFolders() {
    static const std::unordered_set<std::string> names = {"Keldwick", "Marrowfen"};
    return names;
}

const std::vector<std::string>& desktopDataFolders() {
    static const std::vector<std::string> names = {
        // Shared by every desktop: the freedesktop folders and files.
        "Trash", "applications", "desktop-directories", "icons", "fonts", "mime", "sounds", "themes",
        "backgrounds", "wallpapers", "color-schemes", "recently-used.xbel", "user-places.xbel",
        // Session services: keys and passwords, certificates, the bus, the user's units,
        // the display server's logs, the file-system layer.
        "keyrings", "kwalletd", "pki", "dbus-1", "systemd", "xorg", "gvfs", "gvfs-metadata",
        // Flatpak's installations (its apps' data lives in ~/.var/app).
        "flatpak",
        // Search indexers and activity logs.
        "tracker", "tracker3", "baloo", "zeitgeist",
        // GNOME: the shell, its settings and sharing daemons, the file manager, the
        // contacts and calendars of evolution-data-server.
        "gnome-shell", "gnome-settings-daemon", "gnome-remote-desktop", "nautilus", "evolution",
        // KDE Plasma.
        "plasmashell", "plasma", "kwin", "kscreen", "kactivitymanagerd", "kded5", "kded6", "akonadi",
        // Xfce, Cinnamon, MATE.
        "xfce4", "cinnamon", "nemo", "caja",
    };
    return names;
}

bool isDesktopDataFolder(const std::string& name) {
    static const std::unordered_set<std::string> set(desktopDataFolders().begin(), desktopDataFolders().end());
    return set.count(name) != 0;
}

bool isAppFolder(const std::string& name) {
    return !name.empty() && !isDesktopDataFolder(name) && ownFolders().count(name) == 0;
}

const std::vector<HiddenModelFolder>& hiddenModelFolders() {
    static const std::vector<HiddenModelFolder> folders = {
        {".ollama/models", "Ollama models"},
        {".cache/huggingface", "Hugging Face models"},
        {".lmstudio/models", "LM Studio models"},
        {".cache/lm-studio/models", "LM Studio models"},
    };
    return folders;
}

bool isOpenToChosen(const std::string& path, const std::string& home, const std::string& dataHome) {
    for (const auto& folder : hiddenModelFolders()) {
        if (PathUtil::isInside(path, PathUtil::join(home, folder.relativePath))) return true;
    }
    if (const std::string emulators = PathUtil::join(home, kEmulatorFolder);
        path != emulators && PathUtil::isInside(path, emulators)) {
        return true;
    }
    const std::string data = PathUtil::withoutTrailingSlashes(dataHome);
    if (data.empty() || path == data || !PathUtil::isInside(path, data)) return false;
    std::string_view rest = std::string_view(path).substr(data.size() + 1);
    // "data/" or "data//x" names no app folder: it is the data folder itself.
    return isAppFolder(std::string(rest.substr(0, rest.find('/'))));
}

}  // namespace keldwick::SystemData
