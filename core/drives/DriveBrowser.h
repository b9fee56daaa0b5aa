#pragma once
// Lists one folder of the drive for browsing, in the order a file manager shows it,
// leaving out what the user should not see there: hidden names, the bookkeeping folders
// other systems leave on removable drives, icon files and items flagged hidden. Reads
// only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"

namespace keldwick {

struct DriveItem {
    std::string path;
    bool isFolder = false;       // a folder that is not a package
    std::optional<int64_t> size;  // files and links (a link's own length); none for folders and packages
    Date modified;

    const std::string& id() const { return path; }
    // The last path component.
    std::string name() const;

    bool operator==(const DriveItem&) const = default;
};

namespace DriveBrowser {

// The visible items of `folder`, sorted by name with the locale's collation (case
// differences secondary, runs of digits compared by value: "file2" before "file10"),
// stable, folders not first. Entries that vanish or can't be read while listing are left
// out. Throws the POSIXFailure of listing the folder ("opendir", "readdir").
std::vector<DriveItem> items(const std::string& folder);

// True when `name` sorts before `other` in that order (for tests and callers that merge).
bool comesBefore(const std::string& name, const std::string& other);

}  // namespace DriveBrowser

}  // namespace keldwick

template <>
struct std::hash<keldwick::DriveItem> {
    size_t operator()(const keldwick::DriveItem& item) const noexcept {
        size_t h = std::hash<std::string>{}(item.path);
        h = h * 31 + item.isFolder;
        h = h * 31 + std::hash<int64_t>{}(item.size.value_or(-1));
        return h * 31 + std::hash<double>{}(item.modified.secondsSince1970);
    }
};
