#include "files/DriveBrowsing.h"

#include <QString>

#include "foundation/PathUtil.h"

namespace keldwick {

std::vector<std::string> crumbs(const std::string& root, const std::string& shown) {
    // The root may end in "/" (a drive mounted at "/" in tests): cut it with exactly one.
    const std::string prefix = root.ends_with('/') ? root : root + "/";
    std::vector<std::string> names;
    if (shown == root || !shown.starts_with(prefix)) return names;
    size_t start = prefix.size();
    while (start <= shown.size()) {
        size_t end = shown.find('/', start);
        if (end == std::string::npos) end = shown.size();
        if (end > start) names.push_back(shown.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::optional<std::string> backTarget(const std::string& root, const std::string& shown) {
    if (crumbs(root, shown).size() < 2) return std::nullopt;
    return PathUtil::parent(shown);
}

std::string crumbTarget(const std::string& root, const std::vector<std::string>& names, size_t index) {
    std::string relative;
    for (size_t i = 0; i <= index && i < names.size(); ++i) relative += (i ? "/" : "") + names[i];
    return PathUtil::join(root, relative);
}

std::vector<DriveItem> visibleItems(const std::vector<DriveItem>& items, const std::string& search) {
    if (search.empty()) return items;
    const QString wanted = QString::fromUtf8(search);
    std::vector<DriveItem> shown;
    for (const auto& item : items)
        if (QString::fromUtf8(item.name()).contains(wanted, Qt::CaseInsensitive)) shown.push_back(item);
    return shown;
}

bool insideAppFolder(const std::string& shown, const std::string& appFolder) {
    if (shown == appFolder) return true;
    const std::string prefix = appFolder.ends_with('/') ? appFolder : appFolder + "/";
    return shown.starts_with(prefix);
}

OpenChoice openChoice(const std::vector<DriveItem>& chosen) {
    if (chosen.size() == 1 && chosen.front().isFolder) return {chosen.front().path, {}};
    OpenChoice choice;
    for (const auto& item : chosen) choice.open.push_back(item.path);
    return choice;
}

std::string itemCountText(size_t count) { return count == 1 ? "1 item" : std::to_string(count) + " items"; }

BrowserOverlay browserOverlay(bool isLoading, bool failed, size_t items, size_t visible, const std::string& search) {
    if (isLoading && items == 0) return BrowserOverlay::loading;
    if (failed) return BrowserOverlay::failure;
    if (visible == 0 && !search.empty()) return BrowserOverlay::noResults;
    if (items == 0) return BrowserOverlay::empty;
    return BrowserOverlay::none;
}

}  // namespace keldwick
