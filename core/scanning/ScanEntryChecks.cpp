// What the walk decides about each entry it meets: skipped with a reason, summed into its
// folder, proposed on its own or as a whole folder.

#include "scanning/ScanWalk.h"

#include <sys/stat.h>

#include <algorithm>

#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "platform/Extents.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/ScannerChecks.h"

namespace keldwick::ScanWalk {

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

void Walk::countBlocks(const Volume& volume, const std::string& path, const FileStat& stat, Summary& into) const {
    if (volume.sharesExtents) {
        if (auto extents = platform::extentMap(path.c_str())) {
            into.mapped.add(*extents);
            return;
        }
    }
    into.size = Saturating::add(into.size, stat.allocatedSize);
}

std::optional<std::string> Walk::inUseInside(const std::string& folder) const {
    const auto& byPath = inUseByPath_;
    if (auto exact = byPath.find(folder); exact != byPath.end()) return exact->second;
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    auto next = byPath.lower_bound(prefix);
    if (next != byPath.end() && next->first.starts_with(prefix)) return next->second;
    return std::nullopt;
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
        if (job->hinted) hint.emplace(job->path, job->listing.names, job->listing.byName);
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
        countBlocks(volume, path, *status, summary);
        settleShared(summary);
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
        summary.offer(used->second, LastUsedSource::recentlyUsed);
    } else if (!package) {
        summary.offer(stat.accessDate(), LastUsedSource::accessDate);
    }

    Node node{summary, {}};
    if (!summary.movable) return node;
    const OffloadPolicy& policy = scanner_.policy;
    const double itemAge = age(summary.lastUsed);
    // Every block shared with something outside it: moving it would free nothing.
    if (summary.size == 0 && summary.keptElsewhere > 0) {
        if (policy.allowsType(name, package) && summary.driveSize >= policy.minimumItemSize &&
            itemAge >= policy.minimumAge)
            node.summary.freesNothing.push_back(path);
        return node;
    }
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

Visit Walk::visitWhole(const Volume& volume, Log& log, const std::string& path, const FileStat& stat, WholeKind kind,
                       const std::optional<AndroidDevice>& device) const {
    const OffloadPolicy& policy = scanner_.policy;
    if (kind == WholeKind::project && !policy.moveProjects) return skip(log, path, "Code project");
    if (!policy.driveIsNativeFormat) return skip(log, path, "Only moves to a drive formatted for Linux");
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
    inspector.alsoUsed = device ? device->lastBooted : std::nullopt;
    inspector.device = volume.device;
    inspector.keepsSymlinks = true;
    const auto result = inspector.inspect(path);
    if (result.kind == WholeFolderInspector::Result::Kind::blocked) return skip(log, path, result.reason);
    if (result.kind == WholeFolderInspector::Result::Kind::usedRecently) {
        return skip(log, path, kind == WholeKind::project ? "Code you're working on" : "Used lately");
    }

    const auto& inspected = result.summary;
    if (inspected.size == 0 && inspected.keptElsewhere > 0) return skip(log, path, kSharedDataReason);
    int64_t minimum = policy.minimumItemSize;
    if (kind == WholeKind::emulator) minimum = std::max(policy.minimumEmulatorSize, policy.minimumItemSize);
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
            countBlocks(volume, full, entry, summary);
            summary.driveSize = Saturating::add(summary.driveSize, entry.size);
            summary.fileCount = Saturating::add(summary.fileCount, 1);
            summary.offer(entry.modificationDate(), LastUsedSource::modificationDate);
        }
        return true;
    });
    settleShared(summary);
    summary.fileCount = std::max<int64_t>(summary.fileCount, 1);
    return summary;
}

}  // namespace keldwick::ScanWalk
