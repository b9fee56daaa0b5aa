#include "scanning/Scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <dirent.h>
#include <limits.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/Simulators.h"
#include "foundation/TaskPool.h"
#include "foundation/Utf8.h"
#include "platform/Extents.h"
#include "platform/FileIO.h"
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
    platform::Fd folder;  // not open: entries are named by path
    std::vector<std::string> names;
    bool listed = false;
    bool exactNames = false;  // lookups in the folder compare names byte for byte

    int fd() const { return folder.get(); }
    void release() { folder.reset(); }
};

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

// Skips and counts as a stretch of the walk made them, in walk order.
struct Log {
    std::vector<SkippedItem> skipped;  // at most the report's limit
    int64_t skippedCount = 0;
    int64_t visited = 0;
};

// What a stretch of the walk found. Stretches are joined in walk order, whichever thread
// finished first, so the report is the one a walk on a single thread makes.
struct Part {
    Summary summary;
    std::vector<Candidate> candidates;
    Log log;
};

void appendLog(Log& into, Log&& from, int64_t limit) {
    into.skippedCount += from.skippedCount;
    into.visited += from.visited;
    for (auto& item : from.skipped) {
        if (static_cast<int64_t>(into.skipped.size()) >= limit) break;
        into.skipped.push_back(std::move(item));
    }
}

// A child's summary counted into its folder's: sizes add up, one unmovable child keeps the
// folder in place, and the latest date wins (the earlier on a tie, as in listing order).
void absorb(Summary& into, const Summary& inner) {
    into.size = Saturating::add(into.size, inner.size);
    into.driveSize = Saturating::add(into.driveSize, inner.driveSize);
    into.fileCount = Saturating::add(into.fileCount, inner.fileCount);
    into.movable = into.movable && inner.movable;
    into.offer(inner.lastUsed, inner.source);
}

void appendCandidates(std::vector<Candidate>& into, std::vector<Candidate>&& from) {
    if (into.empty()) {
        into = std::move(from);
    } else {
        for (auto& candidate : from) into.push_back(std::move(candidate));
    }
}

// A visit's result counted into a stretch: a refused child only keeps the folder in place.
void absorbVisit(Part& into, Visit&& visit) {
    if (!visit) {
        into.summary.movable = false;
        return;
    }
    absorb(into.summary, visit->summary);
    appendCandidates(into.candidates, std::move(visit->candidates));
}

// The facts of the volume a root (or the simulator folder) lies on.
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
    std::vector<Part> stretches;  // entries visited in place: before the first subfolder, between, after
    std::vector<Part> subfolders;
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

enum TaskKind { kRootTask, kChildTask, kSimulatorTask };

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
    void runSimulator(size_t index);
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
                     const std::optional<SimulatorDevice>& simulator) const;
    Summary packageSummary(const Volume& volume, const std::string& path) const;
    std::optional<std::string> itemReason(const std::string& path, const FileStat& stat, bool package) const;
    std::optional<std::string> inUseInside(const std::string& folder) const;
    bool searchable(const FileStat& stat, int fd) const;
    bool answersProbes(const Listing& listing, const FileStat& stat) const;
    double age(Date lastUsed) const { return scanner_.now.timeIntervalSince(lastUsed); }
    int64_t privateOrAllocated(const Volume& volume, const std::string& path, const FileStat& stat) const;

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
    Volume simulatorVolume_;
    std::vector<Part> deviceParts_;

    // Set once: the scan was cancelled, or a task failed.
    std::atomic<bool> stop_{false};
    std::mutex errorLock_;
    std::exception_ptr error_;
};

void Walk::recordSkip(Log& log, const std::string& path, std::string reason) const {
    ++log.skippedCount;
    if (static_cast<int64_t>(log.skipped.size()) < limit_) log.skipped.push_back(SkippedItem{path, std::move(reason)});
}

