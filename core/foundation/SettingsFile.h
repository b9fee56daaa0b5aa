#pragma once
// The program's own settings files in the user's folders ("settings.json", and the
// toolkit's "Keldwick.conf"). They are the user's files, so a link to a regular file
// (as a dotfile manager makes) is followed; anything else standing there (a FIFO, a
// device, a folder, a file far larger than any settings) is never opened, since reading
// it could block the start for good or take the memory of the whole file.

#include <cstddef>
#include <string>

namespace keldwick::SettingsFile {

// Settings are a few kilobytes.
inline constexpr size_t kMaximumSize = 1u << 20;

enum class State {
    missing,   // nothing at the path, not even a link
    usable,    // a regular file, or a link to one, of at most the size
    unusable,  // anything else: a special file, a folder, a dangling link, too large
};

// What stands at `path`, looked at without opening it.
State judge(const std::string& path, size_t maxBytes = kMaximumSize);

// The whole file, opened without blocking (a final link followed) and checked again once
// open. Throws POSIXFailure: "open" (ENOENT when nothing is there, EINVAL when what is
// there is not a regular file or a link to one), "read" (EFBIG when larger than maxBytes).
std::string read(const std::string& path, size_t maxBytes = kMaximumSize);

enum class Aside { moved, missing, stuck };
// Moves the entry itself (a link, never its target) to path + ".corrupt", replacing an
// older one; logs what it did. Missing when nothing was there to move.
Aside setAside(const std::string& path);

// At the start: an unusable file is set aside. `usable` is false only when something
// unusable still stands there (it could not be moved): the caller must not open it.
struct Prepared {
    bool usable = true;
    bool setAside = false;
};
Prepared prepare(const std::string& path, size_t maxBytes = kMaximumSize);

}  // namespace keldwick::SettingsFile
