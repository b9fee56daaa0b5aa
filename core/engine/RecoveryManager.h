#pragma once
// Settles every move and restore that the journal shows cut short, and the steps the
// executors share with it. Each decision is taken from the record's phase and from what
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
#include "engine/RecoveryResult.h"
#include "foundation/DriveManifest.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

class RecoveryManager {
public:
    // The error that ended an operation, as its message; nothing after a crash.
    using Failure = std::optional<std::string>;

    explicit RecoveryManager(EngineContext context) : context(std::move(context)) {}

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
    std::optional<RecoveryResult> recoverRecord(int64_t recordID, const std::exception& failure) {
        return recoverRecord(recordID, Failure(failure.what()));
    }

    // Deletes the drive copy of a "returned" or "link-missing" record and marks it
    // "superseded". Throws EngineError (invalidState, driveUnavailable, holdsOtherItems)
    // or the journal's and file system's errors; a refusal changes nothing.
    void discardDriveCopy(const OffloadRecord& record, const std::string& reason);
    // Throws EngineError::holdsOtherItems when the record's drive copy is, or holds, the
    // copy of another record on its drive that is not finished (letter case aside).
    void requireHoldsNoOtherItems(const OffloadRecord& record);

    // Whether the record's link stands at its original path and points at the drive's
    // current place; marks the record "link-missing" or "returned" when it doesn't, and
    // "offloaded" again when a missing link came back. A link is never taken back, nor
    // pointed at a new place, while another drive's live record holds the same path.
    RecoveryResult checkLink(const OffloadRecord& record);

    // Whether the link at `path` may be the record's own. Its text must end in the
    // record's place below a drive's root, which is the same on every drive; so while
    // another drive's live record holds the same original path, it must also point into
    // the record's drive as located now (unless that drive is away and nothing tells).
    bool isOwnLink(const std::string& path, const OffloadRecord& record);

    // --- Steps the executors share with recovery.

    // Removes what lies at `path`, a path on the record's drive, by first renaming it to
    // its trash working name. Requires the drive mounted and the path strictly beneath
    // its root (EngineError::driveUnavailable, POSIXFailure "resolve"). Throws on failure.
    void removeLeftovers(const std::string& path, const OffloadRecord& record);
    // Deletes the record's copy at `drivePath` on the drive mounted at `root` as
    // removeLeftovers does, with the folders it leaves empty, and flushes the drive before
    // anything may mark the record finished (see flushDriveDeletions). Throws on failure.
    void removeFromDrive(const std::string& drivePath, const OffloadRecord& record, const std::string& root);
    // Appends the record's manifest entry at the drive mounted at `root` (only while the
    // locator still finds the record's drive there); a folder's
    // "offloaded" entry carries its tree (from the journal when not given). A failure is
    // a warning event, never an exception.
    void appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event, const std::string& root,
                             const std::optional<std::vector<TreeEntry>>& entries = std::nullopt) noexcept;
    // Deletes a displaced folder at `trash` when all it holds was copied; one that gained
    // or changed entries is kept beside the item in `folder` (the original's parent when
    // not given) under the recovered name, with a warning. Gives the warning when kept.
    std::optional<std::string> deleteDisplacedFolder(const OffloadRecord& record, const std::string& trash,
                                                     const std::optional<std::string>& folder = std::nullopt);
    // Puts `source` back at the original path in place of the record's link; false, with
    // `source` left where it is, when something else stands there.
    bool replaceOwnLink(const OffloadRecord& record, const std::string& source);
    // Renames the item at `path` to a free " (recovered by Keldwick)" name beside the
    // original, with a warning event; gives that name.
    std::string keepBeside(const OffloadRecord& record, const std::string& path);
    // The item at `path` has the record's checksum; throws when reading fails.
    bool matchesChecksum(const std::string& path, const OffloadRecord& record);

