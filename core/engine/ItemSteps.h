#pragma once
// The steps on one item that the executors and recovery share: removing what a cut-short
// attempt left, deleting a copy from the drive, keeping an unexpected item beside the
// original, putting an item back in place of its own link, checking that link, and the
// drive manifest's lines. Each step decides only from the record and what lies on disk
// at that moment, and deletes only the program's own working names and items whose
// digest matches the record.
//
// A recovery pass batches some of them (manifest lines written in one go, drive flushes
// made once per commit, the places several drives share read once); the state for that
// lives here because the steps consult it. Outside a pass each step does its work at once.

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/EngineContext.h"
#include "engine/HomeFolder.h"
#include "engine/LocatedDrive.h"
#include "engine/RecoveryResult.h"
#include "foundation/DriveManifest.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

class ItemSteps {
public:
    explicit ItemSteps(EngineContext context) : context(std::move(context)) {}

    // Removes what lies at `path`, a path on the record's drive, by first renaming it to
    // its trash working name, reached through the drive's Keldwick folder as held (see
    // heldDrive). Requires the drive mounted and the path strictly beneath its root
    // (EngineError::driveUnavailable, POSIXFailure "resolve"). Throws on failure.
    void removeLeftovers(const std::string& path, const OffloadRecord& record);
    // The same at `path` as the caller reached it (through a drive folder it holds and
    // checked), without asking the locator.
    void clearAway(const std::string& path, const OffloadRecord& record);
    // Deletes the record's copy at `drivePath` on the drive mounted at `root` as
    // removeLeftovers does, with the folders it leaves empty, and flushes what changed on
    // the drive before anything may mark the record finished (see flushDriveDeletions).
    // Throws on failure.
    void removeFromDrive(const std::string& drivePath, const OffloadRecord& record, const std::string& root);
    // The same on the drive an operation holds: `drivePath` is checked beneath its root and
    // reached through its Keldwick folder, and the deletions are flushed at once.
    void removeFromDrive(const std::string& drivePath, const OffloadRecord& record, const LocatedDrive& located);
    // Appends the record's manifest entry at the drive mounted at `root` (only while the
    // record's drive is still held there; on a volume the locator refuses, only a
    // restored item's line); a folder's
    // "offloaded" entry carries its tree (from the journal when not given). A failure is
    // a warning event, never an exception.
    void appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event, const std::string& root,
                             const std::optional<std::vector<TreeEntry>>& entries = std::nullopt) noexcept;
    // The same into the Keldwick folder an operation holds, while it is still there.
    void appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                             const LocatedDrive& located,
                             const std::optional<std::vector<TreeEntry>>& entries = std::nullopt) noexcept;
    // Deletes a displaced folder at `trash` when all it holds was copied; one that gained
    // or changed entries is kept beside the item in `folder` (the original's parent when
    // not given) under the recovered name, with a warning. Gives the warning when kept.
    std::optional<std::string> deleteDisplacedFolder(const OffloadRecord& record, const std::string& trash,
                                                     const std::optional<std::string>& folder = std::nullopt);
    // Puts `source` back at the original path, in its folder as `home` holds it, in place
    // of the record's link; false, with `source` left where it is, when something else
    // stands there.
    bool replaceOwnLink(const OffloadRecord& record, const std::string& source, const HomeFolder& home);
    // Renames the item at `path` to a free " (recovered by Keldwick)" name in `folder` (the
    // original's parent when not given), with a warning event; gives that name.
    std::string keepBeside(const OffloadRecord& record, const std::string& path,
                           const std::optional<std::string>& folder = std::nullopt);
    // The item at `path` has the record's checksum; throws when reading fails.
    bool matchesChecksum(const std::string& path, const OffloadRecord& record);

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
    // Throws EngineError::holdsOtherItems when the record's drive copy is, or holds, the
    // copy of another record on its drive that is not finished (letter case aside).
    void requireHoldsNoOtherItems(const OffloadRecord& record);

