#pragma once
// Brings one moved item back from the drive: to its original place (replacing its link,
// or into the empty place of a link that went missing), or as a copy beside whatever now
// stands there. The road of a move run backwards and guarded the same way: each phase is
// in the journal before the step that depends on it, the copy is made at a hidden
// working name and verified before it replaces anything, and the drive copy is deleted
// last, only when nothing on the drive changed meanwhile. When either side changed in a
// way the executor can't explain, both versions stay and the record ends "returned".
//
// Runs on the caller's thread inside the engine's operation lock.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/EngineContext.h"
#include "engine/FileCopier.h"
#include "engine/HomeFolder.h"
#include "engine/LocatedDrive.h"
#include "foundation/CancellationFlag.h"
#include "foundation/FileStat.h"
#include "foundation/Fingerprint.h"
#include "foundation/OffloadRecord.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

class RestoreExecutor {
public:
    // Called with the bytes of this item copied so far.
    using Progress = std::function<void(int64_t bytesDone)>;
    // Free bytes of the volume holding a path, or nothing when it can't be asked.
    using SpaceProbe = std::function<std::optional<int64_t>(const std::string& path)>;

    explicit RestoreExecutor(EngineContext context);

    EngineContext context;
    // VolumeSpace::availableBytes; tests put this computer's free space where they need it.
    SpaceProbe availableBytes;
    // The record's drive as a run over many items holds it (LocatedDrive::locateToBringBack),
    // confirmed still there before it serves; none: restore() locates the drive itself.
    std::shared_ptr<const LocatedDrive> heldDrive;

    // Brings the record's item back and returns the record as the journal holds it
    // afterwards: "restored", or "returned" when both versions were kept (callers read
    // the phase). Without a copy suffix the item goes back to its original place (records
    // in "offloaded" or "link-missing"); with one it arrives beside what stands there now,
    // under a free name carrying the suffix (records in "returned" or "link-missing").
    //
    // A drive copy that is or holds another unfinished record's copy is refused
    // (EngineError::holdsOtherItems), as its deletion would take the other's copy along.
    // Refusals before anything is written throw EngineError and change nothing (a link
    // check may have corrected the record's phase, and the destination's folder may have
    // been created). From "restore-copying" on, a failure is logged, the record is
    // repaired from its phase at once (undone or finished), and the error is rethrown; a
    // SimulatedCrash passes untouched and leaves the repair to start-up recovery. A set
    // cancel flag ends the restore with CancellationError by the same road.
    OffloadRecord restore(int64_t recordID, const std::optional<std::string>& copySuffix,
                          const std::shared_ptr<CancellationFlag>& cancel = nullptr, const Progress& progress = {});

    // Copies the drive copy to `workingCopy`, verifies it, and puts it at `destination`
    // (the original path, replacing the record's link when `replacesLink`, else a free
    // sibling name); then deletes the drive copy, or keeps it and ends "returned". The
    // record must be in "restore-copying". `entries` is what the drive copy of a folder
    // is expected to hold (unused beyond the space check, kept for callers' symmetry).
    void copyBack(const OffloadRecord& record, const std::string& root, const std::string& drivePath,
                  const FingerprintSnapshot& before, const std::optional<std::vector<TreeEntry>>& entries,
                  const std::string& workingCopy, const std::string& destination, bool replacesLink,
                  const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress);

    // Ends the record in "returned" with `message` (or the standard text about a drive
    // copy that changed during the restore) as its error, and logs it as a warning.
    void keepBoth(const OffloadRecord& record, const std::optional<std::string>& message);

    // Whether the folder copy brought back differs from what the journal recorded although
    // nothing saved the drive copy since the move. Only the recorded files are looked at:
    // one missing from the copy, or with another digest, counts as changed unless its
    // folder (or the file) was modified after the move; in an emulator device folder or a
    // code project such differences are expected and never count. A recorded file whose
    // drive copy reads back differently a second time throws driveCopyCorrupted.
    bool compareRestoredTree(const std::vector<TreeEntry>& copied, const std::vector<TreeEntry>& recorded,
                             const OffloadRecord& record, const FingerprintSnapshot& before,
                             const std::string& drivePath);

    // True when `test` holds for every (relative path, fingerprint); true for none.
    static bool allEntries(const std::unordered_map<std::string, Fingerprint>& fingerprints,
                           const std::function<bool(const std::string&, const Fingerprint&)>& test);
    // The entries by path; a later entry with the same path replaces an earlier one.
    static std::unordered_map<std::string, TreeEntry> entriesByPath(const std::vector<TreeEntry>& entries);

private:
    // Where the item arrives: its original path, or a free name beside it.
    struct Destination {
        std::string path;
        bool replacesLink = false;  // the record's link stands there and is replaced
    };

    // --- The checks of restore(), in their order; each throws the refusal.

