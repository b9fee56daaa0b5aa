#pragma once
// The scanner's walk, shared by the files that make it up: the listing of a folder
// (ScanListing.cpp), the walk over folders as tasks of a pool (ScanWalk.cpp) and the
// checks of each entry it meets (ScanEntryChecks.cpp). Internal to the scanner.

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/FileStat.h"
#include "foundation/Saturating.h"
#include "foundation/AndroidDevices.h"
#include "foundation/TaskPool.h"
#include "foundation/Utf8.h"
#include "platform/Extents.h"
#include "platform/FileIO.h"
#include "platform/NameMatching.h"
#include "platform/Statx.h"
#include "scanning/Scanner.h"
#include "scanning/WholeFolderInspector.h"

namespace keldwick::ScanWalk {

// Earlier than any file date, so the first real date always replaces it.
constexpr Date kDistantPast = WholeFolderInspector::distantPast;

// Beyond this depth a walk stops holding each folder open and names children by path,
// so that a very deep tree can't use up the process's descriptors.
constexpr int kMaxOpenDepth = 128;

struct Summary {
    int64_t size = 0;       // bytes freed on this computer
    // The files whose extents were mapped (volumes that share extents), and the bytes they
    // add to `size` as last settled: a folder counts once each extent its files share.
    platform::FreedSpace mapped;
    int64_t mappedCounted = 0;
    int64_t keptElsewhere = 0;  // bytes of its files another copy or a snapshot keeps
    // Items inside that free nothing (kSharedDataReason): reported as skipped unless a
    // folder holding them moves whole, which frees their blocks with their copies.
    std::vector<std::string> freesNothing;
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

// A folder's names, read through a descriptor held open for its entries' lookups.
struct Listing {
    platform::Fd folder;  // not open: entries are named by path
    std::vector<std::string> names;  // by inode (readNamesAndKinds)
    std::vector<uint32_t> byName;    // positions in names, ordered by the names' bytes
    bool listed = false;
    bool exactNames = false;  // lookups in the folder compare names byte for byte

    int fd() const { return folder.get(); }
    void release() { folder.reset(); }
};

inline bool isAsciiOrValidUTF8(std::string_view name) {
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) return Utf8::isValid(name);
    }
    return true;
}

