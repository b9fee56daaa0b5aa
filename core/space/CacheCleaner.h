#pragma once
// The table of rebuildable caches in the home folder: measured, listed largest first,
// and emptied on request, leaving alone the entries named as kept and every entry that
// holds a file a running process has open. Stateless; runs on the caller's thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "space/CacheLocation.h"

namespace keldwick {

class OpenFileChecking;

namespace CacheCleaner {

// The XDG base folders as the session sets them. Empty means unset; relative values are
// ignored, as the XDG rules ask. Tests pass their own; the program passes
// fromEnvironment().
struct XdgFolders {
    std::optional<std::string> cacheHome;  // $XDG_CACHE_HOME (default home/.cache)
    std::optional<std::string> dataHome;   // $XDG_DATA_HOME (default home/.local/share)

    static XdgFolders fromEnvironment();
};

// The six locations in table order, every size 0. The "App and tool caches" row points at the
// XDG cache folder (home/.cache unless $XDG_CACHE_HOME names another absolute folder that
// is neither the home folder nor above it) and keeps the program's own folders. Any row
// whose folder holds the program's support folder keeps the entry leading to it.
std::vector<CacheLocation> table(const std::string& home, const std::set<std::string>& keepingAppCaches,
                                 const XdgFolders& xdg = {});

// The locations that hold something to clear, `size` measured as clear() would free it
// (entries holding a socket add nothing), largest first (equal sizes in table order).
// Never throws.
std::vector<CacheLocation> locations(const std::string& home, const std::set<std::string>& keepingAppCaches,
                                     const XdgFolders& xdg = {});

struct ClearResult {
    int64_t freed = 0;              // bytes of the files removed
    std::vector<std::string> kept;  // entries left in place: in use, on another mount, or not removable
};

// Empties the location's folders (never the folders themselves) of regular files, links
// and folders; sockets, FIFOs and device nodes are never removed. An entry that is or
// holds a socket (listening or not), or holds a file that `openFiles` reports open,
// stays whole and is listed once in `kept`. An entry that keeps a FIFO or device node
// loses everything else, adds what that freed and is listed in `kept`; one that can't
// be removed is listed in `kept` and adds nothing to `freed`. Entries kept by name or
// prefix are neither removed nor listed. Never throws.
ClearResult clear(const CacheLocation& location, const OpenFileChecking& openFiles);

// Bytes on disk that removing the entry would free: the allocated size of each regular
// file below it that has no other hard link and lies on the entry's own mount. Links and
// folders add nothing; what can't be read adds nothing. Saturates at the int64 maximum.
int64_t entrySize(const std::string& path);

}  // namespace CacheCleaner
}  // namespace keldwick