std::optional<std::string> Walk::itemReason(const std::string& path, const FileStat& stat, bool package) const {
    for (const auto& rule : scanner_.rules) {
        if (auto reason = rule->skipReason(path, stat, package)) return reason;
    }
    return std::nullopt;
}

int64_t Walk::privateOrAllocated(const Volume& volume, const std::string& path, const FileStat& stat) const {
    const ExtraStat extra = ExtraStat::fromStatus(path, stat, volume.sharesExtents);
    return extra.privateSize.value_or(stat.allocatedSize);
}

std::optional<std::string> Walk::inUseInside(const std::string& folder) const {
    const auto& byPath = inUseByPath_;
    if (auto exact = byPath.find(folder); exact != byPath.end()) return exact->second;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    auto next = byPath.lower_bound(prefix);
    if (next != byPath.end() && next->first.starts_with(prefix)) return next->second;
    return std::nullopt;
}

bool Walk::stopped(bool poll) {
    if (poll && scanner_.cancel && scanner_.cancel->isCancelled()) stop_.store(true, std::memory_order_relaxed);
    return stop_.load(std::memory_order_relaxed);
}

void Walk::fail() {
    {
        std::lock_guard guard(errorLock_);
        if (!error_) error_ = std::current_exception();
    }
    stop_.store(true);
}

