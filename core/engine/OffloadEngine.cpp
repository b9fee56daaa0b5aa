#include "engine/OffloadEngine.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "engine/HeldPlaces.h"
#include "engine/RecoveryManager.h"
#include "engine/RestoreExecutor.h"
#include "foundation/EngineError.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

namespace {

constexpr const char* workingName = "Keldwick is working on your files";
constexpr const char* movingName = "Keldwick is moving files to your drive";
constexpr const char* restoringName = "Keldwick is restoring files to your computer";

// One lock for every engine in the process: see the header.
std::mutex& operationLock() {
    static std::mutex lock;
    return lock;
}


// An exclusive flock on a file beside the journal, held for one operation: what the
// process-wide lock is to engines in one process, this is to processes over one journal
// (another instance, a tool run by hand). A journal held only in memory has no file.
class JournalFileLock {
public:
    explicit JournalFileLock(const std::string& journalPath) {
        if (journalPath.empty() || journalPath == ":memory:") return;
        const std::string path = journalPath + ".lock";
        fd_.reset(platform::calls().openAt(AT_FDCWD, path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd_) throw POSIXFailure("open", path, errno);
        while (platform::calls().flock(fd_.get(), LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("flock", path, errno);
        }
    }

private:
    platform::Fd fd_;
};

// Holds off idle sleep for as long as it lives, with the platform's name for why.
class OffloadEngineAssertion {
public:
    OffloadEngineAssertion(const SleepAssertion::Inhibitor& inhibitor, const std::string& name) {
        if (inhibitor)
            assertion_.emplace(name, inhibitor);
        else
            assertion_.emplace(name);
    }

private:
    std::optional<SleepAssertion> assertion_;
};

}  // namespace

// The frame of every locking operation: the process's lock, the journal's file lock,
// then the assertion; released in the opposite order however the body ends.
class OffloadEngine::Frame {
public:
    Frame(const OffloadEngine& engine, const std::string& name)
        : guard_(operationLock()), fileLock_(engine.journal_->path()), assertion_(engine.inhibitor, name) {}

private:
    std::unique_lock<std::mutex> guard_;
    JournalFileLock fileLock_;
    OffloadEngineAssertion assertion_;
};

OffloadEngine::OffloadEngine(std::shared_ptr<Journal> journal, Drive drive, std::shared_ptr<DriveLocating> locator,
                             std::shared_ptr<OpenFileChecking> openFiles, RuleList rules,
                             std::shared_ptr<FaultInjecting> faults, std::shared_ptr<IconPlacing> icons,
                             EngineConfiguration configuration)
    : journal_(journal),
      drive_(std::move(drive)),
      context_(EngineContext::make(std::move(journal), std::move(locator), std::move(openFiles), std::move(faults),
                                   std::move(icons), std::move(configuration), std::move(rules))) {}

std::optional<std::string> OffloadEngine::driveRoot() const {
    return context_.locator ? context_.locator->mountPoint(drive_.id) : std::nullopt;
}

OffloadEngine::OffloadOutcome OffloadEngine::offload(const Candidate& candidate, bool dryRun,
                                                     const std::shared_ptr<CancellationFlag>& cancel,
                                                     const ProgressCallback& progress) {
    Frame frame(*this, workingName);
    const std::string name = ItemName::display(candidate.path);
    return OffloadExecutor(context_, drive_).offload(candidate, dryRun, cancel, [&](int64_t done) {
        if (progress) progress(EngineProgress{name, 0, 1, done, candidate.size});
    });
}

RunSummary OffloadEngine::run(const OffloadPlan& plan, bool dryRun, const std::shared_ptr<CancellationFlag>& cancel,
                              const ProgressCallback& progress) {
    Frame frame(*this, workingName);
    OffloadEngineAssertion moving(inhibitor, movingName);
    // A journal that can't take an event line must not turn the run's summary of what
    // was done into a failure.
    const auto note = [this](const std::string& line, EventLevel level) {
        try {
            journal_->log(line, level);
        } catch (const std::exception&) {
        }
    };
    RunSummary summary;
    summary.dryRun = dryRun;
    const auto count = static_cast<int64_t>(plan.items.size());
    // One read of the journal's records answers every item's clash checks.
    auto places = std::make_shared<HeldPlaces>(journal_, drive_.id);
    // The drive's Keldwick folder is opened and judged once for the whole run, and every
    // item confirms it is still the one held.
    std::shared_ptr<const LocatedDrive> located;
    for (int64_t index = 0; index < count; ++index) {
        const Candidate& candidate = plan.items[static_cast<size_t>(index)];
        if (cancel && cancel->isCancelled()) {
            summary.cancelled = true;
            break;
        }
        const std::string name = ItemName::display(candidate.path);
        try {
            if (!located)
                located = std::make_shared<const LocatedDrive>(LocatedDrive::locate(
                    context_.locator.get(), drive_.id, !dryRun, context_.configuration.machineFolder));
            auto outcome = OffloadExecutor(context_, drive_, places, located).offload(candidate, dryRun, cancel, [&](int64_t done) {
                if (progress) progress(EngineProgress{name, index, count, done, candidate.size});
            });
            if (outcome.kind == OffloadOutcome::Kind::moved) {
                summary.completed.push_back(outcome.record.originalPath);
                summary.bytes += outcome.record.size;
            } else if (outcome.kind == OffloadOutcome::Kind::finishing) {
                // Moved: only its record waits for the next start.
                summary.completed.push_back(outcome.record.originalPath);
                summary.finishing.push_back(outcome.record.originalPath);
                summary.bytes += outcome.record.size;
            } else {
                summary.completed.push_back(outcome.candidate.path);
                summary.bytes += outcome.candidate.size;
            }
        } catch (const CancellationError&) {
            summary.cancelled = true;
            break;
        } catch (const EngineError& error) {
            if (error.kind() == EngineError::Kind::driveUnavailable || error.kind() == EngineError::Kind::driveUntrusted) {
                summary.stoppedBecause = error.message();
                break;
            }
            summary.failures.push_back(RunFailure{candidate.path, error.what()});
            note("Didn't move " + quoted(name) + ": " + error.what(), EventLevel::warning);
        } catch (const std::exception& error) {
            summary.failures.push_back(RunFailure{candidate.path, error.what()});
            note("Didn't move " + quoted(name) + ": " + error.what(), EventLevel::warning);
        }
    }
    std::string text = std::string(dryRun ? "Dry run: would move" : "Moved") + " " +
                       std::to_string(summary.completed.size()) + " of " + std::to_string(count) + " items (" +
                       byteCountText(summary.bytes) + ").";
    if (!summary.failures.empty()) text += " " + std::to_string(summary.failures.size()) + " couldn't be moved.";
    if (!summary.finishing.empty())
        text += " " + std::to_string(summary.finishing.size()) + " finishing at next start.";
    note(text, EventLevel::info);
    return summary;
}

OffloadRecord OffloadEngine::restoreOne(int64_t recordID, const std::optional<std::string>& copySuffix,
                                        const std::shared_ptr<CancellationFlag>& cancel,
                                        const ProgressCallback& progress, int64_t index, int64_t count,
                                        const std::shared_ptr<const LocatedDrive>& heldDrive) {
    std::string name;
    int64_t total = 0;
    try {
        if (auto record = journal_->record(recordID)) {
            name = PathUtil::name(record->originalPath);
            total = record->size;
        }
    } catch (const std::exception&) {
        // Only the progress report needs these; the executor reports a failing journal.
    }
    RestoreExecutor executor(context_);
    executor.heldDrive = heldDrive;
    if (homeSpace) executor.availableBytes = homeSpace;
    return executor.restore(recordID, copySuffix, cancel, [&](int64_t done) {
        if (progress) progress(EngineProgress{name, index, count, done, total});
    });
}

OffloadRecord OffloadEngine::restore(int64_t recordID, const std::shared_ptr<CancellationFlag>& cancel,
                                     const ProgressCallback& progress) {
    Frame frame(*this, workingName);
    return restoreOne(recordID, std::nullopt, cancel, progress, 0, 1);
}

OffloadRecord OffloadEngine::restoreAsCopy(int64_t recordID, const std::shared_ptr<CancellationFlag>& cancel,
                                           const ProgressCallback& progress) {
    Frame frame(*this, workingName);
    return restoreOne(recordID, " (from " + drive_.name + ")", cancel, progress, 0, 1);
}

RunSummary OffloadEngine::restoreAll(const std::shared_ptr<CancellationFlag>& cancel,
                                     const ProgressCallback& progress) {
    Frame frame(*this, workingName);
    OffloadEngineAssertion restoring(inhibitor, restoringName);
    std::vector<std::pair<int64_t, std::string>> found;  // record id, its drive's id
    for (const auto& record : journal_->records({Phase::offloaded, Phase::linkMissing})) {
        // A missing link whose place is taken now is left to the user.
        if (record.phase == Phase::offloaded || !FileStat::peek(record.originalPath))
            found.emplace_back(record.id, record.driveID);
    }
    RunSummary summary;
    // Each drive that holds some of them is located once, and each of its items comes back
    // through the folder held then. A drive that isn't plugged in is left out with its
    // items; the drive in use being away is told only when it leaves nothing to bring back.
    struct DriveInRun {
        std::shared_ptr<const LocatedDrive> held;  // none: each item locates it and fails with the reason
        bool away = false;
    };
    std::map<std::string, DriveInRun> drives;
    for (const auto& [id, driveID] : found) {
        if (drives.count(driveID)) continue;
        DriveInRun& drive = drives[driveID];
        try {
            drive.held = std::make_shared<const LocatedDrive>(
                LocatedDrive::locateToBringBack(context_.locator.get(), driveID, context_.configuration.machineFolder));
        } catch (const EngineError& error) {
            if (error.kind() != EngineError::Kind::driveUnavailable) continue;
            drive.away = true;
        } catch (const std::exception&) {
            // Told by each of its items.
        }
    }
    std::vector<std::pair<int64_t, std::string>> kept;
    for (const auto& entry : found)
        if (!drives[entry.second].away) kept.push_back(entry);
    if (kept.empty() && drives.count(drive_.id) && drives[drive_.id].away)
        summary.stoppedBecause = EngineError::driveUnavailable().message();

    const auto count = static_cast<int64_t>(kept.size());
    for (int64_t index = 0; index < count; ++index) {
        const auto& [id, driveID] = kept[static_cast<size_t>(index)];
        if (cancel && cancel->isCancelled()) {
            summary.cancelled = true;
            break;
        }
        DriveInRun& drive = drives[driveID];
        // A drive that went away ends only its own items: the others' may still come back.
        if (drive.away) continue;
        std::string originalPath;
        try {
            if (auto record = journal_->record(id)) originalPath = record->originalPath;
        } catch (const std::exception&) {
        }
        try {
            auto record = restoreOne(id, std::nullopt, cancel, progress, index, count, drive.held);
            summary.completed.push_back(record.originalPath);
            summary.bytes += record.size;
        } catch (const CancellationError&) {
            summary.cancelled = true;
            break;
        } catch (const EngineError& error) {
            if (error.kind() == EngineError::Kind::driveUnavailable) {
                drive.away = true;
                if (!summary.stoppedBecause) summary.stoppedBecause = error.message();
            } else if (error.kind() == EngineError::Kind::notEnoughSpaceOnComputer) {
                // A smaller item may still fit: this one stays on its drive and is named once, with the others.
                summary.noRoom.push_back(originalPath);
            } else {
                summary.failures.push_back(RunFailure{originalPath, error.what()});
            }
        } catch (const std::exception& error) {
            summary.failures.push_back(RunFailure{originalPath, error.what()});
        }
    }
    std::string text = "Restored " + std::to_string(summary.completed.size()) + " of " + std::to_string(count) +
                       " items (" + byteCountText(summary.bytes) + ").";
    if (!summary.noRoom.empty())
        text += " " + std::to_string(summary.noRoom.size()) +
                " stayed on the drive for lack of room on this computer.";
    journal_->log(text, EventLevel::info);
    return summary;
}

void OffloadEngine::discardDriveCopy(int64_t recordID) {
    Frame frame(*this, workingName);
    auto record = journal_->record(recordID);
    if (!record) throw EngineError::invalidState("That item isn't in Keldwick's log.");
    RecoveryManager(context_).discardDriveCopy(*record, "you asked");
}

std::vector<RecoveryResult> OffloadEngine::recover() noexcept {
    std::vector<RecoveryResult> results;
    try {
        Frame frame(*this, workingName);
        RecoveryManager recovery(context_);
        results = recovery.recoverInFlight();
        auto adopted = recovery.adoptManifestEntries(drive_.id);
        auto links = recovery.checkLinks();
        recovery.finishPendingDeletions();
        recovery.updateManifest(drive_.id);
        results.insert(results.end(), adopted.begin(), adopted.end());
        results.insert(results.end(), links.begin(), links.end());
        if (!results.empty())
            journal_->log("Recovery checked " + std::to_string(results.size()) + " item(s).", EventLevel::info);
    } catch (const std::exception& error) {
        // The passes report their own failures; this only keeps the promise never to throw.
        journal_->log(std::string("Recovery stopped early: ") + error.what(), EventLevel::error);
    } catch (...) {
        journal_->log("Recovery stopped early.", EventLevel::error);
    }
    return results;
}

std::vector<OffloadRecord> OffloadEngine::records(const std::set<Phase>& phases) const noexcept {
    try {
        return journal_->records(phases);
    } catch (...) {
        return {};
    }
}

}  // namespace keldwick
