#include "space/CacheCleaner.h"

#include <algorithm>
#include <array>
#include <limits>

#include "foundation/FileOps.h"
#include "foundation/OpenFileChecking.h"
#include "foundation/PathUtil.h"
#include "foundation/SystemData.h"
#include "platform/FileStatus.h"
#include "platform/ProcessFacts.h"
#include "platform/Statx.h"
#include "space/SpaceSizes.h"

namespace keldwick::CacheCleaner {
namespace {

struct Row {
    const char* name;
    const char* note;
    std::vector<std::string> folders;  // relative to the home folder
    bool selectedByDefault;
};

const char* const kSamePackagesNote = "Packages download again when you install them";
const char* const kAppAndToolCaches = "App and tool caches";

std::optional<std::string> absoluteValue(const std::optional<std::string>& value) {
    if (value && !value->empty() && value->front() == '/') return value;
    return std::nullopt;
}

// The form of `path` to compare with others: resolved when it exists, as given otherwise.
std::string comparable(const std::string& path) { return PathUtil::canonical(path).value_or(path); }

// The folder the "App and tool caches" row clears. A cache home that is the home folder or lies
// above it would empty the whole home: such a value counts as unset.
std::string toolCacheFolder(const std::string& home, const XdgFolders& xdg) {
    const std::string fallback = PathUtil::join(home, ".cache");
    auto chosen = absoluteValue(xdg.cacheHome);
    if (!chosen) return fallback;
    chosen = PathUtil::withoutTrailingSlashes(*chosen);
    const std::string resolvedHome = comparable(home);
    const std::string resolvedCache = comparable(*chosen);
    if (PathUtil::isInside(PathUtil::withoutTrailingSlashes(home), *chosen) || PathUtil::isInside(resolvedHome, resolvedCache)) {
        return fallback;
    }
    return *chosen;
}

// The program's own folders in the XDG data folder (its support folder, under either
// name), in the forms a cache folder could reach them by.
std::vector<std::string> ownFolderPaths(const std::string& home, const XdgFolders& xdg) {
    const std::string dataHome = absoluteValue(xdg.dataHome).value_or(PathUtil::join(home, ".local/share"));
    std::vector<std::string> paths;
    for (const auto& own : SystemData::ownFolders()) {
        const std::string path = PathUtil::join(dataHome, own);
        paths.push_back(path);
        if (auto resolved = PathUtil::canonical(path); resolved && *resolved != path) paths.push_back(*resolved);
    }
    return paths;
}

// The name of the entry of `folder` that leads to `path`, when `path` lies below it.
std::optional<std::string> entryLeadingTo(const std::string& path, const std::string& folder) {
    if (path == folder || !PathUtil::isInside(path, folder)) return std::nullopt;
    std::string rest = path.substr(folder.size());
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    const auto slash = rest.find('/');
    std::string first = rest.substr(0, slash);
    if (first.empty()) return std::nullopt;
    return first;
}

// A cache folder as it really is on disk: links on the way resolved, so that entry paths
// match the paths the kernel reports for open files. Nothing when it is not a folder, or
// when it resolves to a folder above itself.
struct ResolvedFolder {
    std::string path;
    uint64_t device = 0;
};

std::optional<ResolvedFolder> resolveFolder(const std::string& folder) {
    auto resolved = PathUtil::canonical(folder);
    if (!resolved) return std::nullopt;
    // A cache folder linked to a folder above it (~/.cache -> ~) would empty the home.
    auto parent = PathUtil::canonical(PathUtil::parent(folder));
    if (!parent || PathUtil::isInside(*parent, *resolved)) return std::nullopt;
    struct statx record {};
    if (platform::statxNoFollow(AT_FDCWD, resolved->c_str(), record) != 0) return std::nullopt;
    if (!S_ISDIR(record.stx_mode)) return std::nullopt;
    return ResolvedFolder{*resolved, platform::deviceNumber(record.stx_dev_major, record.stx_dev_minor)};
}

uint64_t deviceOf(const struct statx& record) { return platform::deviceNumber(record.stx_dev_major, record.stx_dev_minor); }

bool isKeptByName(const std::string& name, const CacheLocation& location) {
    if (name == ".DS_Store" || location.keeping.count(name) > 0) return true;
    return std::any_of(location.keepingPrefixes.begin(), location.keepingPrefixes.end(),
                       [&](const std::string& prefix) { return name.compare(0, prefix.size(), prefix) == 0; });
}

// Entry names of the folder that clearing may remove, in listing order.
std::vector<std::string> removableNames(const ResolvedFolder& folder, const CacheLocation& location) {
    std::vector<std::string> names;
    try {
        names = listDirectory(folder.path);
    } catch (...) {
        return {};
    }
    std::erase_if(names, [&](const std::string& name) { return isKeptByName(name, location); });
    return names;
}

// True when the entry starts another mount (or lies on another device than its cache
// folder): clearing never reaches into another file system.
bool isOnOtherMount(const std::string& entry, const ResolvedFolder& folder) {
    struct statx record {};
    if (platform::statxNoFollow(AT_FDCWD, entry.c_str(), record) != 0) return false;
    return deviceOf(record) != folder.device || platform::isMountRoot(record);
}

// What one walk of an entry finds: the bytes removing it would free, and whether it is
// or holds a socket (by the walk's own lstat: listening or not, a program may use it).
struct EntryFacts {
    int64_t size = 0;
    bool holdsSocket = false;
};

EntryFacts entryFacts(const std::string& path) {
    EntryFacts facts;
    struct statx top {};
    if (platform::statxNoFollow(AT_FDCWD, path.c_str(), top) != 0) return facts;
    if (S_ISSOCK(top.stx_mode)) facts.holdsSocket = true;
    if (S_ISREG(top.stx_mode)) facts.size = SpaceSizes::allocatedIfSoleLink(top);
    if (!S_ISDIR(top.stx_mode)) return facts;

    const uint64_t device = deviceOf(top);
    std::vector<std::string> relatives;
    collectRelativePaths("", path, relatives);
    std::string skipBelow;  // a nested mount: removal stops there, so measuring does too
    for (const auto& relative : relatives) {
        if (!skipBelow.empty() && PathUtil::isInside(relative, skipBelow)) continue;
        skipBelow.clear();
        struct statx record {};
        if (platform::statxNoFollow(AT_FDCWD, PathUtil::join(path, relative).c_str(), record) != 0) continue;
        if (deviceOf(record) != device || platform::isMountRoot(record)) {
            skipBelow = relative;
            continue;
        }
        if (S_ISSOCK(record.stx_mode)) facts.holdsSocket = true;
        if (S_ISREG(record.stx_mode)) facts.size = SpaceSizes::add(facts.size, SpaceSizes::allocatedIfSoleLink(record));
    }
    return facts;
}

bool isHeldOpen(const std::string& entry, const std::vector<std::string>& openPaths) {
    return std::any_of(openPaths.begin(), openPaths.end(),
                       [&](const std::string& open) { return PathUtil::isInside(open, entry); });
}

int64_t folderSize(const std::string& folder, const CacheLocation& location) {
    auto resolved = resolveFolder(folder);
    if (!resolved) return 0;
    int64_t total = 0;
    for (const auto& name : removableNames(*resolved, location)) {
        const std::string entry = PathUtil::join(resolved->path, name);
        if (isOnOtherMount(entry, *resolved)) continue;
        // Clearing leaves an entry holding a socket: it frees nothing.
        const EntryFacts facts = entryFacts(entry);
        if (facts.holdsSocket) continue;
        total = SpaceSizes::add(total, facts.size);
    }
    return total;
}

}  // namespace

XdgFolders XdgFolders::fromEnvironment() {
    return XdgFolders{platform::environmentVariable("XDG_CACHE_HOME"), platform::environmentVariable("XDG_DATA_HOME")};
}

std::vector<CacheLocation> table(const std::string& home, const std::set<std::string>& keepingAppCaches,
                                 const XdgFolders& xdg) {
    const std::vector<Row> rows = {
        {"npm cache", kSamePackagesNote, {".npm/_cacache"}, true},
        {"Gradle caches", "Android builds download what they need again", {".gradle/caches"}, true},
        {"Rust downloads", "Crates download again when you build", {".cargo/registry/cache"}, true},
        {"Bun cache", kSamePackagesNote, {".bun/install/cache"}, true},
        {"Yarn cache", kSamePackagesNote, {".yarn/berry/cache"}, true},
        {kAppAndToolCaches, "Apps, browsers and tools rebuild them as you use them", {".cache"}, true},
    };
    const auto ownPaths = ownFolderPaths(home, xdg);

    std::vector<CacheLocation> locations;
    for (const auto& row : rows) {
        CacheLocation location;
        location.name = row.name;
        location.note = row.note;
        location.selectedByDefault = row.selectedByDefault;
        const bool isToolCaches = location.name == kAppAndToolCaches;
        for (const auto& relative : row.folders) {
            location.folders.push_back(isToolCaches ? toolCacheFolder(home, xdg) : PathUtil::join(home, relative));
        }
        if (isToolCaches) {
            // Models, and data that lives only here although the folder is named a cache:
            // rclone's write-back cache holds files not yet uploaded, and the local history
            // of JetBrains IDEs (Android Studio's under "Google") holds past versions of the
            // user's files.
            location.keeping = {"huggingface", "lm-studio", "rclone", "JetBrains", "Google"};
            // The program's own caches sit here on this system, under its names.
            for (const auto& own : SystemData::ownFolders()) location.keeping.insert(own);
            location.keeping.insert(keepingAppCaches.begin(), keepingAppCaches.end());
        }
        // Never let a cache folder's clearing reach the program's support folder.
        for (const auto& folder : location.folders) {
            for (const auto& form : {folder, comparable(folder)}) {
                for (const auto& own : ownPaths) {
                    if (auto entry = entryLeadingTo(own, form)) location.keeping.insert(*entry);
                }
            }
        }
        locations.push_back(std::move(location));
    }
    return locations;
}

std::vector<CacheLocation> locations(const std::string& home, const std::set<std::string>& keepingAppCaches,
                                     const XdgFolders& xdg) {
    std::vector<CacheLocation> found;
    for (auto& location : table(home, keepingAppCaches, xdg)) {
        int64_t size = 0;
        for (const auto& folder : location.folders) size = SpaceSizes::add(size, folderSize(folder, location));
        if (size <= 0) continue;
        location.size = size;
        found.push_back(std::move(location));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const CacheLocation& a, const CacheLocation& b) { return a.size > b.size; });
    return found;
}