ScanReport Walk::run(const std::vector<std::string>& roots) {
    const auto start = std::chrono::steady_clock::now();
    if (scanner_.threads < 1) throw std::invalid_argument("A scan needs at least one thread");
    // Each thread holds folders open down its own path; together they stay near the one
    // thread's bound.
    openDepth_ = std::max(16, kMaxOpenDepth / scanner_.threads);

    for (const auto& usage : scanner_.inUse) {
        auto status = FileStat::peek(usage.path);
        auto& map = status && status->isDirectory() ? busyFolders_ : openFiles_;
        map[usage.path] = usage.processName;
    }
    inUseByPath_.insert(busyFolders_.begin(), busyFolders_.end());
    for (const auto& [path, process] : openFiles_) inUseByPath_[path] = process;

    fixed_ = scanner_.fixedFolders;
    for (const auto& root : roots) {
        if (auto real = PathUtil::canonical(root)) fixed_.insert(std::move(*real));
    }

    TaskPool pool(scanner_.threads, [this](const TaskPool::Task& task, int worker) { runTask(task, worker); });
    pool_ = &pool;
    roots_ = canonicalRoots(roots);
    rootVolumes_.resize(roots_.size());
    rootParts_.resize(roots_.size());
    for (size_t i = 0; i < roots_.size(); ++i) {
        const std::string& root = roots_[i];
        if (auto reason = scanner_.reasonToSkip(root)) {
            recordSkip(rootParts_[i].log, root, std::move(*reason));
            continue;
        }
        auto status = FileStat::peek(root);
        rootVolumes_[i].device = status ? std::optional<uint64_t>(status->device) : std::nullopt;
        rootVolumes_[i].sharesExtents = platform::volumeSharesExtents(root.c_str());
        rootVolumes_[i].nameMatching = platform::volumeNameMatching(root.c_str());
        pool.push(0, {nullptr, static_cast<uint32_t>(i), 0, kRootTask});
    }

    if (scanner_.simulatorDevices) {
        if (auto real = PathUtil::canonical(*scanner_.simulatorDevices)) {
            auto status = FileStat::peek(*real);
            simulatorVolume_.device = status ? std::optional<uint64_t>(status->device) : std::nullopt;
            simulatorVolume_.sharesExtents = platform::volumeSharesExtents(real->c_str());
            devices_ = Simulators::deviceFolders(*real);
            deviceParts_.resize(devices_.size());
            for (size_t i = 0; i < devices_.size(); ++i) {
                pool.push(0, {nullptr, static_cast<uint32_t>(i), 0, kSimulatorTask});
            }
        }
    }

    pool.run();
    pool_ = nullptr;
    if (error_) std::rethrow_exception(error_);
    if (stopped(true)) throw CancellationError();

    std::vector<Candidate> found;
    Log log;
    for (auto* parts : {&rootParts_, &deviceParts_}) {
        for (auto& part : *parts) {
            appendCandidates(found, std::move(part.candidates));
            appendLog(log, std::move(part.log), limit_);
        }
    }

    ScanReport report;
    report.candidates = scanner_.ranker.rank(uniqueByPath(std::move(found)));
    report.skipped = std::move(log.skipped);
    report.skippedCount = log.skippedCount;
    report.itemsVisited = log.visited;
    report.duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

void Walk::runTask(const TaskPool::Task& task, int worker) {
    switch (task.kind) {
        case kRootTask: return runRoot(task.index, worker);
        case kChildTask: return runChild(static_cast<FolderJob*>(task.item), task.index, task.slot, worker);
        case kSimulatorTask: return runSimulator(task.index);
    }
}

void Walk::runRoot(size_t index, int worker) {
    Part& out = rootParts_[index];
    if (stopped(true)) return;
    const std::string& root = roots_[index];
    Step step;
    try {
        step = visit(rootVolumes_[index], out.log, nullptr, root, PathUtil::name(root), true, 0);
    } catch (...) {
        fail();
        return;
    }
    if (step.descend) {
        FolderJob* job = step.descend.release();
        job->out = &out;
        walkEntries(job, worker);
    } else if (step.result) {
        appendCandidates(out.candidates, std::move(step.result->candidates));
    }
}

void Walk::runChild(FolderJob* parent, uint32_t index, uint32_t slot, int worker) {
    Part& out = parent->subfolders[slot];
    Step step;
    // The folder above answers the rules' probes of it here as in a walk on one thread.
    std::optional<FolderListingHint> above;
    if (!stopped(true)) {
        try {
            const std::string& name = parent->listing.names[index];
            const std::string path = PathUtil::join(parent->path, name);
            if (parent->hinted) above.emplace(parent->path, parent->listing.names);
            const Folder folder{parent->listing.fd()};
            step = visit(*parent->volume, out.log, &folder, path, name, false, parent->depth + 1);
        } catch (...) {
            fail();
            step = Step{};
        }
    }
    childStarted(parent);
    if (step.descend) {
        FolderJob* job = step.descend.release();
        job->parent = parent;
        job->out = &out;
        walkEntries(job, worker);  // the last of the parent's entries to end finishes it
        return;
    }
    absorbVisit(out, std::move(step.result));
    complete(parent);
}

void Walk::runSimulator(size_t index) {
    if (stopped(true)) return;
    Part& out = deviceParts_[index];
    try {
        const std::string& path = devices_[index];
        ++out.log.visited;
        auto status = FileStat::peek(path);
        if (!status || !status->isDirectory()) return;
        auto device = SimulatorDevice::read(path);
        if (!device) return;
        if (!device->isIdle) {
            recordSkip(out.log, path, "Running");
            return;
        }
        if (auto node = visitWhole(simulatorVolume_, out.log, path, *status, WholeKind::simulator, device)) {
            appendCandidates(out.candidates, std::move(node->candidates));
        }
    } catch (...) {
        fail();
    }
}

// The descriptor of a folder serves its subfolders' first lookups; the last to have made
// them closes it.
void Walk::childStarted(FolderJob* job) const {
    if (job->unopened.fetch_sub(1, std::memory_order_acq_rel) == 1) job->listing.release();
}

void Walk::walkEntries(FolderJob* job, int worker) {
    try {
        Summary& own = job->own;
        own.offer(job->stat.modificationDate(), LastUsedSource::modificationDate);
        own.offer(job->stat.creationDate(), LastUsedSource::creationDate);
        if (auto added = ExtraStat::fromStatus(job->path, job->stat, false).added) {
            own.offer(*added, LastUsedSource::addedDate);
        }
        if (busyFolders_.count(job->path) != 0) own.movable = false;
        // Counted as empty when it can't be listed; but what it holds is unknown, so it
        // can't move as a whole.
        if (!job->listing.listed) own.movable = false;

        const auto subfolders = static_cast<size_t>(std::count(job->maybeFolder.begin(), job->maybeFolder.end(), true));
        job->subfolders.resize(subfolders);
        job->stretches.resize(subfolders + 1);

        std::optional<FolderListingHint> hint;
        if (job->hinted) hint.emplace(job->path, job->listing.names);
        const Folder self{job->listing.fd()};
        uint32_t slot = 0;
        for (size_t i = 0; i < job->listing.names.size() && !stopped(); ++i) {
            if (job->maybeFolder[i]) {
                // Counted before it can run: the walk's own count keeps the folder open meanwhile.
                job->pending.fetch_add(1, std::memory_order_relaxed);
                job->unopened.fetch_add(1, std::memory_order_relaxed);
                try {
                    pool_->push(worker, {job, static_cast<uint32_t>(i), slot, kChildTask});
                } catch (...) {
                    job->pending.fetch_sub(1, std::memory_order_relaxed);
                    job->unopened.fetch_sub(1, std::memory_order_relaxed);
                    throw;
                }
                ++slot;
                continue;
            }
            const std::string& child = job->listing.names[i];
            Part& stretch = job->stretches[slot];
            Step step = visit(*job->volume, stretch.log, &self, PathUtil::join(job->path, child), child, false,
                              job->depth + 1);
            // Listed as no folder but one now: it changed under the walk, so it isn't
            // looked into and keeps this folder in place.
            if (step.descend) step.result.reset();
            absorbVisit(stretch, std::move(step.result));
        }
    } catch (...) {
        fail();
    }
    childStarted(job);
    complete(job);
}

void Walk::complete(FolderJob* job) {
    while (job && job->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        FolderJob* parent = job->parent;
        finish(job);
        job = parent;
    }
}

// Joins a folder's stretches and subfolders in listing order, proposes the folder whole
// when it qualifies, and hands the result to the folder above.
void Walk::finish(FolderJob* job) {
    std::unique_ptr<FolderJob> owned(job);
    Part& out = *job->out;
    Summary summary = job->own;
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < job->stretches.size(); ++i) {
        for (Part* part : {&job->stretches[i], i < job->subfolders.size() ? &job->subfolders[i] : nullptr}) {
            if (!part) continue;
            absorb(summary, part->summary);
            appendCandidates(candidates, std::move(part->candidates));
            appendLog(out.log, std::move(part->log), limit_);
        }
    }
    job->stretches.clear();
    job->subfolders.clear();
    out.summary = summary;
    if (stopped()) return;

    const OffloadPolicy& policy = scanner_.policy;
    bool whole = !job->isRoot && !job->neverWhole && policy.allowFolders && summary.movable &&
                 summary.fileCount >= 1 && summary.fileCount <= policy.maxFolderFileCount &&
                 summary.size >= policy.minimumItemSize &&
                 age(summary.lastUsed) >= std::max(policy.minimumAge, policy.folderInactivity);
    try {
        if (whole) {
            for (const auto& rule : scanner_.rules) {
                if (rule->keepsTogether(job->path)) {
                    whole = false;
                    break;
                }
            }
        }
        if (whole) {
            candidates.shrink_to_fit();  // kept as parts until the scan ends
            out.candidates.emplace_back(job->path, true, summary.size, summary.fileCount, summary.lastUsed,
                                        summary.source, Ranker::score(summary.size, summary.lastUsed, scanner_.now),
                                        false, std::nullopt, summary.driveSize, std::move(candidates));
            return;
        }
    } catch (...) {
        fail();
        return;
    }
    out.candidates = std::move(candidates);
}

