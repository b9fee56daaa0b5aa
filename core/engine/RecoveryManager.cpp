#include "engine/RecoveryManager.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "drives/DriveLayout.h"
#include "engine/DrivePath.h"
#include "engine/PlaceGroups.h"
#include "engine/RecoveryTexts.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/TaskPool.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

using RecoveryTexts::quoted;

namespace {

// Held steps run at the latest after this many, however quick the repairs.
constexpr size_t maxHeldSteps = 4096;
// Repairs and held steps run on up to this many threads besides the caller's, one per
// processor beyond the caller's but at least 3, once there are enough of them for the
// waits on the disk and the system's calls to overlap.
constexpr size_t maxStepThreads = 7;
constexpr size_t minStepThreads = 3;
constexpr size_t minStepsForThreads = 16;
// Repairs whose journal changes share one commit; other threads wait for the journal meanwhile.
constexpr size_t maxBatchedRepairs = 256;

// The result slot of the repair or step running on this thread, for the steps it holds back.
thread_local size_t repairSlot = 0;

// Runs work(i) for each place's index i, those of one place (see groupsByPlace) in their
// order on one thread, the places on a few threads at once when there are enough; the
// threads join `share` when there is one. Few run on this thread alone, in order.
void runSideBySide(const std::vector<std::string>& places, Journal::Share* share,
                   const std::function<void(size_t)>& work) {
    const auto groups = groupsByPlace(places);
    static const size_t stepThreads =
        std::clamp<size_t>(std::thread::hardware_concurrency(), minStepThreads + 1, maxStepThreads + 1) - 1;
    const size_t helpers = places.size() < minStepsForThreads ? 0 : std::min(stepThreads, groups.size() - 1);
    TaskPool pool(static_cast<int>(helpers) + 1, [&](const TaskPool::Task& task, int) {
        for (size_t index : groups[task.index]) work(index);
    });
    // Last place first: a worker runs its newest task first, so this thread on its own
    // takes the places in order.
    for (size_t i = groups.size(); i-- > 0;) pool.push(0, TaskPool::Task{nullptr, static_cast<uint32_t>(i), 0, 0});
    pool.run([share](const std::function<void()>& part) {
        std::optional<Journal::Share::Member> member;
        if (share) member.emplace(*share);
        part();
    });
}

const std::set<Phase> inFlightPhases = {
    Phase::offloadCopying, Phase::offloadVerified, Phase::offloadSwapping, Phase::offloadCleanup,
    Phase::restoreCopying, Phase::restoreSwapping, Phase::restoreCleanup,
};

// Drive paths compared as on a drive that ignores letter case: two overlap when they are
// equal or one lies inside the other.
class DrivePathOverlaps {
public:
    void add(std::string_view relative) {
        std::string path = key(relative);
        for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1))
            folders_.insert(path.substr(0, slash));
        ++counts_[std::move(path)];
    }

    // Whether the path overlaps one added; `added`: the path itself was added once, which
    // doesn't count.
    bool overlaps(std::string_view relative, bool added = false) const {
        const std::string path = key(relative);
        auto same = counts_.find(path);
        if ((same != counts_.end() && same->second > (added ? 1 : 0)) || folders_.contains(path)) return true;
        for (size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1))
            if (counts_.contains(path.substr(0, slash))) return true;
        return false;
    }

private:
    static std::string key(std::string_view relative) {
        return PathUtil::withoutTrailingSlashes(Utf8::lowercased(relative));
    }

    std::map<std::string, int> counts_;
    std::set<std::string> folders_;  // every folder above an added path
};

// Whether the item lies in one of the home's hidden entries (".config", ".local",
// ".profile" …): they hold what the session runs by itself (autostart entries, user
// services, shell start-up files), so a line naming one is never brought back.
bool isInHiddenHomeEntry(const std::string& path, const std::string& home) {
    const std::string below = path.substr(home.size() + (home == "/" ? 0 : 1));
    return below.starts_with(".");
}

