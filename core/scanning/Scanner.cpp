#include "scanning/Scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <dirent.h>
#include <limits.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>

#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/Simulators.h"
#include "foundation/Utf8.h"
#include "platform/Extents.h"
#include "platform/NameMatching.h"
#include "platform/Statx.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/ScannerChecks.h"
#include "scanning/WholeFolderInspector.h"

namespace keldwick {

namespace {

// Earlier than any file date, so the first real date always replaces it.
constexpr Date kDistantPast = WholeFolderInspector::distantPast;

// Beyond this depth a walk stops holding each folder open and names children by path,
// so that a very deep tree can't use up the process's descriptors.
constexpr int kMaxOpenDepth = 128;

struct Summary {
    int64_t size = 0;       // bytes freed on this computer
    int64_t driveSize = 0;  // logical bytes
    int64_t fileCount = 0;
    Date lastUsed = kDistantPast;
    LastUsedSource source = LastUsedSource::modificationDate;
    bool movable = true;  // may move as part of a whole folder

    void offer(Date date, LastUsedSource from) {
        if (date > lastUsed) {
            lastUsed = date;
            source = from;
        }
    }
};

struct Node {
    Summary summary;
    std::vector<Candidate> candidates;
};

// Nothing: the item was refused or can't be examined, so its folder can't move whole.
using Visit = std::optional<Node>;

// A folder of the walk as its entries are read: through a descriptor, or (-1) by path.
struct Folder {
    int fd;
};

bool isAsciiOrValidUTF8(std::string_view name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return Utf8::isValid(name);
    }
    return true;
}

// A folder's names, read through a descriptor held open for its entries' lookups.
struct Listing {
    int fd = -1;  // -1: entries are named by path
    std::vector<std::string> names;
    bool listed = false;
    bool exactNames = false;  // lookups in the folder compare names byte for byte

    Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing() { release(); }
    void release() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

// Sorted names of the folder open as `fd`, "." and ".." left out; false when reading fails.
bool readNames(int fd, std::vector<std::string>& names) {
    alignas(struct dirent64) char buffer[32768];
    for (;;) {
        const ssize_t got = getdents64(fd, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
}

std::optional<FileStat> statEntry(const Folder* parent, const std::string& name, const std::string& path) {
    // Looked up through its folder an entry can be reached at any depth, but what can't
    // be named by path can't be moved or rechecked either: it has no status, as for lstat.
    if (path.size() >= PATH_MAX) return std::nullopt;
    struct statx record;
    const int error = parent && parent->fd >= 0 ? platform::statxNoFollow(parent->fd, name.c_str(), record)
                                                : platform::statxNoFollow(AT_FDCWD, path.c_str(), record);
    if (error != 0) return std::nullopt;
    return FileStat::fromStatx(record);
}

// databaseCompanion answered from the listing of the file's folder when the walk holds
// one (the companions are its siblings), else from the file system.
std::optional<std::string> companionOf(const std::string& path) {
    static constexpr std::string_view suffixes[] = {"-wal", "-shm", "-journal"};
    const auto slash = path.rfind('/');
    const FolderListingHint* hint =
        slash == std::string::npos || slash == 0 ? nullptr : FolderListingHint::find(std::string_view(path).substr(0, slash));
    const std::string_view name = std::string_view(path).substr(slash + 1);
    // A name that is just a suffix has the folder itself as its shorter form.
    if (!hint || name.empty() || std::find(std::begin(suffixes), std::end(suffixes), name) != std::end(suffixes)) {
        return databaseCompanion(path);
    }
    for (const std::string_view suffix : suffixes) {
        // A companion path too long to name fails lstat, so it isn't one.
        if (path.size() + suffix.size() < PATH_MAX && hint->contains(std::string(name) + std::string(suffix))) {
            return path + std::string(suffix);
        }
        if (name.size() > suffix.size() && name.ends_with(suffix) && hint->contains(name.substr(0, name.size() - suffix.size()))) {
            return path.substr(0, path.size() - suffix.size());
        }
    }
    return std::nullopt;
}

class Walk {
public:
    explicit Walk(const Scanner& scanner) : scanner_(scanner), uid_(getuid()) {}

    // The scan as a whole.
    ScanReport run(const std::vector<std::string>& roots);

private:
    struct State {
        int64_t limit = 0;
        std::vector<SkippedItem> skipped;
        int64_t skippedCount = 0;
        int64_t visited = 0;
        std::unordered_map<std::string, std::string> openFiles;    // open item -> process
        std::unordered_map<std::string, std::string> busyFolders;  // open folder -> process
        // Both, ordered, for the "anything open inside this folder" question; an open
        // file's name wins over a folder's on the same path.
        std::map<std::string, std::string> inUseByPath;
        std::unordered_set<std::string> fixed;
        std::optional<uint64_t> device;
        bool sharesExtents = false;  // the volume being walked
        platform::NameMatching nameMatching = platform::NameMatching::unknown;  // the volume being walked
    };

    void recordSkip(const std::string& path, std::string reason);
    Visit skip(const std::string& path, std::string reason) {
        recordSkip(path, std::move(reason));
        return std::nullopt;
    }

    Visit visit(const Folder* parent, const std::string& path, const std::string& name, bool isRoot, int depth);
    void list(const Folder* parent, const std::string& path, const std::string& name, int depth,
              Listing& listing) const;
    Visit walkFolder(const std::string& path, const FileStat& stat, Listing& listing, bool isRoot, bool neverWhole,
                     int depth);
    Visit leaf(const std::string& path, const std::string& name, const FileStat& stat, bool package, Summary summary);
    Visit visitWhole(const std::string& path, const FileStat& stat, WholeKind kind,
                     const std::optional<SimulatorDevice>& simulator);
    std::vector<Candidate> scanSimulators(const std::string& folder);
    Summary packageSummary(const std::string& path, std::optional<uint64_t> device);
    std::optional<std::string> itemReason(const std::string& path, const FileStat& stat, bool package) const;
    std::optional<std::string> inUseInside(const std::string& folder) const;
    bool searchable(const FileStat& stat, int fd) const;
    bool answersProbes(const Listing& listing, const FileStat& stat) const;
    double age(Date lastUsed) const { return scanner_.now.timeIntervalSince(lastUsed); }
    int64_t privateOrAllocated(const std::string& path, const FileStat& stat) const;

    const Scanner& scanner_;
    const uid_t uid_;
    State state_;
};

void Walk::recordSkip(const std::string& path, std::string reason) {
    ++state_.skippedCount;
    if (static_cast<int64_t>(state_.skipped.size()) < state_.limit) {
        state_.skipped.push_back(SkippedItem{path, std::move(reason)});
    }
}

std::optional<std::string> Walk::itemReason(const std::string& path, const FileStat& stat, bool package) const {
    for (const auto& rule : scanner_.rules) {
        if (auto reason = rule->skipReason(path, stat, package)) return reason;
    }
    return std::nullopt;
}

int64_t Walk::privateOrAllocated(const std::string& path, const FileStat& stat) const {
    const ExtraStat extra = ExtraStat::fromStatus(path, stat, state_.sharesExtents);
    return extra.privateSize.value_or(stat.allocatedSize);
}

std::optional<std::string> Walk::inUseInside(const std::string& folder) const {
    const auto& byPath = state_.inUseByPath;
    if (auto exact = byPath.find(folder); exact != byPath.end()) return exact->second;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    auto next = byPath.lower_bound(prefix);
    if (next != byPath.end() && next->first.starts_with(prefix)) return next->second;
    return std::nullopt;
}

ScanReport Walk::run(const std::vector<std::string>& roots) {
    const auto start = std::chrono::steady_clock::now();
    state_.limit = scanner_.skippedReportLimit;

    for (const auto& usage : scanner_.inUse) {
        auto status = FileStat::peek(usage.path);
        auto& map = status && status->isDirectory() ? state_.busyFolders : state_.openFiles;
        map[usage.path] = usage.processName;
    }
    state_.inUseByPath.insert(state_.busyFolders.begin(), state_.busyFolders.end());
    for (const auto& [path, process] : state_.openFiles) state_.inUseByPath[path] = process;

    state_.fixed = scanner_.fixedFolders;
    for (const auto& root : roots) {
        if (auto real = PathUtil::canonical(root)) state_.fixed.insert(std::move(*real));
    }

    std::vector<Candidate> found;
    for (const auto& root : canonicalRoots(roots)) {
        if (auto reason = scanner_.reasonToSkip(root)) {
            recordSkip(root, std::move(*reason));
            continue;
        }
        auto status = FileStat::peek(root);
        state_.device = status ? std::optional<uint64_t>(status->device) : std::nullopt;
        state_.sharesExtents = platform::volumeSharesExtents(root.c_str());
        state_.nameMatching = platform::volumeNameMatching(root.c_str());
        if (auto node = visit(nullptr, root, PathUtil::name(root), true, 0)) {
            for (auto& candidate : node->candidates) found.push_back(std::move(candidate));
        }
    }

    if (scanner_.simulatorDevices) {
        if (auto real = PathUtil::canonical(*scanner_.simulatorDevices)) {
            auto status = FileStat::peek(*real);
            state_.device = status ? std::optional<uint64_t>(status->device) : std::nullopt;
            state_.sharesExtents = platform::volumeSharesExtents(real->c_str());
            for (auto& candidate : scanSimulators(*real)) found.push_back(std::move(candidate));
        }
    }

    ScanReport report;
    report.candidates = scanner_.ranker.rank(uniqueByPath(std::move(found)));
    report.skipped = std::move(state_.skipped);
    report.skippedCount = state_.skippedCount;
    report.itemsVisited = state_.visited;
    report.duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

Visit Walk::visit(const Folder* parent, const std::string& path, const std::string& name, bool isRoot, int depth) {
    ++state_.visited;
    if (isTemporaryName(name)) return std::nullopt;
    auto status = statEntry(parent, name, path);
    if (!status) return std::nullopt;
    if (status->isSymlink() || status->kind == FileStat::Kind::other) return std::nullopt;
    // The journal and the drive's manifest hold names as text: a name that isn't can't
    // be recorded, so neither it nor anything inside it can move.
    if (!isAsciiOrValidUTF8(isRoot ? std::string_view(path) : std::string_view(name))) {
        return skip(path, kUnrecordableNameReason);
    }
    const bool isFolder = status->isDirectory();
    const bool package = isFolder && isPackageName(name);

    const bool plainFolder = isFolder && !package;
    // A plain folder is listed once, before the rules look at it: their probes of its
    // entries are answered from the listing, and the walk goes on with it.
    Listing listing;
    std::optional<FolderListingHint> hint;

    if (isRoot) {
        if (!plainFolder) return Node{};  // a managed folder that is a file or a package offers nothing
        list(parent, path, name, depth, listing);
        if (answersProbes(listing, *status)) hint.emplace(path, listing.names);
        return walkFolder(path, *status, listing, true, true, depth);
    }

    if (state_.device && *state_.device != status->device) return skip(path, "On another disk");
    const bool isFixed = isFolder && state_.fixed.count(path) != 0;
    if (plainFolder) {
        list(parent, path, name, depth, listing);
        if (answersProbes(listing, *status)) hint.emplace(path, listing.names);
        if (!isFixed && DevelopmentRule::isProject(path)) {
            hint.reset();
            listing.release();
            return visitWhole(path, *status, WholeKind::project, std::nullopt);
        }
    }
    if (auto reason = reasonNotMovable(*status, name, uid_)) return skip(path, std::move(*reason));
    if (auto reason = itemReason(path, *status, package)) return skip(path, std::move(*reason));
    if (auto open = state_.openFiles.find(path); open != state_.openFiles.end()) {
        return skip(path, "Open in " + open->second);
    }

    if (plainFolder) return walkFolder(path, *status, listing, false, isFixed, depth);
    Summary summary;
    if (package) {
        summary = packageSummary(path, state_.device);
    } else {
        summary.size = privateOrAllocated(path, *status);
        summary.driveSize = status->size;
        summary.fileCount = 1;
    }
    return leaf(path, name, *status, package, summary);
}

Visit Walk::leaf(const std::string& path, const std::string& name, const FileStat& stat, bool package,
                 Summary summary) {
    summary.offer(stat.modificationDate(), LastUsedSource::modificationDate);
    summary.offer(stat.creationDate(), LastUsedSource::creationDate);
    if (auto added = ExtraStat::fromStatus(path, stat, false).added) summary.offer(*added, LastUsedSource::addedDate);
    if (auto used = scanner_.lastUsedDates.find(path); used != scanner_.lastUsedDates.end()) {
        summary.offer(used->second, LastUsedSource::spotlight);
    } else if (!package) {
        summary.offer(stat.accessDate(), LastUsedSource::accessDate);
    }

    Node node{summary, {}};
    if (!summary.movable) return node;
    const OffloadPolicy& policy = scanner_.policy;
    const double itemAge = age(summary.lastUsed);
    bool recent = false;
    if (policy.allowsType(name, package) && summary.size >= policy.minimumItemSize && itemAge >= policy.minimumAge) {
        recent = false;
    } else if (const auto& light = policy.recentLightFiles;
               light && OffloadPolicy::light().allowsType(name, package) &&
               summary.size >= std::max(policy.minimumItemSize, light->minimumSize) && itemAge >= light->minimumAge) {
        recent = true;
    } else {
        return node;
    }
    if (!package) {
        if (auto companion = companionOf(path)) {
            recordSkip(path, "Part of a database (with “" + PathUtil::name(*companion) + "”)");
            return node;
        }
    }
    node.candidates.emplace_back(path, package, summary.size, summary.fileCount, summary.lastUsed, summary.source,
                                 Ranker::score(summary.size, summary.lastUsed, scanner_.now), recent, std::nullopt,
                                 summary.driveSize);
    return node;
}

void Walk::list(const Folder* parent, const std::string& path, const std::string& name, int depth,
                Listing& listing) const {
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    listing.fd = parent && parent->fd >= 0 ? openat(parent->fd, name.c_str(), flags) : open(path.c_str(), flags);
    if (listing.fd < 0) return;
    listing.listed = readNames(listing.fd, listing.names);
    if (!listing.listed) listing.names.clear();
    listing.exactNames = listing.listed && platform::folderMatchesNamesExactly(listing.fd, state_.nameMatching);
    if (depth >= kMaxOpenDepth) listing.release();
}

bool Walk::searchable(const FileStat& stat, int fd) const {
    if (uid_ == 0) return true;
    if (stat.ownerID == uid_) return (stat.mode & S_IXUSR) != 0;
    return fd >= 0 && faccessat(fd, ".", X_OK, AT_EACCESS) == 0;
}

// The listing may stand in for lookups of the folder's names only where a lookup would
// give the same answer: the names compare byte for byte and the entries can be reached.
bool Walk::answersProbes(const Listing& listing, const FileStat& stat) const {
    return listing.listed && listing.exactNames && searchable(stat, listing.fd);
}

Visit Walk::walkFolder(const std::string& path, const FileStat& stat, Listing& listing, bool isRoot, bool neverWhole,
                       int depth) {
    Summary summary;
    summary.offer(stat.modificationDate(), LastUsedSource::modificationDate);
    summary.offer(stat.creationDate(), LastUsedSource::creationDate);
    if (auto added = ExtraStat::fromStatus(path, stat, false).added) summary.offer(*added, LastUsedSource::addedDate);
    if (state_.busyFolders.count(path) != 0) summary.movable = false;
    // Counted as empty when it can't be listed; but what it holds is unknown, so it
    // can't move as a whole.
    if (!listing.listed) summary.movable = false;

    std::vector<Candidate> candidates;
    const Folder self{listing.fd};
    for (const auto& child : listing.names) {
        const std::string childPath = PathUtil::join(path, child);
        Visit result = visit(&self, childPath, child, false, depth + 1);
        if (!result) {
            summary.movable = false;
            continue;
        }
        const Summary& inner = result->summary;
        summary.size = Saturating::add(summary.size, inner.size);
        summary.driveSize = Saturating::add(summary.driveSize, inner.driveSize);
        summary.fileCount = Saturating::add(summary.fileCount, inner.fileCount);
        summary.movable = summary.movable && inner.movable;
        summary.offer(inner.lastUsed, inner.source);
        if (candidates.empty()) {
            candidates = std::move(result->candidates);
        } else {
            for (auto& candidate : result->candidates) candidates.push_back(std::move(candidate));
        }
    }
    listing.release();

    const OffloadPolicy& policy = scanner_.policy;
    bool whole = !isRoot && !neverWhole && policy.allowFolders && summary.movable && summary.fileCount >= 1 &&
                 summary.fileCount <= policy.maxFolderFileCount && summary.size >= policy.minimumItemSize &&
                 age(summary.lastUsed) >= std::max(policy.minimumAge, policy.folderInactivity);
    if (whole) {
        for (const auto& rule : scanner_.rules) {
            if (rule->keepsTogether(path)) {
                whole = false;
                break;
            }
        }
    }
    if (whole) {
        candidates.shrink_to_fit();  // kept as parts until the scan ends
        Candidate folder(path, true, summary.size, summary.fileCount, summary.lastUsed, summary.source,
                         Ranker::score(summary.size, summary.lastUsed, scanner_.now), false, std::nullopt,
                         summary.driveSize, std::move(candidates));
        Node node{summary, {}};
        node.candidates.push_back(std::move(folder));
        return node;
    }
    return Node{summary, std::move(candidates)};
}

Visit Walk::visitWhole(const std::string& path, const FileStat& stat, WholeKind kind,
                       const std::optional<SimulatorDevice>& simulator) {
    const OffloadPolicy& policy = scanner_.policy;
    if (kind == WholeKind::project && !policy.moveProjects) return skip(path, "Code project");
    if (!policy.driveIsMacFormatted) return skip(path, "Only moves to a drive formatted for the Mac");
    if (auto reason = reasonNotMovable(stat, PathUtil::name(path), uid_)) return skip(path, std::move(*reason));
    for (const auto& rule : scanner_.rules) {
        if (auto reason = rule->skipReasonWhole(path, kind)) return skip(path, std::move(*reason));
    }
    if (auto process = inUseInside(path)) return skip(path, "In use by " + *process);

    const double stopAge = policy.recentLightFiles ? policy.recentLightFiles->minimumAge : policy.minimumAge;
    WholeFolderInspector inspector;
    for (const auto& [used, date] : scanner_.lastUsedDates) {
        if (PathUtil::isInside(used, path)) inspector.lastUsedDates.emplace(used, date);
    }
    inspector.stopIfUsedAfter = scanner_.now.adding(-stopAge);
    inspector.alsoUsed = simulator ? simulator->lastBooted : std::nullopt;
    inspector.device = state_.device;
    inspector.keepsSymlinks = true;
    const auto result = inspector.inspect(path);
    if (result.kind == WholeFolderInspector::Result::Kind::blocked) return skip(path, result.reason);
    if (result.kind == WholeFolderInspector::Result::Kind::usedRecently) {
        return skip(path, kind == WholeKind::project ? "Code you're working on" : "Used lately");
    }

    const auto& inspected = result.summary;
    int64_t minimum = policy.minimumItemSize;
    if (kind == WholeKind::simulator) minimum = std::max(policy.minimumSimulatorSize, policy.minimumItemSize);
    const double wholeAge = age(inspected.lastUsed);
    int64_t threshold = minimum;
    if (wholeAge < policy.minimumAge && policy.recentLightFiles) {
        threshold = std::max(policy.recentLightFiles->minimumSize, minimum);
    }
    if (inspected.size < threshold) return std::nullopt;

    Node node;
    node.summary.size = inspected.size;
    node.summary.driveSize = inspected.driveSize;
    node.summary.fileCount = inspected.fileCount;
    node.summary.movable = false;
    node.candidates.emplace_back(path, true, inspected.size, inspected.fileCount, inspected.lastUsed, inspected.source,
                                 Ranker::score(inspected.size, inspected.lastUsed, scanner_.now),
                                 wholeAge < policy.minimumAge, kind, inspected.driveSize);
    return node;
}

std::vector<Candidate> Walk::scanSimulators(const std::string& folder) {
    std::vector<Candidate> found;
    for (const auto& path : Simulators::deviceFolders(folder)) {
        ++state_.visited;
        auto status = FileStat::peek(path);
        if (!status || !status->isDirectory()) continue;
        auto device = SimulatorDevice::read(path);
        if (!device) continue;
        if (!device->isIdle) {
            recordSkip(path, "Running");
            continue;
        }
        if (auto node = visitWhole(path, *status, WholeKind::simulator, device)) {
            for (auto& candidate : node->candidates) found.push_back(std::move(candidate));
        }
    }
    return found;
}

Summary Walk::packageSummary(const std::string& path, std::optional<uint64_t> device) {
    Summary summary;
    auto status = FileStat::peek(path);
    if (!status || !status->isDirectory()) {
        summary.movable = false;
        return summary;
    }
    std::vector<std::string> inside;
    collectRelativePaths("", path, inside);
    for (const auto& relative : inside) {
        const std::string full = PathUtil::join(path, relative);
        auto entry = FileStat::peek(full);
        if (!entry) continue;
        if (summary.movable) {
            const std::string name = PathUtil::name(full);
            if (device && *device != entry->device) {
                summary.movable = false;
            } else if (!isAsciiOrValidUTF8(name)) {
                summary.movable = false;  // can't be recorded, as in the walk
            } else if (entry->isSymlink() || entry->kind == FileStat::Kind::other) {
                summary.movable = false;
            } else if (reasonNotMovable(*entry, name, uid_)) {
                summary.movable = false;
            } else if (itemReason(full, *entry, entry->isDirectory() && isPackageName(name))) {
                summary.movable = false;
            }
        }
        if (entry->isFile()) {
            summary.size = Saturating::add(summary.size, privateOrAllocated(full, *entry));
            summary.driveSize = Saturating::add(summary.driveSize, entry->size);
            summary.fileCount = Saturating::add(summary.fileCount, 1);
            summary.offer(entry->modificationDate(), LastUsedSource::modificationDate);
        }
    }
    summary.fileCount = std::max<int64_t>(summary.fileCount, 1);
    return summary;
}

}  // namespace

Scanner::Scanner(OffloadPolicy policy, RuleList rules, std::unordered_map<std::string, Date> lastUsedDates,
                 std::vector<OpenFileUsage> inUse, Date now)
    : policy(std::move(policy)),
      rules(std::move(rules)),
      lastUsedDates(std::move(lastUsedDates)),
      inUse(std::move(inUse)),
      now(now) {}

ScanReport Scanner::scan(const std::vector<std::string>& roots) const { return Walk(*this).run(roots); }

std::optional<std::string> Scanner::reasonToSkip(const std::string& managedFolder) const {
    return reasonToSkip(managedFolder, rules);
}

std::optional<std::string> Scanner::reasonToSkip(const std::string& managedFolder, const RuleList& rules) {
    auto status = FileStat::peek(managedFolder);
    if (!status) return "Folder not found";
    for (const auto& rule : rules) {
        if (auto reason = rule->skipReasonForAncestorsOf(managedFolder)) return reason;
        if (auto reason = rule->skipReason(managedFolder, *status, false)) return reason;
    }
    return std::nullopt;
}

}  // namespace keldwick
