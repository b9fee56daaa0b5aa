#pragma once
// Moves one candidate from this computer to the drive. Time has passed since the scan
// that proposed it, so every check runs again on the item as it is now; a refusal is an
// EngineError whose sentence the user reads, and nothing has been written when it comes.
// Once the item passes, one journal record is written ("offload-copying") and the item
// is copied with its digest, verified, given its final name on the drive, replaced by a
// symbolic link, and the record ends "offloaded" with a line in the drive's manifest.
//
// The journal holds each phase before the file-system step that depends on it, so a
// crash anywhere leaves a record that recovery can finish or undo. A failure after the
// record exists is logged and handed to recovery at once, then rethrown; a
// SimulatedCrash passes untouched and leaves the record for start-up recovery.
//
// Runs on its caller's thread while the engine holds its operation lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "drives/Drive.h"
#include "engine/EngineContext.h"
#include "engine/FaultPoint.h"
#include "engine/HeldPlaces.h"
#include "engine/HomeFolder.h"
#include "engine/LocatedDrive.h"
#include "foundation/CancellationFlag.h"
#include "foundation/FileStat.h"
#include "foundation/Fingerprint.h"
#include "foundation/OffloadRecord.h"
#include "foundation/Phase.h"
#include "foundation/TreeManifest.h"
#include "scanning/Candidate.h"
#include "scanning/WholeKind.h"

namespace keldwick {

class OffloadExecutor {
public:
    // Given the bytes of the item copied so far.
    using Progress = std::function<void(int64_t bytesDone)>;

    struct Outcome {
        // finishing: the link swap was done, but a step after it (a journal write, the
        // manifest's line) failed; the item is on the drive and recovery finishes its
        // record at the next start.
        enum class Kind { moved, wouldMove, finishing };
        Kind kind = Kind::moved;
        OffloadRecord record;  // moved, finishing: the journal's row as last read
        Candidate candidate;   // wouldMove: the candidate as given
        std::string unfinished;  // finishing: the error the last steps ended with

        static Outcome moved(OffloadRecord record) { return {Kind::moved, std::move(record), {}, {}}; }
        static Outcome wouldMove(Candidate candidate) { return {Kind::wouldMove, {}, std::move(candidate), {}}; }
        static Outcome finishing(OffloadRecord record, std::string error) {
            return {Kind::finishing, std::move(record), {}, std::move(error)};
        }
        bool operator==(const Outcome&) const = default;
    };

    // `places` answers the clash checks; a run hands each item's executor the same one,
    // so that the journal is read once per run. Without one, the executor reads its own.
    // `located`: the drive a run holds for all its items; without it each item locates
    // the drive itself.
    OffloadExecutor(EngineContext context, Drive drive, std::shared_ptr<HeldPlaces> places = nullptr,
                    std::shared_ptr<const LocatedDrive> located = nullptr);

    // The phases whose records still hold their place on the drive: all but "restored",
    // "abandoned" and "superseded".
    static const std::set<Phase>& activePhases();

    // Checks the candidate again, then moves it (see the file comment). Once the link
    // stands in the original's place, nothing fails the move: an error after that ends
    // it as `finishing`, its record left to recovery. In a dry run
    // every check runs, one "Dry run: would move" event is written and nothing else
    // changes. Throws EngineError, POSIXFailure, SQLiteError, CancellationError and
    // SimulatedCrash.
    Outcome offload(const Candidate& candidate, bool dryRun, const std::shared_ptr<CancellationFlag>& cancel,
                    const Progress& progress);

private:
    EngineContext context;
    Drive drive;
    std::shared_ptr<HeldPlaces> places;
    std::shared_ptr<const LocatedDrive> located_;
    // Set once the link stands for good in the original's place.
    bool swapped_ = false;

    // Where the item goes on the drive.
    struct Destination {
        std::string relativePath;
        std::string path;             // beneath the drive's root
        bool clearLeftovers = false;  // our own unfinished copy stands there, to be cleared
    };

    // --- The checks of offload(), in their order; each throws the refusal.

    // The item itself (not what a link points at): a file or folder, movable, a name that
    // can be recorded, and not refused by the rules now. Gives its status.
    FileStat checkItem(const Candidate& candidate) const;
    // Not on the drive nor holding it; a folder moving as one piece passes again; a
    // database file goes with its side files.
    void checkPlace(const Candidate& candidate, const FileStat& status, const std::string& root) const;
    // The item's place on the drive, not held by another record; a free name beside
    // whatever else lies there.
    Destination chooseDestination(const std::string& path, const FileStat& status, const std::string& root,
                                  bool dryRun);
    // Every entry of a folder movable and on the same disk, and nothing used since the
    // scan dated it; a folder whose files are hard links of one another only to a drive
    // that can hold them. Gives the bytes the item holds now, each file once.
    int64_t checkContents(const Candidate& candidate, const FileStat& status, const std::string& root) const;
    // Room on the drive above its reserve, and nothing held open by a running process.
    void checkRoomAndUse(const Candidate& candidate, int64_t total, const std::string& root) const;