// Whether an item may be brought back to a place from a manifest entry: strictly inside
// the home, outside its hidden entries, not on the drive and not in a folder the scan
// rules protect, both as written and with the existing folders on its way resolved. A
// drive's manifest can be written by anyone who holds the drive for a moment.
class AdoptablePlaces {
public:
    AdoptablePlaces(const std::string& home, const std::string& root)
        : home_(home),
          root_(root),
          homeIsClean_(PathUtil::isCleanAbsolute(home)),
          realHome_(PathUtil::canonical(home)),
          realRoot_(PathUtil::canonical(root)),
          protected_(home),
          realProtected_(realHome_.value_or(home)) {}

    bool allows(const std::string& original) {
        if (!homeIsClean_ || !within(original, home_, root_, protected_)) return false;
        auto realPlace = resolvedPlace(original);
        return realHome_ && realRoot_ && realPlace && within(*realPlace, *realHome_, *realRoot_, realProtected_);
    }

private:
    static bool within(const std::string& path, const std::string& home, const std::string& root,
                       const NeverTouch::ProtectedFolders& protectedFolders) {
        return path != home && PathUtil::isInside(path, home) && !isInHiddenHomeEntry(path, home) &&
               !PathUtil::isInside(path, root) && !protectedFolders.reason(path);
    }

    // The path with the folders on its way that exist resolved (links, "." and ".."); its
    // last component is the item itself and is left as it is. Items share folders, so
    // each folder is resolved once a pass.
    std::optional<std::string> resolvedPlace(const std::string& path) {
        std::string rest = PathUtil::name(path);
        for (std::string folder = PathUtil::parent(path);; folder = PathUtil::parent(folder)) {
            auto known = resolved_.find(folder);
            if (known == resolved_.end()) known = resolved_.emplace(folder, PathUtil::canonical(folder)).first;
            if (known->second) return PathUtil::join(*known->second, rest);
            if (folder == "/" || folder.empty()) return std::nullopt;
            rest = PathUtil::name(folder) + "/" + rest;
        }
    }

    std::string home_;
    std::string root_;
    bool homeIsClean_;
    std::optional<std::string> realHome_;
    std::optional<std::string> realRoot_;
    NeverTouch::ProtectedFolders protected_;
    NeverTouch::ProtectedFolders realProtected_;
    std::map<std::string, std::optional<std::string>> resolved_;
};

// Names for one warning event: the first few, then how many more.
std::string nameList(const std::vector<std::string>& names) {
    constexpr size_t shown = 10;
    std::string text;
    for (size_t i = 0; i < names.size() && i < shown; ++i) text += (i ? ", " : "") + quoted(names[i]);
    if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

}  // namespace

// --- The passes.

