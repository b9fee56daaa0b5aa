#pragma once
// The drive browser's navigation and texts as plain functions: the crumbs from the drive's
// top to the shown folder, where Back and a crumb lead, the items a search leaves, whether
// a folder lies in the program's own folder, what Open does, and the footer's count.

#include <optional>
#include <string>
#include <vector>

#include "drives/DriveBrowser.h"

namespace keldwick {

// The folder names from `root` down to `shown`; empty at the top or outside the root.
std::vector<std::string> crumbs(const std::string& root, const std::string& shown);
// Where Back leads from `shown` (none: the top level).
std::optional<std::string> backTarget(const std::string& root, const std::string& shown);
// The folder of the crumb at `index`.
std::string crumbTarget(const std::string& root, const std::vector<std::string>& crumbs, size_t index);

// The items whose name holds `search`, ignoring case (the text is used as typed).
std::vector<DriveItem> visibleItems(const std::vector<DriveItem>& items, const std::string& search);

// True for `appFolder` itself and everything below it (compared exactly).
bool insideAppFolder(const std::string& shown, const std::string& appFolder);

// Open on the chosen items: enter one folder, or open each item.
struct OpenChoice {
    std::optional<std::string> enter;
    std::vector<std::string> open;
    bool operator==(const OpenChoice&) const = default;
};
OpenChoice openChoice(const std::vector<DriveItem>& chosen);

// "1 item" / "<n> items".
std::string itemCountText(size_t count);

// What lies over the table, the first that holds.
enum class BrowserOverlay { none, loading, failure, noResults, empty };
BrowserOverlay browserOverlay(bool isLoading, bool failed, size_t items, size_t visible, const std::string& search);

}  // namespace keldwick