    // A folder moving as one piece: an emulator device must be idle, a project or device
    // needs a drive that keeps metadata natively, and the whole folder must pass the
    // inspection and not have been used since the scan. Throws EngineError::notEligible.
    void recheckWhole(const Candidate& candidate, WholeKind kind, const std::string& root) const;

    // The move's record, in "offload-copying".
    OffloadRecord insertRecord(const Candidate& candidate, const FileStat& status, const std::string& relativePath);

    // The back half of a move, entered with the record in "offload-copying": copy and
    // hash to the partial name, verify, mark verified, final name, check the original
    // did not change and is not in use, swap the link in, delete the displaced
    // original, "offloaded", manifest line. Undoes nothing on failure except putting a
    // changed original back at its path; the record's phase tells recovery the rest.
    // Each step on the drive first confirms the drive is still where it was located
    // (EngineError::driveUnavailable), the last once the copy's final name is durable.
    void copyAndSwap(const OffloadRecord& record, const LocatedDrive& located, const HomeFolder& home,
                     bool clearLeftovers,
                     const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress);

    // Reaches a fault point for this record with the given working path.
    using Reach = std::function<void(FaultPoint, std::optional<std::string>)>;

    // What copying wrote at the partial name: its digest and, for a folder, its tree.
    struct Copied {
        std::string checksum;
        std::optional<std::vector<TreeEntry>> entries;
        FileCopier::LinkGroups linkGroups;  // the names the copy made of one file
    };

    // --- The steps of copyAndSwap(), in their order.

    // The item's fingerprints before a byte is copied, and its identity.
    std::pair<FingerprintSnapshot, std::string> fingerprintItem(const OffloadRecord& record, const HomeFolder& home);
    // The copy's folders on the drive made, an old partial copy removed, and our own
    // unfinished copy cleared when `clearLeftovers`.
    void prepareDrive(const OffloadRecord& record, const std::string& onDrive, const std::string& partial,
                      bool clearLeftovers);
    Copied copyToPartial(const OffloadRecord& record, const HomeFolder& home, const std::string& partial,
                         const std::string& partialOnDrive,
                         const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress,
                         const Reach& reach);
    // Throws EngineError::checksumMismatch naming the item when the copy reads back otherwise.
    void verifyCopy(const OffloadRecord& record, const std::string& partial, const Copied& copied);
    // "offload-verified", then the copy's final name, made durable. Gives its fingerprints.
    FingerprintSnapshot nameCopy(const OffloadRecord& record, const HomeFolder& home, const LocatedDrive& located,
                                 const std::string& partial, const std::string& drivePath, const Copied& copied,
                                 const std::string& identity);
    // The original unchanged, unused and still in its folder at its path, no cancel, and
    // the named copy still standing.
    void checkBeforeSwap(const OffloadRecord& record, const HomeFolder& home, const std::string& drivePath,
                         const FingerprintSnapshot& before, const FingerprintSnapshot& named,
                         const std::shared_ptr<CancellationFlag>& cancel);
    // "offload-swapping", the link in the original's place, and the icon's place kept.
    void swapKeepingIconPlace(const OffloadRecord& verified, const HomeFolder& home, const std::string& drivePath,
                              const FingerprintSnapshot& before, const Reach& reach);
    // "offloaded", its event and, while the drive is still there, the manifest's line.
    void finishMove(const OffloadRecord& verified, const LocatedDrive& located,
                    const std::optional<std::vector<TreeEntry>>& entries);

    // Whether the record is still "offload-verified" and its drive copy still the one
    // fingerprinted once verified.
    bool copyStillStands(const OffloadRecord& record, const std::string& drivePath,
                         const FingerprintSnapshot& copied);
    // The record given carries the verified checksum.
    // Both act in the item's folder as `home` holds it.
    void swapFile(const OffloadRecord& record, const HomeFolder& home, const std::string& drivePath,
                  const FingerprintSnapshot& before, const Reach& reach);
    void swapFolder(const OffloadRecord& record, const HomeFolder& home, const std::string& drivePath,
                    const FingerprintSnapshot& before, const Reach& reach);
};

// Whether `after` shows the same items as `before`: as many entries, the same folders,
// and each entry of `after` recorded in `before` with an unchanged fingerprint (folders
// by inode alone, everything else by `comparison`).
bool sameSnapshot(const FingerprintSnapshot& before, const FingerprintSnapshot& after,
                  Fingerprint::Comparison comparison);

}  // namespace keldwick