std::vector<RecoveryResult> RecoveryManager::recoverInFlight() {
    std::vector<OffloadRecord> records;
    try {
        records = context.journal->records(inFlightPhases);
    } catch (const std::exception& error) {
        Log::error("journal", std::string("Recovery couldn't list the unfinished records: ") + error.what());
    }
    // Each record's repair is safe to make again from the phase it started in, so the
    // journal need not wait for the medium after each one, and many repairs' changes may
    // land in one commit: a crash that loses them leaves the same work as a power cut
    // does. The repairs of one commit run on a few threads at once, the records of one
    // place in their order on one thread. A step that may only follow a flush (a deletion
    // allowed by a phase, or by an item's place on this computer) is held back, so that
    // one flush per folder and one of the journal serve many records. The manifest
    // entries follow in one write once the journal changes behind them are durable (the
    // group ends first), as each used to follow its own change.
    ManifestHold hold(*this);
    AwayForThePass away(*this);
    Journal::GroupCommit group(*context.journal);
    heldSteps_.emplace();
    std::mutex stepsLock;
    std::mutex entriesLock;
    heldStepsLock_ = &stepsLock;
    heldEntriesLock_ = &entriesLock;
    // The places more than one drive's records hold, read once: repairs only ever finish
    // records or keep them unfinished, so no other place gains a rival in this pass.
    try {
        contestedPlaces_ = context.journal->pathsOfSeveralDrives();
    } catch (const std::exception&) {
        contestedPlaces_.reset();  // each repair asks the journal
    }
    // The trees of the folders to repair, read together rather than one query a record.
    std::map<int64_t, std::vector<TreeEntry>> trees;
    try {
        std::vector<int64_t> folders;
        for (const auto& record : records)
            if (record.isDirectory) folders.push_back(record.id);
        trees = context.journal->treeEntries(folders);
        for (int64_t id : folders) trees.try_emplace(id);
        knownTrees_ = &trees;
    } catch (const std::exception& error) {
        // Each repair then reads its own, and reports what fails.
        Log::error("journal", std::string("Recovery couldn't read the trees of the unfinished records: ") + error.what());
    }
    // Nothing of the pass outlives it, however it ends.
    struct PassEnd {
        RecoveryManager& manager;
        ~PassEnd() {
            manager.knownTrees_ = nullptr;
            manager.contestedPlaces_.reset();
            manager.heldSteps_.reset();
            manager.heldStepsLock_ = nullptr;
            manager.heldEntriesLock_ = nullptr;
            manager.heldDriveFlushes_ = nullptr;
        }
    } passEnd{*this};
    auto lastFlush = std::chrono::steady_clock::now();
    std::vector<RecoveryResult> results;
    results.reserve(records.size());
    for (size_t begin = 0; begin < records.size(); begin += maxBatchedRepairs) {
        const size_t end = std::min(records.size(), begin + maxBatchedRepairs);
        // A stand-in until the record's repair gives its own result.
        for (size_t slot = begin; slot < end; ++slot)
            results.push_back(result(records[slot], RecoveryAction::deferred));
        std::vector<std::string> places;
        for (size_t slot = begin; slot < end; ++slot) places.push_back(records[slot].originalPath);
        const auto lost = inOneCommit(places, [&](size_t index) {
            const size_t slot = begin + index;
            repairSlot = slot;
            if (auto outcome = repair(records[slot], std::nullopt, false)) results[slot] = std::move(*outcome);
        });
        if (lost) {
            // Nothing of these repairs reached the journal, so nothing may follow from them.
            std::erase_if(*heldSteps_, [&](const DurableStep& step) { return step.slot >= begin; });
            for (size_t slot = begin; slot < end; ++slot) results[slot] = failedRepair(records[slot], *lost, false);
        }
        // Long repairs (large items hashed) don't leave much work to be redone after a power cut.
        if (heldSteps_->size() >= maxHeldSteps || std::chrono::steady_clock::now() - lastFlush > std::chrono::seconds(1)) {
            runHeldSteps(results);
            try {
                context.journal->makeDurable();
                writeHeldManifestEntries();
            } catch (const std::exception& error) {
                Log::error("journal", std::string("Recovery couldn't flush the journal: ") + error.what());
            }
            lastFlush = std::chrono::steady_clock::now();
        }
    }
    runHeldSteps(results);
    return results;
}

RecoveryResult RecoveryManager::afterDurable(const OffloadRecord& record, std::optional<std::string> folder,
                                             std::function<void()> mark, std::function<RecoveryResult()> step) {
    if (!heldSteps_) {
        if (folder) platform::flushFolder(*folder);
        mark();
        context.journal->makeDurable();
        return step();
    }
    std::unique_lock<std::mutex> guard;
    if (heldStepsLock_) guard = std::unique_lock(*heldStepsLock_);
    heldSteps_->push_back({repairSlot, record, std::move(folder), std::move(mark), std::move(step)});
    return result(record, RecoveryAction::deferred);
}

void RecoveryManager::runHeldSteps(std::vector<RecoveryResult>& results) noexcept {
    // A step may hold back a step of its own: it runs in the next round.
    while (heldSteps_ && !heldSteps_->empty()) runHeldRound(results);
}