Step Walk::visit(const Volume& volume, Log& log, const Folder* parent, const std::string& path,
                 const std::string& name, bool isRoot, int depth) const {
    ++log.visited;
    if (isTemporaryName(name)) return {};
    auto status = statEntry(parent, name, path);
    if (!status) return {};
    if (status->isSymlink() || status->kind == FileStat::Kind::other) return {};
    // The journal and the drive's manifest hold names as text: a name that isn't can't
    // be recorded, so neither it nor anything inside it can move.
    if (!isAsciiOrValidUTF8(isRoot ? std::string_view(path) : std::string_view(name))) {
        return {skip(log, path, kUnrecordableNameReason)};
    }
    const bool isFolder = status->isDirectory();
    const bool package = isFolder && isPackageName(name);

    const bool plainFolder = isFolder && !package;
    // A plain folder is listed once, before the rules look at it: their probes of its
    // entries are answered from the listing, and the walk goes on with it.
    std::unique_ptr<FolderJob> job;
    std::optional<FolderListingHint> hint;
    if (plainFolder) {
        job = std::make_unique<FolderJob>();
        job->path = path;
        job->stat = *status;
        job->isRoot = isRoot;
        job->depth = depth;
        job->volume = &volume;
    }

    if (isRoot) {
        if (!plainFolder) return {Node{}};  // a managed folder that is a file or a package offers nothing
        list(volume, parent, path, name, depth, job->listing, job->maybeFolder);
        job->hinted = answersProbes(job->listing, *status);
        job->neverWhole = true;
        return Step(std::move(job));
    }

    if (volume.device && *volume.device != status->device) return {skip(log, path, "On another disk")};
    const bool isFixed = isFolder && fixed_.count(path) != 0;
    if (plainFolder) {
        list(volume, parent, path, name, depth, job->listing, job->maybeFolder);
        job->hinted = answersProbes(job->listing, *status);
        if (job->hinted) hint.emplace(job->path, job->listing.names);
        if (!isFixed && DevelopmentRule::isProject(path)) {
            hint.reset();
            job.reset();
            return {visitWhole(volume, log, path, *status, WholeKind::project, std::nullopt)};
        }
    }
    if (auto reason = reasonNotMovable(*status, name, uid_)) return {skip(log, path, std::move(*reason))};
    if (auto reason = itemReason(path, *status, package)) return {skip(log, path, std::move(*reason))};
    if (auto open = openFiles_.find(path); open != openFiles_.end()) {
        return {skip(log, path, "Open in " + open->second)};
    }

    if (plainFolder) {
        job->neverWhole = isFixed;
        return Step(std::move(job));
    }
    Summary summary;
    if (package) {
        summary = packageSummary(volume, path);
    } else {
        summary.size = privateOrAllocated(volume, path, *status);
        summary.driveSize = status->size;
        summary.fileCount = 1;
    }
    return {leaf(log, path, name, *status, package, summary)};
}

