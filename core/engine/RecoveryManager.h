#pragma once
// Settles every move and restore that the journal shows cut short, with the steps it
// shares with the executors (ItemSteps). Each decision is taken from the record's phase and from what
// lies at the original path, at the working names and on the drive at that moment: it
// finishes what can be finished and undoes what can't. It deletes only the program's own
// working names and items whose digest matches the record; anything else is kept, beside
// the original under a " (recovered by Keldwick)" name or left alone with a warning.
//
// Nothing leaves recover's passes as an exception: every outcome is a RecoveryResult and
// a journal event, and a record that can't be settled now keeps its phase ("deferred")
// for the next recovery. Runs on the caller's thread while the engine holds its lock.

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/EngineContext.h"
#include "engine/ItemSteps.h"
#include "engine/RecoveryResult.h"
#include "foundation/DriveManifest.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

class RecoveryManager : private ItemSteps {
public:
    // The error that ended an operation, as its message; nothing after a crash.
    using Failure = std::optional<std::string>;

    explicit RecoveryManager(EngineContext context) : ItemSteps(std::move(context)) {}

    // --- The passes of a start-up recovery, in the order the engine runs them.

    // Repairs every record in an in-flight phase, in journal order: one result each.
    std::vector<RecoveryResult> recoverInFlight();
    // Adds to the journal the items this machine's manifest on the drive lists and the
    // journal lacks, then checks their links. Only entries whose paths are clean and lie
    // in this machine's folder on the drive are taken, and only for places strictly inside
    // the configured home folder, outside the drive and outside the folders the scan
    // rules protect (none without a home); the others stay on the drive, named in a
    // warning event. An entry whose drive copy is, holds
    // or lies inside another item's copy (a record not finished, or another entry) stays
    // on the drive, named in a warning event. An entry the journal shows restored or
    // discarded since gets the manifest line the drive missed instead.
    std::vector<RecoveryResult> adoptManifestEntries(const std::string& driveID);
    // Checks the link of every "offloaded" and "link-missing" record; results other
    // than unchanged.
    std::vector<RecoveryResult> checkLinks();
    // Deletes the displaced folders that moves left behind once their copy is safe.
    void finishPendingDeletions();
    // Writes the manifest entries the drive lacks for this machine's moved items.
    void updateManifest(const std::string& driveID);

    // --- Entries for the executors and the engine.

    // Repairs one record from its phase after its operation failed with `failure`.
    // Nothing when the journal doesn't know the id.
    std::optional<RecoveryResult> recoverRecord(int64_t recordID, const Failure& failure);
    // The folder an operation held its item in, for the repair of that item right after
    // it failed; other records' folders are opened afresh.
    void holdHome(std::shared_ptr<const HomeFolder> home) { heldHome_ = std::move(home); }
    std::optional<RecoveryResult> recoverRecord(int64_t recordID, const std::exception& failure) {
        return recoverRecord(recordID, Failure(failure.what()));
    }

    // Deletes the drive copy of a "returned" or "link-missing" record and marks it
    // "superseded". Throws EngineError (invalidState, driveUnavailable, holdsOtherItems)
    // or the journal's and file system's errors; a refusal changes nothing.
    void discardDriveCopy(const OffloadRecord& record, const std::string& reason);

private:
    // --- Repairs of each interrupted phase. Each may throw; the dispatch turns a throw
    // into a deferred result and the record keeps its phase.

    RecoveryResult rollBackOffload(const OffloadRecord& record, const Failure& failure);  // copying, verified
    RecoveryResult resolveOffloadSwap(const OffloadRecord& record, const Failure& failure);  // swapping
    RecoveryResult finishOffloadCleanup(const OffloadRecord& record);  // cleanup
    RecoveryResult resolveRestoreCopy(const OffloadRecord& record, const Failure& failure);  // restore-copying
    RecoveryResult resolveRestoreSwap(const OffloadRecord& record, const Failure& failure);  // restore-swapping
    RecoveryResult finishRestoreCleanup(const OffloadRecord& record);  // restore-cleanup
    RecoveryResult finishRestoreAfterSwap(const OffloadRecord& record);
    // A new link at `at`, the original path as its folder is held.
    RecoveryResult recreateLink(const OffloadRecord& record, const std::string& at);

    // --- Digest tests; they throw when reading fails.

    // The drive copy's digest (a folder's "._" companions left out) equals the checksum.
    bool isOwnDriveCopy(const OffloadRecord& record, const std::string& root);
    // The item at `path` is the one moved: the very item recorded before the swap (its
    // identity), or one with the record's checksum.
    bool isRecordedItem(const std::string& path, const OffloadRecord& record);
    // The item at `path` has the restore checksum (else the checksum).
    bool matchesRestoreChecksum(const std::string& path, const OffloadRecord& record);