void RecoveryManager::runHeldRound(std::vector<RecoveryResult>& results) noexcept {
    std::vector<DurableStep> steps;
    steps.swap(*heldSteps_);
    std::map<std::string, std::optional<std::string>> flushFailures;  // by folder
    std::vector<DurableStep*> allowed;
    // The steps' journal changes in one commit; each in a savepoint of its own, so that
    // one that fails leaves the others.
    std::optional<std::string> unflushed;
    std::optional<Journal::Transaction> marks;
    try {
        marks.emplace(*context.journal);
    } catch (const std::exception& error) {
        Log::error("journal", std::string("Recovery couldn't open a transaction: ") + error.what());
    }
    for (auto& step : steps) {
        try {
            if (step.folder) {
                auto flushed = flushFailures.find(*step.folder);
                if (flushed == flushFailures.end()) {
                    try {
                        platform::flushFolder(*step.folder);
                        flushed = flushFailures.emplace(*step.folder, std::nullopt).first;
                    } catch (const std::exception& error) {
                        flushed = flushFailures.emplace(*step.folder, error.what()).first;
                    } catch (...) {
                        flushed = flushFailures.emplace(*step.folder, "An unknown error occurred.").first;
                    }
                }
                if (flushed->second) {
                    results[step.slot] = failedRepair(step.record, *flushed->second, false);
                    continue;
                }
            }
            context.journal->transaction([&] { step.mark(); });
            allowed.push_back(&step);
        } catch (const std::exception& error) {
            results[step.slot] = failedRepair(step.record, error.what(), false);
        } catch (...) {
            results[step.slot] = failedRepair(step.record, "An unknown error occurred.", false);
        }
    }
    try {
        if (marks) marks->commit();
        context.journal->makeDurable();
    } catch (const std::exception& error) {
        unflushed = error.what();
    } catch (...) {
        unflushed = "An unknown error occurred.";
    }
    marks.reset();
    if (unflushed) {
        for (auto* step : allowed) results[step->slot] = failedRepair(step->record, *unflushed, false);
        return;
    }
    // The steps' own changes share one commit too. One that fails loses them all, which
    // leaves each record in the phase its mark made durable, where its step runs again.
    const size_t heldBefore = heldSteps_->size();
    std::vector<std::string> places;
    for (const auto* step : allowed) places.push_back(step->record.originalPath);
    const auto lost = inOneCommit(places, [&](size_t index) {
        DurableStep& step = *allowed[index];
        repairSlot = step.slot;
        try {
            results[step.slot] = step.step();
        } catch (const std::exception& error) {
            results[step.slot] = failedRepair(step.record, error.what(), false);
        } catch (...) {
            results[step.slot] = failedRepair(step.record, "An unknown error occurred.", false);
        }
    });
    if (lost) {
        heldSteps_->resize(heldBefore);  // nothing may follow from the lost changes
        for (auto* step : allowed) results[step->slot] = failedRepair(step->record, *lost, false);
    }
}