Visit Walk::leaf(Log& log, const std::string& path, const std::string& name, const FileStat& stat, bool package,
                 Summary summary) const {
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
            recordSkip(log, path, "Part of a database (with " + quoted(PathUtil::name(*companion)) + ")");
            return node;
        }
    }
    node.candidates.emplace_back(path, package, summary.size, summary.fileCount, summary.lastUsed, summary.source,
                                 Ranker::score(summary.size, summary.lastUsed, scanner_.now), recent, std::nullopt,
                                 summary.driveSize);
    return node;
}

void Walk::list(const Volume& volume, const Folder* parent, const std::string& path, const std::string& name,
                int depth, Listing& listing, std::vector<bool>& maybeFolder) const {
    listing.folder = parent && parent->fd >= 0 ? platform::openDirectory(parent->fd, name, O_NOFOLLOW)
                                               : platform::openDirectory(AT_FDCWD, path, O_NOFOLLOW);
    if (!listing.folder) return;
    listing.listed = platform::readNamesAndKinds(listing.fd(), listing.names, maybeFolder);
    if (!listing.listed) {
        listing.names.clear();
        maybeFolder.clear();
    }
    listing.exactNames = listing.listed && platform::folderMatchesNamesExactly(listing.fd(), volume.nameMatching);
    if (depth >= openDepth_) listing.release();
}

