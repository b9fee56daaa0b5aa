// The walk over the managed folders: each folder a task of the pool, its result handed up
// by the last of its entries to end, the report joined in walk order.

#include "scanning/ScanWalk.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "foundation/EngineError.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "platform/Extents.h"
#include "scanning/ScannerChecks.h"

namespace keldwick::ScanWalk {

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
    std::vector<TaskPool::Task> rootTasks;
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
        rootTasks.push_back({nullptr, static_cast<uint32_t>(i), 0, kRootTask});
    }
    // A worker runs its newest task first: queued last to first, the roots are walked in
    // the order given, the way the disk's readahead favours.
    for (auto task = rootTasks.rbegin(); task != rootTasks.rend(); ++task) pool.push(0, *task);

    if (scanner_.emulatorDevices) {
        if (auto real = PathUtil::canonical(*scanner_.emulatorDevices)) {
            auto status = FileStat::peek(*real);
            deviceVolume_.device = status ? std::optional<uint64_t>(status->device) : std::nullopt;
            deviceVolume_.sharesExtents = platform::volumeSharesExtents(real->c_str());
            devices_ = AndroidDevices::deviceFolders(*real);
            deviceParts_.resize(devices_.size());
            for (size_t i = 0; i < devices_.size(); ++i) {
                pool.push(0, {nullptr, static_cast<uint32_t>(i), 0, kDeviceTask});
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
        case kDeviceTask: return runDevice(task.index);
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
            if (parent->hinted) above.emplace(parent->path, parent->listing.names, parent->listing.byName);
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

void Walk::runDevice(size_t index) {
    if (stopped(true)) return;
    Part& out = deviceParts_[index];
    try {
        const std::string& path = devices_[index];
        ++out.log.visited;
        auto status = FileStat::peek(path);
        if (!status || !status->isDirectory()) return;
        auto device = AndroidDevice::read(path);
        if (!device) return;
        if (!device->isIdle) {
            recordSkip(out.log, path, "Running");
            return;
        }
        if (auto node = visitWhole(deviceVolume_, out.log, path, *status, WholeKind::emulator, device)) {
            ItemName::remember(path, device->name);
            for (auto& candidate : node->candidates) candidate.deviceName = device->name;
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

        // Entries are visited by inode, the order in which the disk holds them and
        // readahead follows; their results go where
        // their names sort, so the report doesn't depend on that order. place[i]: the
        // subfolder slot of entry i, or the stretch of an entry visited in place.
        const auto& names = job->listing.names;
        std::vector<uint32_t> place(names.size());
        uint32_t subfolders = 0;
        for (const uint32_t i : job->listing.byName) {
            place[i] = subfolders;
            if (job->maybeFolder[i]) ++subfolders;
        }
        job->subfolders.resize(subfolders);
        job->stretches.resize(subfolders + 1);

        std::optional<FolderListingHint> hint;
        if (job->hinted) hint.emplace(job->path, job->listing.names, job->listing.byName);
        const Folder self{job->listing.fd()};
        // The subfolders are queued last to first, so that this worker, which runs its
        // newest task first, walks them in that order after the files here.
        for (size_t i = names.size(); i-- > 0 && !stopped();) {
            if (!job->maybeFolder[i]) continue;
            // Counted before it can run: the walk's own count keeps the folder open meanwhile.
            job->pending.fetch_add(1, std::memory_order_relaxed);
            job->unopened.fetch_add(1, std::memory_order_relaxed);
            try {
                pool_->push(worker, {job, static_cast<uint32_t>(i), place[i], kChildTask});
            } catch (...) {
                job->pending.fetch_sub(1, std::memory_order_relaxed);
                job->unopened.fetch_sub(1, std::memory_order_relaxed);
                throw;
            }
        }
        for (size_t i = 0; i < names.size() && !stopped(); ++i) {
            if (job->maybeFolder[i]) continue;
            const std::string& child = names[i];
            Part& stretch = job->stretches[place[i]];
            Log found;
            Step step = visit(*job->volume, found, &self, PathUtil::join(job->path, child), child, false,
                              job->depth + 1);
            gatherInPlace(stretch.log, std::move(found), limit_);
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
    for (Part& stretch : job->stretches) inNameOrder(stretch, limit_);
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
    settleShared(summary);
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
            out.summary.freesNothing.clear();  // their copies go with them
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
    // No folder above can move whole: what frees nothing is left alone, and said so.
    if (job->isRoot || !summary.movable) {
        for (const auto& path : out.summary.freesNothing) recordSkip(out.log, path, kSharedDataReason);
        out.summary.freesNothing.clear();
    }
    out.candidates = std::move(candidates);
}

}  // namespace keldwick::ScanWalk
