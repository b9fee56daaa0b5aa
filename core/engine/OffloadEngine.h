#pragma once
// The one object through which the program moves, restores and repairs items. It owns
// the engine's parts, runs one operation at a time, keeps the computer from idle sleep
// while an operation runs, loops over the items of a run or of a restore of everything,
// and turns each item's outcome into a RunSummary and journal events. The work on one
// item is the executors' and recovery's.
//
// Every operation that changes files holds the operation lock from start to end. The
// lock is process-wide, not per engine: the program builds a new engine whenever its
// settings, pins or drive change, and a recovery by a new engine must never run beside
// a move of the old one over the same journal. Across processes the same holds through
// an flock on the journal's path + ".lock". A second caller waits. Errors of single
// operations reach the caller unchanged once the lock and the sleep inhibitor are
// released; a SimulatedCrash always passes through untouched.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "engine/EngineConfiguration.h"
#include "engine/EngineContext.h"
#include "engine/EngineProgress.h"
#include "engine/FaultInjecting.h"
#include "engine/IconPlacing.h"
#include "engine/LocatedDrive.h"
#include "engine/OffloadExecutor.h"
#include "engine/RecoveryResult.h"
#include "engine/RunSummary.h"
#include "foundation/CancellationFlag.h"
#include "foundation/Journal.h"
#include "foundation/OffloadRecord.h"
#include "foundation/OpenFileChecking.h"
#include "foundation/Phase.h"
#include "foundation/SleepAssertion.h"
#include "scanning/Candidate.h"
#include "scanning/OffloadPlanner.h"
#include "scanning/ScanRule.h"

namespace keldwick {

class OffloadEngine {
public:
    // May be called from the engine's thread at any time during an operation.
    using ProgressCallback = std::function<void(const EngineProgress&)>;
    // moved (with the record) or, in a dry run, wouldMove (with the candidate).
    using OffloadOutcome = OffloadExecutor::Outcome;

    OffloadEngine(std::shared_ptr<Journal> journal, Drive drive, std::shared_ptr<DriveLocating> locator,
                  std::shared_ptr<OpenFileChecking> openFiles, RuleList rules, std::shared_ptr<FaultInjecting> faults,
                  std::shared_ptr<IconPlacing> icons, EngineConfiguration configuration);
    OffloadEngine(const OffloadEngine&) = delete;
    OffloadEngine& operator=(const OffloadEngine&) = delete;

    const std::shared_ptr<Journal>& journal() const { return journal_; }
    const Drive& drive() const { return drive_; }
    const EngineContext& context() const { return context_; }

    // Where the sleep inhibitors come from; empty (the default) asks logind. For tests.
    SleepAssertion::Inhibitor inhibitor;
    // This computer's free space as bringing back counts it; empty (the default) reads the
    // volume. For tests, whose disk other work shares.
    std::function<std::optional<int64_t>(const std::string& path)> homeSpace;

    // The drive's mount path now, or nothing when it isn't attached. Takes no lock.
    std::optional<std::string> driveRoot() const;

    // Moves one candidate (or, in a dry run, only checks it). Progress names the item,
    // index 0 of 1.
    OffloadOutcome offload(const Candidate& candidate, bool dryRun,
                           const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                           const ProgressCallback& progress = {});

    // Moves every item of the plan in order, whatever bytesNeeded says. An item that
    // fails becomes a RunFailure and a warning event and the run goes on (a full drive
    // included: a smaller item may still fit). Cancellation, or a drive that is gone,
    // stops the loop and keeps what was done. Ends with one summary event.
    RunSummary run(const OffloadPlan& plan, bool dryRun, const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                   const ProgressCallback& progress = {});

    // Brings an "offloaded" or "link-missing" item back to its place. The returned
    // record's phase tells "restored" from "returned" (both versions kept).
    OffloadRecord restore(int64_t recordID, const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                          const ProgressCallback& progress = {});
    // Brings the drive copy of a "returned" or "link-missing" item back beside what now
    // stands at its place, named with " (from " + drive name + ")".
    OffloadRecord restoreAsCopy(int64_t recordID, const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                                const ProgressCallback& progress = {});
    // Brings back every "offloaded" item and every "link-missing" item whose place is
    // free, by record id, from every drive that is plugged in: each drive is located once
    // and its items come back through the folder held then. The items of a drive that
    // isn't plugged in are left out (the drive in use being away is the stoppedBecause when
    // no other drive gives anything back).
    // Failures are collected and the run goes on; an item this computer has no room for
    // stays on its drive (noRoom) and the run goes on with the rest, as a smaller one may
    // fit; a drive that goes away ends that drive's items only (stoppedBecause);
    // cancellation stops the loop. Ends with one summary event. Throws only when the
    // journal can't be read at the start.
    RunSummary restoreAll(const std::shared_ptr<CancellationFlag>& cancel = nullptr,
                          const ProgressCallback& progress = {});
    // Deletes the drive copy of a "returned" or "link-missing" item ("you asked").
    void discardDriveCopy(int64_t recordID);

    // Settles every move and restore cut short, adopts the drive's manifest entries,
    // checks links, finishes pending deletions and writes missing manifest entries.
    // Returns the first three passes' results. Never throws.
    std::vector<RecoveryResult> recover() noexcept;

    // The journal's records in the phases; none when the journal fails. Takes no lock.
    std::vector<OffloadRecord> records(const std::set<Phase>& phases) const noexcept;

private:
    class Frame;

    OffloadRecord restoreOne(int64_t recordID, const std::optional<std::string>& copySuffix,
                             const std::shared_ptr<CancellationFlag>& cancel, const ProgressCallback& progress,
                             int64_t index, int64_t count,
                             const std::shared_ptr<const LocatedDrive>& heldDrive = nullptr);

    std::shared_ptr<Journal> journal_;
    Drive drive_;
    EngineContext context_;
};

}  // namespace keldwick