bool Walk::searchable(const FileStat& stat, int fd) const {
    if (uid_ == 0) return true;
    if (stat.ownerID == uid_) return (stat.mode & S_IXUSR) != 0;
    return fd >= 0 && faccessat(fd, ".", X_OK, AT_EACCESS) == 0;
}

// The listing may stand in for lookups of the folder's names only where a lookup would
// give the same answer: the names compare byte for byte and the entries can be reached.
bool Walk::answersProbes(const Listing& listing, const FileStat& stat) const {
    return listing.listed && listing.exactNames && searchable(stat, listing.fd());
}

Visit Walk::visitWhole(const Volume& volume, Log& log, const std::string& path, const FileStat& stat, WholeKind kind,
                       const std::optional<SimulatorDevice>& simulator) const {
    const OffloadPolicy& policy = scanner_.policy;
    if (kind == WholeKind::project && !policy.moveProjects) return skip(log, path, "Code project");
    if (!policy.driveIsMacFormatted) return skip(log, path, "Only moves to a drive formatted for the Mac");
    if (auto reason = reasonNotMovable(stat, PathUtil::name(path), uid_)) return skip(log, path, std::move(*reason));
    for (const auto& rule : scanner_.rules) {
        if (auto reason = rule->skipReasonWhole(path, kind)) return skip(log, path, std::move(*reason));
    }
    if (auto process = inUseInside(path)) return skip(log, path, "In use by " + *process);

    const double stopAge = policy.recentLightFiles ? policy.recentLightFiles->minimumAge : policy.minimumAge;
    WholeFolderInspector inspector;
    for (const auto& [used, date] : scanner_.lastUsedDates) {
        if (PathUtil::isInside(used, path)) inspector.lastUsedDates.emplace(used, date);
    }
    inspector.stopIfUsedAfter = scanner_.now.adding(-stopAge);
    inspector.alsoUsed = simulator ? simulator->lastBooted : std::nullopt;
    inspector.device = volume.device;
    inspector.keepsSymlinks = true;
    const auto result = inspector.inspect(path);
    if (result.kind == WholeFolderInspector::Result::Kind::blocked) return skip(log, path, result.reason);
    if (result.kind == WholeFolderInspector::Result::Kind::usedRecently) {
        return skip(log, path, kind == WholeKind::project ? "Code you're working on" : "Used lately");
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

Summary Walk::packageSummary(const Volume& volume, const std::string& path) const {
    Summary summary;
    auto status = FileStat::peek(path);
    if (!status || !status->isDirectory()) {
        summary.movable = false;
        return summary;
    }
    const std::optional<uint64_t> device = volume.device;
    forEachEntryInside(path, [&](const std::string&, const std::string& full, const FileStat& entry) {
        if (summary.movable) {
            const std::string name = PathUtil::name(full);
            if (device && *device != entry.device) {
                summary.movable = false;
            } else if (!isAsciiOrValidUTF8(name)) {
                summary.movable = false;  // can't be recorded, as in the walk
            } else if (entry.isSymlink() || entry.kind == FileStat::Kind::other) {
                summary.movable = false;
            } else if (reasonNotMovable(entry, name, uid_)) {
                summary.movable = false;
            } else if (itemReason(full, entry, entry.isDirectory() && isPackageName(name))) {
                summary.movable = false;
            }
        }
        if (entry.isFile()) {
            summary.size = Saturating::add(summary.size, privateOrAllocated(volume, full, entry));
            summary.driveSize = Saturating::add(summary.driveSize, entry.size);
            summary.fileCount = Saturating::add(summary.fileCount, 1);
            summary.offer(entry.modificationDate(), LastUsedSource::modificationDate);
        }
        return true;
    });
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