    // The record, in a phase that may be brought back this way.
    OffloadRecord checkRecord(int64_t recordID, const std::optional<std::string>& copySuffix);
    // The drive copy, as reached through the held folders: holding no other item's copy, of the item's kind
    // and not in use. Gives its status.
    FileStat checkDriveCopy(const OffloadRecord& record, const std::string& drivePath);
    // The original path with the record's own link at it or empty, or a free sibling name,
    // looked at in the folder held (home_).
    Destination chooseDestination(const OffloadRecord& record, const std::optional<std::string>& copySuffix);
    // The bytes the drive copy will take at home (the names the move recorded as one file,
    // once; files that had holes at the move by what they take; where the home's file
    // system clones, each content the journal recorded once, its further files becoming
    // cloneCandidates_) and, for a folder, the entries expected back. Where the home can't
    // clone such files, logs that each is written in full.
    std::pair<int64_t, std::optional<std::vector<TreeEntry>>> measureDriveCopy(const OffloadRecord& record,
                                                                               const std::string& root,
                                                                               const std::string& drivePath,
                                                                               const FileStat& driveStat,
                                                                               const std::string& destinationFolder);
    // Files expected to hold the content of an earlier file of the item, with the digest
    // the journal recorded: cloned at home from that file's copy (FileCopier).
    std::map<std::string, std::string> cloneCandidates_;
    // The bytes counted for the copy, and the room above them then (with cloneCandidates_).
    int64_t counted_ = 0;
    std::optional<int64_t> roomBeyondCount_;
    // Room on this computer above its reserve (EngineError::notEnoughSpaceOnComputer).
    void checkRoomOnThisComputer(int64_t needed, const std::string& destinationFolder);

    // Where restore() found the drive; the drive copy is judged and deleted, and the
    // manifest written, only while it is still there (else EngineError::driveUnavailable
    // and the record waits for recovery).
    std::optional<LocatedDrive> located_;
    // The item's folder at home, held from the working copy's first byte to the swap.
    std::shared_ptr<const HomeFolder> home_;
    void reach(FaultPoint point, const OffloadRecord& record, const std::optional<std::string>& workingCopyPath);
    bool driveCopyUnchanged(const OffloadRecord& record, const std::string& drivePath,
                            const FingerprintSnapshot& before);
    void putInPlace(const OffloadRecord& record, const std::string& workingCopy, bool replacesLink);
    void finishInPlace(const OffloadRecord& record, const std::string& root, const std::string& drivePath,
                       const FingerprintSnapshot& before, bool driveChanged);
    void finishAsCopy(const OffloadRecord& record, const std::string& root, const std::string& drivePath,
                      const FingerprintSnapshot& before, bool driveChanged, const std::string& workingCopy,
                      const std::string& destination, uint32_t savedFlags);
    // Removes the drive copy; false when a refused volume keeps it (the record then
    // stays in cleanup on a read-only volume, else ends "returned").
    bool deleteDriveCopy(const OffloadRecord& record, const std::string& root, const std::string& drivePath);
    // Throws driveUntrusted naming the first recorded entry of the folder that is in another
    // shape than it was moved (a folder turned into a link, a recorded link re-pointed).
    void refuseChangedShape(const OffloadRecord& record, const std::vector<TreeEntry>& found,
                            const std::vector<TreeEntry>& recorded);
    // Decides, from the drive copy's entries and the record, before anything is copied:
    // refuses a changed shape; from a drive others could write, refuses anything added;
    // else judges each added link (AddedLinks) into takenLinks_ or leftLinks_.
    void planShapes(const OffloadRecord& record, const std::vector<TreeEntry>& found,
                    const std::vector<TreeEntry>& recorded, const Destination& destination);
    // The same judgement on the copy brought back: a changed shape, or a link that was not
    // judged as it is now, keeps the item on the drive.
    void checkCopiedShapes(const OffloadRecord& record, const std::vector<TreeEntry>& copied,
                           const std::vector<TreeEntry>& recorded);
    // Added links that come home, with the target they were judged by.
    std::map<std::string, std::string> takenLinks_;
    // Added links left on the drive, and the sentence that names them (the record then
    // ends "returned", the drive copy kept with them).
    std::set<std::string> leftLinks_;
    std::optional<std::string> leftOnDriveText_;
    // Logs what the copy takes besides its content where that is not what was moved: no
    // record of modes (an older or adopted record), or ACLs (and, from a drive others
    // could write, attributes) changed on the drive: once per item.
    void noteMetadata(const OffloadRecord& record, const FileCopier& copier, const std::string& drivePath,
                      const std::vector<TreeEntry>& recordedEntries);
    // Logs that the item came from a refused volume, when it did.
    void noteUntrusted(const OffloadRecord& record);
    // The drive copy's path below the drive's root as the locator names it.
    std::string realDrivePath_;
    // The copy's place, reached folder by folder from the held Keldwick folder.
    std::optional<LocatedDrive::Place> drivePlace_;
    // Whether only the user could have written the copy all along: the drive trusted, no
    // folder on the way exposed to others, and none ever found so (DriveExposure).
    bool contentIsTheUsers_ = false;
    // Why not, for the texts.
    std::optional<std::string> exposure_;
};

}  // namespace keldwick