inline std::optional<FileStat> statEntry(const Folder* parent, const std::string& name, const std::string& path) {
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
std::optional<std::string> companionOf(const std::string& path);

// Skips and counts as a stretch of the walk made them, in walk order.
struct Log {
    std::vector<SkippedItem> skipped;  // at most the report's limit
    int64_t skippedCount = 0;
    int64_t visited = 0;
};

// What a stretch of the walk found. Stretches are joined in name order, whichever thread
// finished first and in whatever order the entries were visited, so the report
// is the one a walk on a single thread over sorted names makes.
struct Part {
    Summary summary;
    std::vector<Candidate> candidates;
    Log log;
};

inline void appendLog(Log& into, Log&& from, int64_t limit) {
    into.skippedCount += from.skippedCount;
    into.visited += from.visited;
    for (auto& item : from.skipped) {
        if (static_cast<int64_t>(into.skipped.size()) >= limit) break;
        into.skipped.push_back(std::move(item));
    }
}

// A child's summary counted into its folder's: sizes add up, one unmovable child keeps the
// folder in place, and the latest date wins (the earlier on a tie, as in listing order).
inline void absorb(Summary& into, const Summary& inner) {
    into.size = Saturating::add(into.size, inner.size);
    into.mapped.merge(inner.mapped);
    into.mappedCounted = Saturating::add(into.mappedCounted, inner.mappedCounted);
    into.freesNothing.insert(into.freesNothing.end(), inner.freesNothing.begin(), inner.freesNothing.end());
    into.driveSize = Saturating::add(into.driveSize, inner.driveSize);
    into.fileCount = Saturating::add(into.fileCount, inner.fileCount);
    into.movable = into.movable && inner.movable;
    into.offer(inner.lastUsed, inner.source);
}

inline void appendCandidates(std::vector<Candidate>& into, std::vector<Candidate>&& from) {
    if (into.empty()) {
        into = std::move(from);
    } else {
        for (auto& candidate : from) into.push_back(std::move(candidate));
    }
}

// Counts the mapped files of a whole folder together: extents its files share with each
// other are freed once, beyond what each part counted on its own.
inline void settleShared(Summary& summary) {
    const int64_t together = summary.mapped.freed();
    summary.size = Saturating::add(summary.size, together - summary.mappedCounted);
    summary.mappedCounted = together;
    summary.keptElsewhere = summary.mapped.keptElsewhere();
    summary.mapped.compact();
}

// A visit's result counted into a stretch: a refused child only keeps the folder in place.
// Its entries come by inode, not by name, so of two equal dates the source first in
// LastUsedSource's order wins, whichever came first.
inline void absorbVisit(Part& into, Visit&& visit) {
    if (!visit) {
        into.summary.movable = false;
        return;
    }
    const bool tie = visit->summary.lastUsed == into.summary.lastUsed && visit->summary.source < into.summary.source;
    absorb(into.summary, visit->summary);
    if (tie) into.summary.source = visit->summary.source;
    appendCandidates(into.candidates, std::move(visit->candidates));
}

// The skips of one entry visited in place added to its stretch's. They come in the
// order of their inodes, so the stretch keeps those first by path, as a walk over sorted
// names would: up to twice the limit gathered, then the first `limit` of them.
inline void gatherInPlace(Log& into, Log&& from, int64_t limit) {
    into.skippedCount += from.skippedCount;
    into.visited += from.visited;
    for (auto& item : from.skipped) into.skipped.push_back(std::move(item));
    const int64_t keep = std::max<int64_t>(limit, 0);
    if (static_cast<int64_t>(into.skipped.size()) >= 2 * keep) {
        std::stable_sort(into.skipped.begin(), into.skipped.end(),
                         [](const SkippedItem& a, const SkippedItem& b) { return a.path < b.path; });
        into.skipped.resize(static_cast<size_t>(keep));
    }
}

// A stretch's findings, which its entries added in the order of their inodes, put in the
// order of their paths (names in one folder), as a walk over sorted names finds them.
inline void inNameOrder(Part& stretch, int64_t limit) {
    auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
    std::stable_sort(stretch.candidates.begin(), stretch.candidates.end(), byPath);
    std::stable_sort(stretch.log.skipped.begin(), stretch.log.skipped.end(), byPath);
    const int64_t keep = std::max<int64_t>(limit, 0);
    if (static_cast<int64_t>(stretch.log.skipped.size()) > keep) stretch.log.skipped.resize(static_cast<size_t>(keep));
    std::sort(stretch.summary.freesNothing.begin(), stretch.summary.freesNothing.end());
}

// The facts of the volume a root (or the emulator devices' folder) lies on.
struct Volume {
    std::optional<uint64_t> device;
    bool sharesExtents = false;
    platform::NameMatching nameMatching = platform::NameMatching::unknown;
};

// A plain folder being walked. Its subfolders are visited as tasks of their own, its
// other entries in place; the last of them to end finishes the folder and hands its
// result up, so no thread ever waits for another.
struct FolderJob {
    std::string path;
    FileStat stat;
    Listing listing;
    std::vector<bool> maybeFolder;  // by listing position: visited as a task of its own
    bool hinted = false;            // the listing answers the rules' probes of the folder
    bool isRoot = false;
    bool neverWhole = false;
    int depth = 0;
    const Volume* volume = nullptr;

    FolderJob* parent = nullptr;  // nothing for a root
    Part* out = nullptr;          // where the folder's result goes

    Summary own;                  // the folder's own dates and state
    // Entries visited in place, by name: before the first subfolder, between, after.
    std::vector<Part> stretches;
    std::vector<Part> subfolders;  // by name
    std::atomic<int64_t> pending{1};   // subfolders not finished, and the walk of the entries
    std::atomic<int64_t> unopened{1};  // subfolders that may still look up through the descriptor, and the walk
};

// A visit either ends at once or leaves a plain folder to walk.
struct Step {
    Visit result;
    std::unique_ptr<FolderJob> descend;

    Step() = default;
    Step(Visit result) : result(std::move(result)) {}
    explicit Step(std::unique_ptr<FolderJob> folder) : descend(std::move(folder)) {}
};

enum TaskKind { kRootTask, kChildTask, kDeviceTask };

class Walk {
public:
    explicit Walk(const Scanner& scanner) : scanner_(scanner), uid_(getuid()), limit_(scanner.skippedReportLimit) {}

    // The scan as a whole.
    ScanReport run(const std::vector<std::string>& roots);

private:
    void recordSkip(Log& log, const std::string& path, std::string reason) const;
    Visit skip(Log& log, const std::string& path, std::string reason) const {
        recordSkip(log, path, std::move(reason));
        return std::nullopt;
    }

    void runTask(const TaskPool::Task& task, int worker);
    void runRoot(size_t index, int worker);
    void runChild(FolderJob* parent, uint32_t index, uint32_t slot, int worker);
    void runDevice(size_t index);
    void walkEntries(FolderJob* job, int worker);
    void childStarted(FolderJob* job) const;
    void complete(FolderJob* job);
    void finish(FolderJob* job);
    bool stopped(bool poll = false);
    void fail();

    Step visit(const Volume& volume, Log& log, const Folder* parent, const std::string& path,
               const std::string& name, bool isRoot, int depth) const;
    void list(const Volume& volume, const Folder* parent, const std::string& path, const std::string& name,
              int depth, Listing& listing, std::vector<bool>& maybeFolder) const;
    Visit leaf(Log& log, const std::string& path, const std::string& name, const FileStat& stat, bool package,
               Summary summary) const;
    Visit visitWhole(const Volume& volume, Log& log, const std::string& path, const FileStat& stat, WholeKind kind,
                     const std::optional<AndroidDevice>& device) const;
    Summary packageSummary(const Volume& volume, const std::string& path) const;
    std::optional<std::string> itemReason(const std::string& path, const FileStat& stat, bool package) const;
    std::optional<std::string> inUseInside(const std::string& folder) const;
    bool searchable(const FileStat& stat, int fd) const;
    bool answersProbes(const Listing& listing, const FileStat& stat) const;
    double age(Date lastUsed) const { return scanner_.now.timeIntervalSince(lastUsed); }
    // A file's blocks: by its extents where the volume shares them (see settleShared).
    void countBlocks(const Volume& volume, const std::string& path, const FileStat& stat, Summary& into) const;

    const Scanner& scanner_;
    const uid_t uid_;
    const int64_t limit_;
    int openDepth_ = kMaxOpenDepth;
    TaskPool* pool_ = nullptr;

    // Fixed once the walk begins; read by every thread.
    std::unordered_map<std::string, std::string> openFiles_;    // open item -> process
    std::unordered_map<std::string, std::string> busyFolders_;  // open folder -> process
    // Both, ordered, for the "anything open inside this folder" question; an open file's
    // name wins over a folder's on the same path.
    std::map<std::string, std::string> inUseByPath_;
    std::unordered_set<std::string> fixed_;
    std::vector<std::string> roots_;
    std::vector<Volume> rootVolumes_;
    std::vector<Part> rootParts_;
    std::vector<std::string> devices_;
    Volume deviceVolume_;
    std::vector<Part> deviceParts_;

    // Set once: the scan was cancelled, or a task failed.
    std::atomic<bool> stop_{false};
    std::mutex errorLock_;
    std::exception_ptr error_;
};

}  // namespace keldwick::ScanWalk