    // The steps that may only follow a flush. While a pass holds them back (see
    // afterDurable), many records' folder flushes and journal changes become durable at once.
    struct DurableStep {
        size_t slot = 0;  // where the step's result goes in the pass's results
        OffloadRecord record;
        std::optional<std::string> folder;  // flushed first
        std::function<void()> mark;          // the journal change that allows the step
        std::function<RecoveryResult()> step;
    };
    std::optional<std::vector<DurableStep>> heldSteps_;
    // Taken around the held steps while a pass runs on several threads.
    std::mutex* heldStepsLock_ = nullptr;
    // Flushes `folder` (when given), makes `mark`, makes the journal durable, then runs
    // `step` and gives its result. While a pass holds steps back, all of that waits for
    // runHeldSteps and a stand-in result is given, which runHeldSteps replaces.
    RecoveryResult afterDurable(const OffloadRecord& record, std::optional<std::string> folder,
                                std::function<void()> mark, std::function<RecoveryResult()> step);
    // Runs the held steps: one flush per folder, their journal changes, one journal flush,
    // then each step, writing each result into its slot; many steps run on a few threads
    // at once, as they are of different records, so that waits on the disk overlap. A step
    // whose flush or change fails is deferred with the failure, as a repair that throws.
    // The steps that steps hold back run in the rounds that follow.
    void runHeldSteps(std::vector<RecoveryResult>& results) noexcept;
    void runHeldRound(std::vector<RecoveryResult>& results) noexcept;
    // Runs work(i) for each place's index side by side (see runSideBySide) in one journal
    // commit, which waits for the drive flushes the work held back. Gives the failure when
    // that commit failed and none of the work's journal changes happened; nothing when it
    // succeeded, or when no transaction could be opened and each change committed on its own.
    std::optional<std::string> inOneCommit(const std::vector<std::string>& places,
                                           const std::function<void(size_t)>& work);
    RecoveryResult failedRepair(const OffloadRecord& record, const std::string& description, bool fromExecutor);

    // The places this machine's manifest on a drive lists, as adoption read them at the
    // root, for updateManifest to use once instead of reading the manifest again.
    std::optional<std::pair<std::string, std::set<std::string>>> manifestPlaces_;

    std::optional<RecoveryResult> repair(const OffloadRecord& record, const Failure& failure, bool fromExecutor);
    RecoveryResult checkLinkGuarded(const OffloadRecord& record);
    // Whether the manifest entry is the record's own "offloaded" line, left standing after
    // the record was restored or discarded.
    static bool closesEntry(const OffloadRecord& record, const DriveManifest::Entry& entry,
                            const std::string& driveID);
    void keepDifferingOriginal(const OffloadRecord& record, const std::string& displaced, const std::string& folder);
    RecoveryResult finishMove(const OffloadRecord& record);
    // The record's folder at home: the one held (see holdHome) when it is the record's,
    // else opened now.
    std::shared_ptr<const HomeFolder> homeOf(const OffloadRecord& record) const;
    std::shared_ptr<const HomeFolder> heldHome_;
    RecoveryResult deferRestoreCleanup(const OffloadRecord& record);
    // Removes a restored item's own copy from a refused volume (`refused` says why it is
    // refused); nothing when it is gone. Else the record's result: deferred in cleanup on
    // a read-only volume, or ended "returned" with the copy left there, named.
    std::optional<RecoveryResult> removeFromRefusedVolume(const OffloadRecord& record, const std::string& root,
                                                          const std::string& refused);
    // Nothing when the displaced original may go (gone already, or its drive copy holds the
    // recorded digest); otherwise a deferral while the drive is away or its copy missing,
    // or, when a different copy stands there, the original put back and the move undone.
    // `displaced` lies in the original's folder as `home` holds it.
    std::optional<RecoveryResult> deferUnlessDriveCopyStands(const OffloadRecord& record,
                                                            const std::optional<std::string>& root,
                                                            const std::string& displaced, const HomeFolder& home);
    // Whether the drive copy lies beneath the located root with the record's digest.
    bool driveCopyStands(const OffloadRecord& record, const std::optional<std::string>& root);
    // The displaced original back at its place: over the record's own link, or into an
    // empty place; beside whatever else stands there.
    void putOriginalBack(const OffloadRecord& record, const std::string& displaced, const HomeFolder& home);
    std::string digestOfDriveCopy(const OffloadRecord& record, const std::string& root);
    // The record's drive copy as reached through the Keldwick folder held on the drive at
    // `root` (EngineError::driveUnavailable when the drive held isn't there), walked down
    // one folder at a time as LocatedDrive::reach does; nothing when a folder on the way
    // is missing. Its path holds while the Place lives.
    std::optional<LocatedDrive::Place> onDrive(const OffloadRecord& record, const std::string& root);
    // Whether anything stands at the record's place on that drive.
    bool driveCopyIsThere(const OffloadRecord& record, const std::string& root);
    // Whether the record's drive is held and the locator took it.
    bool driveIsTrusted(const OffloadRecord& record);
    // Why the record's drive, held but refused, can't be written; nothing when it can.
    std::optional<std::string> refusedVolume(const OffloadRecord& record);
    void removeDriveCopy(const OffloadRecord& record, const std::string& root);
};

}  // namespace keldwick