private:
    EngineContext context;

    // Whether a record of another drive, in a phase not finished, has the same original path.
    bool hasRivalRecord(const OffloadRecord& record);
    // While a pass of link checks runs: the only places that may have such a record.
    std::optional<std::set<std::string>> contestedPlaces_;
    // Deletes the displaced original at `path`; a failure is a warning event.
    void finishDeletingOriginal(const std::string& path, const OffloadRecord& record) noexcept;
    // Sets the phase with `detail` as its error text, logs a warning and gives the result.
    RecoveryResult markRecord(const OffloadRecord& record, const std::string& detail, Phase phase,
                              RecoveryAction action);

    // --- Repairs of each interrupted phase. Each may throw; the dispatch turns a throw
    // into a deferred result and the record keeps its phase.

    RecoveryResult rollBackOffload(const OffloadRecord& record, const Failure& failure);  // copying, verified
    RecoveryResult resolveOffloadSwap(const OffloadRecord& record, const Failure& failure);  // swapping
    RecoveryResult finishOffloadCleanup(const OffloadRecord& record);  // cleanup
    RecoveryResult resolveRestoreCopy(const OffloadRecord& record, const Failure& failure);  // restore-copying
    RecoveryResult resolveRestoreSwap(const OffloadRecord& record, const Failure& failure);  // restore-swapping
    RecoveryResult finishRestoreCleanup(const OffloadRecord& record);  // restore-cleanup
    RecoveryResult finishRestoreAfterSwap(const OffloadRecord& record);
    RecoveryResult recreateLink(const OffloadRecord& record);

    // --- Digest tests; they throw when reading fails.

    // The drive copy's digest (a folder's "._" companions left out) equals the checksum.
    bool isOwnDriveCopy(const OffloadRecord& record, const std::string& root);
    // The item at `path` is the one moved: the very item recorded before the swap (its
    // identity), or one with the record's checksum.
    bool isRecordedItem(const std::string& path, const OffloadRecord& record);
    // The item at `path` has the restore checksum (else the checksum).
    bool matchesRestoreChecksum(const std::string& path, const OffloadRecord& record);

    // The manifest entries a pass holds back to write in one go once its journal changes
    // are durable, with the drive each goes to.
    struct HeldManifestEntry {
        int64_t recordID = 0;
        std::string driveID;
        std::string root;
        DriveManifest::Entry entry;
    };
    std::optional<std::vector<HeldManifestEntry>> heldManifestEntries_;
    void writeHeldManifestEntries() noexcept;
    // Holds appendManifestEntry's lines for as long as it lives (the outermost one) and
    // writes them at its end. Cut short by an exception, the lines go unwritten, as after
    // a crash; the next recovery writes the entries the drive lacks.
    class ManifestHold {
    public:
        explicit ManifestHold(RecoveryManager& manager)
            : manager_(manager), outer_(!manager.heldManifestEntries_), unwinding_(std::uncaught_exceptions()) {
            if (outer_) manager_.heldManifestEntries_.emplace();
        }
        ~ManifestHold() {
            if (!outer_) return;
            if (std::uncaught_exceptions() == unwinding_) manager_.writeHeldManifestEntries();
            manager_.heldManifestEntries_.reset();
        }
        ManifestHold(const ManifestHold&) = delete;
        ManifestHold& operator=(const ManifestHold&) = delete;

    private:
        RecoveryManager& manager_;
        bool outer_;
        int unwinding_;
    };

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
    // Taken around the held steps and the held manifest entries while a pass runs on
    // several threads.
    std::mutex* heldStepsLock_ = nullptr;
    std::mutex* heldEntriesLock_ = nullptr;
    // The drives whose deletions a pass flushes at once before the journal changes that
    // follow them commit.
    struct DriveFlushes {
        std::mutex lock;
        std::set<std::string> roots;
        void flush() const;  // throws as platform::syncVolume
    };
    DriveFlushes* heldDriveFlushes_ = nullptr;
    // Deletions on the drive at `root` must outlast a power cut before the journal change
    // that finishes them: a finished record's copy that came back would stay there for
    // good. Flushes the drive now, or while a pass holds the flushes back, at its commit.
    void flushDriveDeletions(const std::string& root);
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
    std::optional<std::string> mountPoint(const std::string& driveID);
    RecoveryResult checkLinkGuarded(const OffloadRecord& record);
    // Whether the manifest entry is the record's own "offloaded" line, left standing after
    // the record was restored or discarded.
    static bool closesEntry(const OffloadRecord& record, const DriveManifest::Entry& entry,
                            const std::string& driveID);
    // Renames the item at `path` to a free " (recovered by Keldwick)" name in `folder` (the
    // original's parent when not given); the keep* steps add their own warnings.
    std::string renameBeside(const OffloadRecord& record, const std::string& path,
                             const std::optional<std::string>& folder = std::nullopt);
    void keepDifferingOriginal(const OffloadRecord& record, const std::string& displaced);
    std::string keepChangedFolder(const OffloadRecord& record, const std::string& displaced,
                                  const std::optional<std::string>& folder = std::nullopt);
    bool holdsOnlyCopiedEntries(const std::string& folder, const OffloadRecord& record);
    RecoveryResult updateLink(const OffloadRecord& record, const std::string& target);
    RecoveryResult finishMove(const OffloadRecord& record);
    RecoveryResult deferRestoreCleanup(const OffloadRecord& record);
    // Nothing when the displaced original may go (gone already, or its drive copy holds the
    // recorded digest); otherwise a deferral while the drive is away or its copy missing,
    // or, when a different copy stands there, the original put back and the move undone.
    std::optional<RecoveryResult> deferUnlessDriveCopyStands(const OffloadRecord& record,
                                                            const std::optional<std::string>& root,
                                                            const std::string& displaced);
    // Whether the drive copy lies beneath the located root with the record's digest.
    bool driveCopyStands(const OffloadRecord& record, const std::optional<std::string>& root);
    // The displaced original back at its place: over the record's own link, or into an
    // empty place; beside whatever else stands there.
    void putOriginalBack(const OffloadRecord& record, const std::string& displaced);
    void unlinkIfOurs(const std::string& path, const OffloadRecord& record);
    std::string digestOfDriveCopy(const OffloadRecord& record, const std::string& root);
    std::string digestOf(const std::string& path, bool isDirectory);
    void removeDriveCopy(const OffloadRecord& record, const std::string& root);
    RecoveryResult result(const OffloadRecord& record, RecoveryAction action,
                          std::optional<std::string> detail = std::nullopt) const;
};

// A free name beside an item: parent + "/" + base + suffix + tail, where tail is "." +
// the name's extension when keepExtension is set and it has one. When that exists (lstat
// finds anything), " 2", " 3", … go before the tail, without limit. The base is cut on
// whole characters so that the name fits 255 bytes.
std::string uniqueSiblingPath(const std::string& name, const std::string& suffix, const std::string& parent,
                              bool keepExtension);

}  // namespace keldwick