ClearResult clear(const CacheLocation& location, const OpenFileChecking& openFiles) {
    ClearResult result;
    for (const auto& folder : location.folders) {
        auto resolved = resolveFolder(folder);
        if (!resolved) continue;
        std::vector<std::string> openPaths;
        for (const auto& usage : openFiles.usage(resolved->path)) openPaths.push_back(usage.path);

        for (const auto& name : removableNames(*resolved, location)) {
            // Reported as the table names it; matched and removed where it really is.
            const std::string shown = PathUtil::join(folder, name);
            const std::string entry = PathUtil::join(resolved->path, name);
            if (isHeldOpen(entry, openPaths) || isOnOtherMount(entry, *resolved)) {
                result.kept.push_back(shown);
                continue;
            }
            // A program may listen on a socket here (the accessibility bus puts its own
            // in ~/.cache without a runtime folder): the entry that holds it stays whole.
            const EntryFacts facts = entryFacts(entry);
            if (facts.holdsSocket) {
                result.kept.push_back(shown);
                continue;
            }
            try {
                // FIFOs and device nodes stay, with the folders that hold them.
                const bool whole = PathUtil::removeTreeKeepingSpecialFiles(entry);
                result.freed = SpaceSizes::add(result.freed, facts.size);
                if (!whole) result.kept.push_back(shown);
            } catch (...) {
                result.kept.push_back(shown);
            }
        }
    }
    return result;
}

int64_t entrySize(const std::string& path) { return entryFacts(path).size; }

}  // namespace keldwick::CacheCleaner