protected:
    EngineContext context;

    // The record's drive as this pass holds it: the volume the locator takes, else a
    // mounted volume it refused that carries the drive's id (held untrusted: read only
    // against the journal, written only to remove a restored item's copy and add its
    // manifest line), its Keldwick folder open and judged once. Nothing when no volume
    // carries the id. Outside a pass each call locates the drive anew.
    std::shared_ptr<const LocatedDrive> heldDrive(const std::string& driveID);
    // The root of heldDrive, trusted or not.
    std::optional<std::string> mountPoint(const std::string& driveID);
    // `drivePath` (a path on the drive below its root) reached through its held Keldwick
    // folder, for reading; nothing when a folder on the way is gone (the item with it).
    static std::optional<LocatedDrive::Place> reached(const LocatedDrive& drive, const std::string& drivePath);
    // The record's manifest line as of now.
    DriveManifest::Entry manifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                                       const std::optional<std::vector<TreeEntry>>& entries);
    RecoveryResult result(const OffloadRecord& record, RecoveryAction action,
                          std::optional<std::string> detail = std::nullopt) const;
    // Sets the phase with `detail` as its error text, logs a warning and gives the result.
    RecoveryResult markRecord(const OffloadRecord& record, const std::string& detail, Phase phase,
                              RecoveryAction action);
    // Deletes the displaced original at `path`; a failure is a warning event.
    void finishDeletingOriginal(const std::string& path, const OffloadRecord& record) noexcept;
    void unlinkIfOurs(const std::string& path, const OffloadRecord& record);
    // Renames the item at `path` to a free " (recovered by Keldwick)" name in `folder` (the
    // original's parent when not given); the keep* steps add their own warnings.
    std::string renameBeside(const OffloadRecord& record, const std::string& path,
                             const std::optional<std::string>& folder = std::nullopt);
    std::string keepChangedFolder(const OffloadRecord& record, const std::string& displaced,
                                  const std::optional<std::string>& folder = std::nullopt);
    bool holdsOnlyCopiedEntries(const std::string& folder, const OffloadRecord& record);
    // The record's tree as the journal holds it: from the trees a pass read together
    // (knownTrees_) when it holds them, else read now.
    std::vector<TreeEntry> treeOf(const OffloadRecord& record);
    // Set by a pass for the records it repairs (each with its tree, empty when it has
    // none), read-only while they run.
    const std::map<int64_t, std::vector<TreeEntry>>* knownTrees_ = nullptr;
    RecoveryResult updateLink(const OffloadRecord& record, const std::string& target);
    // The digest of the item at `path`: a folder's tree digest or a file's SHA-256.
    std::string digestOf(const std::string& path, bool isDirectory);

    // The drives a pass of checks or repairs holds, each located and its Keldwick folder
    // opened once, and those it found away (null), not asked about again until it ends:
    // with a drive away the locator searches every mounted volume, and a pass asks once
    // per record. A drive that comes back meanwhile is found by the next pass; the held
    // folders close with the pass, so an idle program never keeps the drive busy.
    struct DrivesAway {
        std::mutex lock;
        std::map<std::string, std::shared_ptr<const LocatedDrive>> drives;
    };
    DrivesAway* drivesAway_ = nullptr;
    // Keeps the drives held and found away for as long as it lives (the outermost one).
    class AwayForThePass {
    public:
        explicit AwayForThePass(ItemSteps& steps) : steps_(steps), outer_(!steps.drivesAway_) {
            if (outer_) steps_.drivesAway_ = &away_;
        }
        ~AwayForThePass() {
            if (outer_) steps_.drivesAway_ = nullptr;
        }
        AwayForThePass(const AwayForThePass&) = delete;
        AwayForThePass& operator=(const AwayForThePass&) = delete;

    private:
        ItemSteps& steps_;
        bool outer_;
        DrivesAway away_;
    };

    // Whether a record of another drive, in a phase not finished, has the same original path.
    bool hasRivalRecord(const OffloadRecord& record);
    // While a pass of repairs or link checks runs: the only places that may have such a record.
    std::optional<std::set<std::string>> contestedPlaces_;

    // The manifest entries a pass holds back to write in one go once its journal changes
    // are durable, with the drive each goes to.
    struct HeldManifestEntry {
        int64_t recordID = 0;
        std::string driveID;
        std::string root;
        DriveManifest::Entry entry;
    };
    std::optional<std::vector<HeldManifestEntry>> heldManifestEntries_;
    // Taken around the held manifest entries while a pass runs on several threads.
    std::mutex* heldEntriesLock_ = nullptr;
    void writeHeldManifestEntries() noexcept;
    // Holds appendManifestEntry's lines for as long as it lives (the outermost one) and
    // writes them at its end. Cut short by an exception, the lines go unwritten, as after
    // a crash; the next recovery writes the entries the drive lacks.
    class ManifestHold {
    public:
        explicit ManifestHold(ItemSteps& steps)
            : steps_(steps), outer_(!steps.heldManifestEntries_), unwinding_(std::uncaught_exceptions()) {
            if (outer_) steps_.heldManifestEntries_.emplace();
        }
        ~ManifestHold() {
            if (!outer_) return;
            if (std::uncaught_exceptions() == unwinding_) steps_.writeHeldManifestEntries();
            steps_.heldManifestEntries_.reset();
        }
        ManifestHold(const ManifestHold&) = delete;
        ManifestHold& operator=(const ManifestHold&) = delete;

    private:
        ItemSteps& steps_;
        bool outer_;
        int unwinding_;
    };

    // The folders whose entries a pass's deletions changed, flushed at once before the
    // journal changes that follow them commit, by drive.
    struct DriveFlushes {
        std::mutex lock;
        // The held Keldwick folder's path -> the folders, held open, whose entries changed.
        std::map<std::string, std::vector<std::shared_ptr<const platform::Fd>>> folders;
        void flush() const;  // throws as flushDeletionsIn
    };
    DriveFlushes* heldDriveFlushes_ = nullptr;
    // Deletions on the drive at `root` must outlast a power cut before the journal change
    // that finishes them: a finished record's copy that came back would stay there for
    // good. `standing` is the nearest folder left above what was removed (the folders
    // emptied went with it), `appFolder` the held Keldwick folder it lies in. Flushes it
    // now, or while a pass holds the flushes back, at its commit.
    void flushDriveDeletions(const std::string& appFolder, std::shared_ptr<const platform::Fd> standing);
    // Removes the record's copy at `drivePath` through `located` with the folders it
    // leaves empty; gives the nearest folder left.
    std::shared_ptr<const platform::Fd> clearFromDrive(const std::string& drivePath, const OffloadRecord& record,
                                                        const LocatedDrive& located);
};

// A free name beside an item: parent + "/" + base + suffix + tail, where tail is "." +
// the name's extension when keepExtension is set and it has one. When that exists (lstat
// finds anything), " 2", " 3", … go before the tail, without limit. The base is cut on
// whole characters so that the name fits 255 bytes.
std::string uniqueSiblingPath(const std::string& name, const std::string& suffix, const std::string& parent,
                              bool keepExtension);

}  // namespace keldwick
