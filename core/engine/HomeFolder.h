#pragma once
// The folder an item sits in at home, opened once and reached through its descriptor
// from then on: every step of one move, restore or repair on the item (its working names
// beside it, the set-aside original, the link swap, the removals) acts on the entries of
// that very folder, so a folder on the way renamed or swapped for a link meanwhile sends
// nothing anywhere else. Entries are named as "/proc/self/fd/N/<name>": only the last
// component is looked up, and the steps that act on it never follow it.

#include <cstdint>
#include <string>

#include "platform/FileIO.h"

namespace keldwick {

enum class TemporaryKind;  // foundation/FileOps.h

class HomeFolder {
public:
    // Opens the folder holding `item` (an absolute path). A folder that isn't there is held
    // by its name: nothing lies beneath it to act on, and every step finds nothing. Throws
    // POSIXFailure "open" for other failures.
    explicit HomeFolder(const std::string& item);

    // The folder, wherever it is now.
    const std::string& path() const { return path_; }
    // The entry of that name in it.
    std::string entry(const std::string& name) const;
    // The item's path by name, as it was opened.
    const std::string& itemPath() const { return itemPath_; }
    // The item itself, and one of its working names beside it.
    std::string item() const { return entry(name_); }
    std::string working(TemporaryKind kind, int64_t id) const;
    // An entry given by entry(), item() or working() as its path by name, for texts and
    // for what outlives this process; anything else as it is.
    std::string named(const std::string& entry) const;
    // Whether the folder still stands at the path it was opened by (the same folder, not
    // one renamed away or put in its place): a link made in it then stands at the item's
    // path. True when it is held by name.
    bool stillInPlace() const;

private:
    platform::Fd fd_;
    std::string itemPath_;
    std::string folder_;
    std::string name_;
    std::string path_;
};

}  // namespace keldwick