std::optional<std::string> RecoveryManager::inOneCommit(const std::vector<std::string>& places,
                                                        const std::function<void(size_t)>& work) {
    std::optional<Journal::Transaction> batch;
    try {
        batch.emplace(*context.journal);
    } catch (const std::exception& error) {
        // Another process holds the journal: each change commits on its own.
        Log::error("journal", std::string("Recovery couldn't open a transaction: ") + error.what());
    }
    DriveFlushes drives;
    if (batch) heldDriveFlushes_ = &drives;
    {
        std::optional<Journal::Share> share;
        if (batch) share.emplace(*context.journal);
        runSideBySide(places, share ? &*share : nullptr, work);
    }
    heldDriveFlushes_ = nullptr;
    if (!batch) return std::nullopt;
    try {
        drives.flush();
        batch->commit();
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::nullopt;
}

std::optional<RecoveryResult> RecoveryManager::recoverRecord(int64_t recordID, const Failure& failure) {
    std::optional<OffloadRecord> record;
    try {
        record = context.journal->record(recordID);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!record) return std::nullopt;
    AwayForThePass pass(*this);  // the drive held for the whole repair
    return repair(*record, failure, true);
}

std::optional<RecoveryResult> RecoveryManager::repair(const OffloadRecord& record, const Failure& failure,
                                                      bool fromExecutor) {
    std::string description;
    try {
        // The drive's Keldwick folder must still be the one held: one put in its place
        // stops the repair with nothing of the item changed.
        if (auto drive = heldDrive(record.driveID)) drive->confirm();
        switch (record.phase) {
            case Phase::offloadCopying:
            case Phase::offloadVerified:
                return rollBackOffload(record, failure);
            case Phase::offloadSwapping:
                return resolveOffloadSwap(record, failure);
            case Phase::offloadCleanup:
                return finishOffloadCleanup(record);
            case Phase::restoreCopying:
                PathUtil::removeTree(homeOf(record)->working(TemporaryKind::restore, record.id));
                return resolveRestoreCopy(record, failure);
            case Phase::restoreSwapping:
                return resolveRestoreSwap(record, failure);
            case Phase::restoreCleanup:
                return finishRestoreCleanup(record);
            default:
                return result(record, RecoveryAction::unchanged);
        }
    } catch (const std::exception& error) {
        description = error.what();
    } catch (...) {
        description = "An unknown error occurred.";
    }
    return failedRepair(record, description, fromExecutor);
}

RecoveryResult RecoveryManager::failedRepair(const OffloadRecord& record, const std::string& description,
                                             bool fromExecutor) {
    std::string lead = fromExecutor ? "Couldn't clean up after " : "Couldn't finish recovering ";
    context.journal->log(lead + quoted(ItemName::display(record.originalPath)) + ": " + description, EventLevel::error, record.id);
    return result(record, RecoveryAction::deferred, description);
}

std::vector<RecoveryResult> RecoveryManager::adoptManifestEntries(const std::string& driveID) {
    std::vector<RecoveryResult> results;
    // Nothing is adopted from a volume the locator refused.
    AwayForThePass pass(*this);
    auto drive = heldDrive(driveID);
    if (!drive || !drive->trusted()) return results;
    const std::optional<std::string> root = drive->root();
    std::vector<DriveManifest::Entry> entries;
    std::vector<OffloadRecord> known;
    try {
        drive->confirm();
        entries = DriveManifest{drive->manifestFolder()}.latestEntries(context.configuration.machineID);
        // The places it lists, for the manifest pass: this pass adds lines only for places
        // listed already, and the passes between add none.
        manifestPlaces_.emplace(*root, std::set<std::string>{});
        for (const auto& entry : entries) manifestPlaces_->second.insert(entry.originalPath);
        if (!entries.empty()) known = context.journal->allRecords();
    } catch (const std::exception& error) {
        context.journal->log(std::string("Couldn't read the drive's manifest: ") + error.what(), EventLevel::warning);
        return results;
    }
    std::set<std::string> activePaths;
    std::map<std::string, const OffloadRecord*> latest;  // by original path, the newest record
    for (const auto& record : known) {
        latest.insert_or_assign(record.originalPath, &record);
        if (!isFinished(record.phase)) activePaths.insert(record.originalPath);
    }
    // The live records' drive copies, gathered once an entry gets as far as asking: most
    // starts find every entry in the journal already.
    std::optional<DrivePathOverlaps> liveCopies;
    auto overlapsLiveCopy = [&](const std::string& relative) {
        if (!liveCopies) {
            liveCopies.emplace();
            for (const auto& record : known)
                if (!isFinished(record.phase) && record.driveID == driveID) liveCopies->add(record.driveRelativePath);
        }
        return liveCopies->overlaps(relative);
    };

    // Only what this machine put in its own folder on the drive may join the journal:
    // a manifest is read from a removable drive, and an adopted record's drive path is
    // later deleted by a restore or a discard.
    const std::string machinePrefix =
        DriveLayout::folderName(*root) + "/" + context.configuration.machineFolder + "/";
    const std::string home = PathUtil::withoutTrailingSlashes(context.configuration.homeFolder);
    const std::string driveRoot = PathUtil::withoutTrailingSlashes(*root);
    AdoptablePlaces places(home, driveRoot);
    std::vector<const DriveManifest::Entry*> candidates;
    std::vector<std::string> outOfBounds;
    std::vector<std::string> overlapping;
    std::vector<std::string> unlinked;
    auto leadsTo = [](const std::string& originalPath, const std::string& relativePath) {
        OffloadRecord moved;
        moved.driveRelativePath = relativePath;
        return isLinkToDriveCopy(originalPath, moved);
    };
    for (const auto& entry : entries) {
        bool clean = PathUtil::isCleanAbsolute(entry.originalPath) && PathUtil::isCleanRelative(entry.relativePath) &&
                     entry.relativePath.size() > machinePrefix.size() && entry.relativePath.starts_with(machinePrefix) &&
                     !context.configuration.machineFolder.empty();
        if (clean && entry.entries)
            for (const auto& treeEntry : *entry.entries) clean = clean && PathUtil::isCleanRelative(treeEntry.path);
        auto leftOut = [&] {
            Log::notice("drive", "Recovery left out a manifest entry outside this computer's folder: " + entry.relativePath);
        };
        if (!clean) {
            leftOut();
            continue;
        }
        // What the journal holds already is no news, wherever it lies: System Data moves
        // items from places no adoption may take. Told before the drive is asked.
        if (activePaths.contains(entry.originalPath)) continue;
        const std::string drivePath = PathUtil::join(*root, entry.relativePath);
        if (!DrivePath::isBeneath(*root, drivePath)) {
            leftOut();
            continue;
        }
        if (auto found = latest.find(entry.originalPath); found != latest.end() && closesEntry(*found->second, entry, driveID)) {
            // The drive left before the line saying so reached it.
            appendManifestEntry(*found->second,
                                found->second->phase == Phase::restored ? DriveManifest::Entry::Event::restored
                                                                        : DriveManifest::Entry::Event::discarded,
                                *root);
            continue;
        }
        if (!places.allows(entry.originalPath)) {
            outOfBounds.push_back(entry.originalPath);
            continue;
        }
        try {
            const LocatedDrive::Place place = drive->reach(drivePath, LocatedDrive::Reach::read);
            if (!FileStat::peek(place.path())) continue;
        } catch (const POSIXFailure&) {
            continue;  // nothing there, or nothing reachable without leaving the folders judged
        }
        // Anyone may write a line into this computer's folder on a drive: the proof that
        // the item was moved from this home is the link the move left in its place.
        if (!leadsTo(entry.originalPath, entry.relativePath)) {
            unlinked.push_back(entry.originalPath);
            continue;
        }
        if (overlapsLiveCopy(entry.relativePath)) {
            overlapping.push_back(entry.originalPath);
            continue;
        }
        candidates.push_back(&entry);
    }
    // Lines that overlap each other: at most one is current, and which can't be told.
    DrivePathOverlaps candidateCopies;
    for (const auto* entry : candidates) candidateCopies.add(entry->relativePath);
    std::erase_if(candidates, [&](const DriveManifest::Entry* entry) {
        if (!candidateCopies.overlaps(entry->relativePath, true)) return false;
        overlapping.push_back(entry->originalPath);
        return true;
    });
    if (!outOfBounds.empty())
        context.journal->log(std::string(kLeftOnDriveWarning) +
                                 (home.empty() ? "Keldwick doesn't know your home folder: "
                                               : "their places lie outside your home folder, on the drive or in "
                                                 "folders Keldwick never touches: ") +
                                 nameList(outOfBounds) + ".",
                             EventLevel::warning);
    if (!unlinked.empty())
        context.journal->log(std::string(kLeftOnDriveWarning) +
                                 "no shortcut in your home folder leads to them, so nothing shows they were moved from "
                                 "this computer: " + nameList(unlinked) + ". They stay on the drive, with everything "
                                 "else on it.",
                             EventLevel::warning);
    if (!overlapping.empty())
        context.journal->log(std::string(kLeftOnDriveWarning) +
                                 "their copies there overlap the copies of other items: " + nameList(overlapping) + ".",
                             EventLevel::warning);

    Journal::GroupCommit group(*context.journal);  // each entry is adopted again if a power cut loses it
    for (const auto* candidate : candidates) {
        const DriveManifest::Entry& entry = *candidate;
        NewRecord newRecord;
        newRecord.originalPath = entry.originalPath;
        newRecord.driveID = driveID;
        newRecord.driveRelativePath = entry.relativePath;
        newRecord.isDirectory = entry.isDirectory;
        newRecord.size = entry.size;
        newRecord.phase = Phase::offloaded;
        newRecord.checksum = entry.checksum;
        newRecord.createdAt = entry.date;
        OffloadRecord added;
        try {
            added = context.journal->transaction([&] { return context.journal->insert(newRecord, entry.entries); });
        } catch (const std::exception& error) {
            context.journal->log("Couldn't add " + quoted(PathUtil::name(entry.originalPath)) +
                                     " from the drive: " + error.what(),
                                 EventLevel::warning);
            continue;
        }
        context.journal->log("Found " + quoted(ItemName::display(added.originalPath)) + " on the drive and added it back to Keldwick's list.",
                             EventLevel::info, added.id);
        results.push_back(result(added, RecoveryAction::adopted));
        RecoveryResult linkResult = checkLinkGuarded(added);
        if (linkResult.action != RecoveryAction::unchanged) results.push_back(linkResult);
    }
    return results;
}

bool RecoveryManager::closesEntry(const OffloadRecord& record, const DriveManifest::Entry& entry,
                                  const std::string& driveID) {
    // The entry predates the record's end (its date is cut to whole seconds).
    return (record.phase == Phase::restored || record.phase == Phase::superseded) && record.driveID == driveID &&
           record.driveRelativePath == entry.relativePath && entry.date <= record.updatedAt.adding(1);
}

std::vector<RecoveryResult> RecoveryManager::checkLinks() {
    std::vector<OffloadRecord> records;
    try {
        records = context.journal->records({Phase::offloaded, Phase::linkMissing});
    } catch (const std::exception&) {
    }
    AwayForThePass away(*this);
    Journal::GroupCommit group(*context.journal);  // each check is made again if a power cut loses it
    // The places that more than one drive's records hold now. Checks only ever finish
    // records or keep them unfinished, so no other place can gain a rival in this pass.
    try {
        contestedPlaces_ = context.journal->pathsOfSeveralDrives();
    } catch (const std::exception&) {
        contestedPlaces_.reset();  // each check asks the journal
    }
    // Checks of different places run side by side; the few changes they make commit on their own.
    std::vector<std::optional<RecoveryResult>> outcomes(records.size());
    std::vector<std::string> places;
    for (const auto& record : records) places.push_back(record.originalPath);
    runSideBySide(places, nullptr, [&](size_t slot) {
        try {
            outcomes[slot] = checkLinkGuarded(records[slot]);
        } catch (...) {
            outcomes[slot] = result(records[slot], RecoveryAction::deferred, "An unknown error occurred.");
        }
    });
    contestedPlaces_.reset();
    std::vector<RecoveryResult> results;
    for (auto& outcome : outcomes)
        if (outcome && outcome->action != RecoveryAction::unchanged) results.push_back(std::move(*outcome));
    return results;
}

void RecoveryManager::finishPendingDeletions() {
    std::vector<OffloadRecord> records;
    try {
        records = context.journal->folderRecords({Phase::offloaded});
    } catch (const std::exception&) {
    }
    AwayForThePass pass(*this);
    for (const auto& record : records) {
        if (!record.isDirectory) continue;
        if (!FileStat::peek(temporaryPath(record.originalPath, TemporaryKind::trash, record.id))) continue;
        try {
            // From here on in the folder as held.
            const HomeFolder home(record.originalPath);
            const std::string trash = home.working(TemporaryKind::trash, record.id);
            auto displaced = FileStat::peek(trash);
            if (!displaced || !displaced->isDirectory()) continue;
            if (!isOwnLink(home.item(), record)) continue;
            // The displaced folder holds the item's last bytes on this machine until the
            // drive copy is seen in place, whole. A copy that differs now (damaged, or
            // changed through its link since) never will be: the folder is kept in view.
            auto root = mountPoint(record.driveID);
            if (!root) continue;
            if (!driveCopyStands(record, root)) {
                if (driveCopyIsThere(record, *root)) keepDifferingOriginal(record, trash, home.path());
                continue;
            }
            deleteDisplacedFolder(record, trash, home.path());
        } catch (const std::exception& error) {
            context.journal->log("Couldn't finish deleting the original of " + quoted(ItemName::display(record.originalPath)) + " (" +
                                     error.what() +
                                     "). The copy on the drive is complete; Keldwick will try again later.",
                                 EventLevel::warning, record.id);
        }
    }
}

void RecoveryManager::updateManifest(const std::string& driveID) {
    // A refused volume gets no new lines.
    AwayForThePass pass(*this);
    auto drive = heldDrive(driveID);
    if (!drive || !drive->trusted()) return;
    const std::optional<std::string> root = drive->root();
    std::set<std::string> known;
    if (manifestPlaces_ && manifestPlaces_->first == *root) {
        known = std::move(manifestPlaces_->second);
        manifestPlaces_.reset();
    } else {
        try {
            for (const auto& entry : DriveManifest{drive->manifestFolder()}.latestEntries(context.configuration.machineID))
                known.insert(entry.originalPath);
        } catch (const std::exception&) {
            return;
        }
    }
    std::vector<OffloadRecord> records;
    try {
        records = context.journal->records({Phase::offloaded});
    } catch (const std::exception&) {
    }
    ManifestHold hold(*this);  // one write for all
    for (const auto& record : records)
        if (record.driveID == driveID && !known.contains(record.originalPath))
            appendManifestEntry(record, DriveManifest::Entry::Event::offloaded, *root);
}

// --- Links.

RecoveryResult RecoveryManager::checkLinkGuarded(const OffloadRecord& record) {
    try {
        return checkLink(record);
    } catch (const std::exception& error) {
        context.journal->log("Couldn't check the link for " + quoted(ItemName::display(record.originalPath)) + ": " + error.what(),
                             EventLevel::warning, record.id);
        return result(record, RecoveryAction::deferred, std::string(error.what()));
    }
}

// --- Deleting a drive copy.

void RecoveryManager::discardDriveCopy(const OffloadRecord& record, const std::string& reason) {
    if (record.phase != Phase::returned && record.phase != Phase::linkMissing)
        throw EngineError::invalidState("Only copies that are no longer linked can be deleted.");
    if (isOwnLink(record.originalPath, record)) {
        checkLinkGuarded(record);
        throw EngineError::invalidState(quoted(ItemName::display(record.originalPath)) +
                                        " has its shortcut again, so its copy on the drive is in use.");
    }
    AwayForThePass pass(*this);
    auto drive = heldDrive(record.driveID);
    if (!drive) throw EngineError::driveUnavailable();
    // A refused volume keeps what it holds: only a restored item's own copy leaves it.
    if (auto refused = refusedVolume(record))
        throw EngineError::driveUntrusted("Keldwick won't delete the copy there. " + *refused);
    const std::optional<std::string> root = drive->root();
    requireHoldsNoOtherItems(record);

    const std::string drivePath = record.drivePath(*root);
    removeFromDrive(drivePath, record, *root);
    context.journal->setPhase(record.id, Phase::superseded);
    appendManifestEntry(record, DriveManifest::Entry::Event::discarded, *root);
    context.journal->log("Deleted the drive copy of " + quoted(ItemName::display(record.originalPath)) + " (" + reason + ").",
                         EventLevel::info, record.id);
}

}  // namespace keldwick
