#include "engine/RestoreExecutor.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include "engine/AddedLinks.h"
#include "engine/DriveExposure.h"
#include "engine/DrivePath.h"
#include "engine/ItemMetadata.h"
#include "engine/ItemSteps.h"
#include "engine/RepairOnFailure.h"
#include "foundation/Checksum.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "foundation/VolumeSpace.h"
#include "platform/Extents.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "platform/ProcFS.h"
#include "platform/Users.h"
#include "scanning/DevelopmentRule.h"

namespace keldwick {

namespace {

// What a file from the drive takes at home. One that had holes at the move comes back
// with them: it takes what its drive copy takes where that kept them, else what it took
// at the move. Any other file takes its size.
int64_t bytesAtHome(const FileStat& driveFile, const std::map<std::string, int64_t>& sparse,
                    const std::string& relative) {
    const auto found = sparse.find(relative);
    if (found == sparse.end()) return driveFile.size;
    if (driveFile.allocatedSize < driveFile.size) return driveFile.allocatedSize;
    return std::min(driveFile.size, found->second);
}

std::string changedOnRefusedText(const std::string& name, const LocatedDrive& located,
                                 const std::optional<std::string>& exposure) {
    std::string text = quoted(name) + " changed on the drive since it was moved, and Keldwick takes nothing changed "
                       "from the volume at " + located.root() + ", so it stays there. Its shortcut still opens it.";
    if (located.refusal())
        text += " " + located.refusal()->explanation();
    else if (exposure)
        text += " Other users could have changed it there: " + *exposure;
    return text;
}

// A drive file whose digest disagrees with the record is read again in this size.
constexpr size_t rereadChunkSize = 4'194'304;

std::string returnedText(const std::string& name) {
    return quoted(name) +
           " is back on your computer. Part of it changed on the drive although nothing saved it, so its copy there was "
           "kept too, just in case.";
}

bool unchangedSince(const FingerprintSnapshot& before, const FingerprintSnapshot& after) {
    if (after.fingerprints.size() != before.fingerprints.size()) return false;
    return RestoreExecutor::allEntries(after.fingerprints, [&](const std::string& path, const Fingerprint& now) {
        auto found = before.fingerprints.find(path);
        return found != before.fingerprints.end() && found->second == now;
    });
}

}  // namespace

RestoreExecutor::RestoreExecutor(EngineContext context)
    : context(std::move(context)), availableBytes([](const std::string& path) {
          return VolumeSpace::availableBytes(path);
      }) {}

bool RestoreExecutor::allEntries(const std::unordered_map<std::string, Fingerprint>& fingerprints,
                                 const std::function<bool(const std::string&, const Fingerprint&)>& test) {
    return std::all_of(fingerprints.begin(), fingerprints.end(),
                       [&](const auto& entry) { return test(entry.first, entry.second); });
}

std::unordered_map<std::string, TreeEntry> RestoreExecutor::entriesByPath(const std::vector<TreeEntry>& entries) {
    std::unordered_map<std::string, TreeEntry> byPath;
    for (const auto& entry : entries) byPath.insert_or_assign(entry.path, entry);
    return byPath;
}

void RestoreExecutor::reach(FaultPoint point, const OffloadRecord& record,
                            const std::optional<std::string>& workingCopyPath) {
    // Working items by their paths by name: what a fault leaves must be found without this process.
    std::optional<std::string> named = workingCopyPath;
    if (named && home_) named = home_->named(*named);
    if (context.faults) context.faults->reach(point, FaultContext{record.id, record.originalPath, named});
}

OffloadRecord RestoreExecutor::restore(int64_t recordID, const std::optional<std::string>& copySuffix,
                                       const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress) {
    Journal& journal = *context.journal;
    const OffloadRecord record = checkRecord(recordID, copySuffix);
    const std::string name = ItemName::display(record.originalPath);

    // A volume the locator refused still gives back what it holds, checked against the journal.
    if (heldDrive) {
        heldDrive->confirm();
        located_ = *heldDrive;
    } else {
        located_ = LocatedDrive::locateToBringBack(context.locator.get(), record.driveID,
                                                   context.configuration.machineFolder);
    }
    const std::string root = located_->root();
    realDrivePath_ = record.drivePath(root);
    // Read and deleted through the folders this walk opened and judged, never by name again.
    DrivePath::requireBeneath(root, realDrivePath_);
    try {
        drivePlace_ = located_->reach(realDrivePath_, LocatedDrive::Reach::read);
    } catch (const POSIXFailure& failure) {
        if (failure.code() == ENOENT) throw EngineError::driveCopyMissing(record.originalPath);
        throw;
    }
    if (located_->refusal()) DriveExposure::note(journal, record.driveID, located_->refusal()->explanation());
    if (auto exposure = located_->exposure()) DriveExposure::note(journal, record.driveID, *exposure);
    exposure_ = DriveExposure::known(journal, record.driveID);
    contentIsTheUsers_ = located_->trusted() && !drivePlace_->exposed && !exposure_;
    const std::string drivePath = drivePlace_->path();
    const FileStat driveStat = checkDriveCopy(record, drivePath);
    // From here on every look at home and every step there (the working copy, the swap,
    // the removals) goes through the item's folder as opened now.
    createDirectoryDurably(PathUtil::parent(record.originalPath));
    home_ = std::make_shared<const HomeFolder>(record.originalPath);
    const Destination destination = chooseDestination(record, copySuffix);

    const FingerprintSnapshot before = Fingerprint::snapshot(drivePath, record.isDirectory);
    // Named, not a structured binding: the lambda below captures it, which clang before 16 refuses.
    const auto measuredCopy =
        measureDriveCopy(record, root, drivePath, driveStat, PathUtil::parent(destination.path));
    const int64_t measured = measuredCopy.first;
    const std::optional<std::vector<TreeEntry>>& expected = measuredCopy.second;
    takenLinks_.clear();
    leftLinks_.clear();
    leftOnDriveText_.reset();
    if (expected) planShapes(record, *expected, journal.treeEntries(record.id), destination);
    checkRoomOnThisComputer(std::max(measured, record.size), PathUtil::parent(destination.path));
    counted_ = std::max(measured, record.size);
    roomBeyondCount_.reset();
    if (!cloneCandidates_.empty() && availableBytes)
        if (auto free = availableBytes(PathUtil::parent(destination.path)))
            roomBeyondCount_ = std::max<int64_t>(*free - context.configuration.computerReserveBytes - counted_, 0);

    const std::string workingCopy = home_->working(TemporaryKind::restore, record.id);
    const std::string placed = home_->entry(PathUtil::name(destination.path));
    PathUtil::removeTree(workingCopy);

    journal.setPhase(record.id, Phase::restoreCopying);
    runRepairingOnFailure(context, *located_, record.id, "Couldn't bring back " + quoted(name), [&] {
        journal.log("Bringing back " + quoted(name) + "\u2026", EventLevel::info, record.id);
        copyBack(record, root, drivePath, before, expected, workingCopy, placed, destination.replacesLink, cancel,
                 progress);
    }, home_);
    return journal.record(record.id).value_or(record);
}

OffloadRecord RestoreExecutor::checkRecord(int64_t recordID, const std::optional<std::string>& copySuffix) {
    auto found = context.journal->record(recordID);
    if (!found) throw EngineError::invalidState("That item isn't in Keldwick's log.");
    const OffloadRecord record = *found;
    const std::string name = ItemName::display(record.originalPath);
    const bool asCopy = copySuffix.has_value();

    const bool allowed = asCopy ? (record.phase == Phase::returned || record.phase == Phase::linkMissing)
                                : (record.phase == Phase::offloaded || record.phase == Phase::linkMissing);
    if (!allowed)
        throw EngineError::invalidState(quoted(name) + " can't be brought back right now (" +
                                        std::string(toString(record.phase)) + ").");

    if (asCopy && record.phase == Phase::linkMissing &&
        ItemSteps(context).isOwnLink(record.originalPath, record)) {
        ItemSteps(context).checkLink(record);
        throw EngineError::invalidState(quoted(name) + " has its shortcut again: bring it back the usual way.");
    }
    return record;
}

FileStat RestoreExecutor::checkDriveCopy(const OffloadRecord& record, const std::string& drivePath) {
    // The drive copy is deleted at the end: never while it holds another item's copy.
    ItemSteps(context).requireHoldsNoOtherItems(record);

    auto driveStat = FileStat::read(drivePath);
    if (!driveStat || (record.isDirectory ? !driveStat->isDirectory() : !driveStat->isFile()))
        throw EngineError::driveCopyMissing(record.originalPath);

    if (context.openFiles) checkNotInUse(realDrivePath_, *context.openFiles);
    return *driveStat;
}

RestoreExecutor::Destination RestoreExecutor::chooseDestination(const OffloadRecord& record,
                                                                const std::optional<std::string>& copySuffix) {
    const bool asCopy = copySuffix.has_value();
    Destination destination{record.originalPath, !asCopy && record.phase == Phase::offloaded};
    if (destination.replacesLink) {
        if (!ItemSteps(context).isOwnLink(home_->item(), record)) {
            ItemSteps(context).checkLink(record);
            throw EngineError::linkReplaced(record.originalPath);
        }
    } else if (!asCopy) {
        if (FileStat::peek(home_->item())) throw EngineError::destinationExists(record.originalPath);
    } else {
        // A folder's name has no extension to keep: "Photos.2019" becomes "Photos.2019 (from X)".
        destination.path = home_->named(uniqueSiblingPath(PathUtil::name(record.originalPath), *copySuffix,
                                                          home_->path(), !record.isDirectory));
    }
    return destination;
}

std::pair<int64_t, std::optional<std::vector<TreeEntry>>> RestoreExecutor::measureDriveCopy(
    const OffloadRecord& record, const std::string& root, const std::string& drivePath, const FileStat& driveStat,
    const std::string& destinationFolder) {
    cloneCandidates_.clear();
    const auto metadata = context.journal->recordedMetadata(record.id);
    const std::map<std::string, int64_t> sparse = metadata ? metadata->sparseEntries : std::map<std::string, int64_t>{};
    if (!record.isDirectory) return {bytesAtHome(driveStat, sparse, ""), std::nullopt};
    // The "._" metadata companions a drive without native metadata holds beside the
    // folder's files are not expected back unless the journal recorded them.
    auto walked = context.copier.walk(drivePath);
    std::set<std::string> recorded;
    std::map<std::string, const TreeEntry*> recordedFiles;
    const auto recordedEntries = context.journal->treeEntries(record.id);
    for (const auto& entry : recordedEntries) {
        recorded.insert(entry.path);
        if (entry.kind == TreeEntry::Kind::file && entry.sha256) recordedFiles[entry.path] = &entry;
    }
    // Files the journal saw with the content of an earlier one (reflinked copies, or just
    // copies) can share that one's blocks at home where its file system clones.
    const bool homeClones = platform::volumeSharesExtents(destinationFolder.c_str());
    std::set<std::string> contents;
    int64_t repeated = 0;
    std::set<std::string> sidecars;
    for (const auto& path : context.copier.sidecarPaths(walked, root))
        if (!recorded.count(path)) sidecars.insert(path);
    // The names the move recorded as one file come home as one: counted once.
    const auto groups = metadata ? metadata->linkGroups : std::map<std::string, int64_t>{};
    std::set<int64_t> counted;
    std::vector<TreeEntry> expected;
    int64_t measured = 0;
    for (auto& entry : walked) {
        if (sidecars.count(entry.path)) continue;
        auto group = groups.find(entry.path);
        if (group == groups.end() || counted.insert(group->second).second) {
            const auto file = entry.kind == TreeEntry::Kind::file && sparse.count(entry.path)
                                  ? FileStat::read(PathUtil::join(drivePath, entry.path))
                                  : std::nullopt;
            const int64_t bytes = file ? bytesAtHome(*file, sparse, entry.path) : entry.size;
            auto seen = entry.kind == TreeEntry::Kind::file ? recordedFiles.find(entry.path) : recordedFiles.end();
            const bool again = seen != recordedFiles.end() && seen->second->size == entry.size && entry.size > 0 &&
                               !contents.insert(*seen->second->sha256).second;
            if (again) {
                repeated += bytes;
                if (homeClones) cloneCandidates_[entry.path] = *seen->second->sha256;
            }
            if (!again || !homeClones) measured += bytes;
        }
        expected.push_back(std::move(entry));
    }
    if (repeated > 0 && !homeClones)
        context.journal->log(quoted(ItemName::display(record.originalPath)) +
                                 " holds copies of the same content that this computer's file system can't share, so "
                                 "each is written in full: bringing it back takes " + byteCountText(measured) + ".",
                             EventLevel::info, record.id);
    return {measured, std::move(expected)};
}

void RestoreExecutor::checkRoomOnThisComputer(int64_t needed, const std::string& destinationFolder) {
    const int64_t available = (availableBytes ? availableBytes(destinationFolder) : std::nullopt).value_or(0) -
                              context.configuration.computerReserveBytes;
    if (needed > available)
        throw EngineError::notEnoughSpaceOnComputer(needed, std::max<int64_t>(available, 0),
                                                    context.configuration.computerReserveBytes);
}

void RestoreExecutor::copyBack(const OffloadRecord& record, const std::string& root, const std::string& drivePath,
                               const FingerprintSnapshot& before, const std::optional<std::vector<TreeEntry>>&,
                               const std::string& workingCopy, const std::string& destination, bool replacesLink,
                               const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress) {
    Journal& journal = *context.journal;
    reach(FaultPoint::restoreRecorded, record, std::nullopt);

    bool reported = false;
    auto step = [&](int64_t bytesDone) {
        if (cancel && cancel->isCancelled()) throw CancellationError();
        if (progress) progress(bytesDone);
        if (!reported) {
            reported = true;
            reach(FaultPoint::restoreMidCopy, record, workingCopy);
        }
    };

    // Only content comes from the drive, which anyone who held it may have changed: modes,
    // owner, set-ID bits and ACLs come from the journal's record, ACLs only as it vouches
    // for them. User attributes grant nothing: from a drive only the user could write they
    // are the user's own, saved through the link, else they come only as the record
    // vouches for them. From a refused volume content counts only as it was moved.
    FileCopier copier = context.copier;
    copier.untrustedUmask = platform::ProcFS().ownUmask().value_or(077);
    copier.recorded = journal.recordedMetadata(record.id);
    const auto recordedEntries = record.isDirectory ? journal.treeEntries(record.id) : ItemMetadata::ofFile();
    const bool asRecorded = copier.recorded && located_->trusted() &&
                            ItemMetadata::digest(drivePath, recordedEntries) == copier.recorded->digest;
    const bool aclsAsRecorded = copier.recorded && located_->trusted() && !copier.recorded->aclDigest.empty() &&
                                ItemMetadata::aclDigest(drivePath, recordedEntries) == copier.recorded->aclDigest;
    copier.recordedACLs = asRecorded || aclsAsRecorded;
    copier.userAttributes = asRecorded || contentIsTheUsers_;
    noteMetadata(record, copier, drivePath, recordedEntries);
    // Changed content is the user's own edit only where nobody else could have made it.
    auto requireAsMoved = [&](const std::string& digest) {
        if (contentIsTheUsers_ || (record.checksum && digest == *record.checksum)) return;
        throw EngineError::driveUntrusted(
            changedOnRefusedText(ItemName::display(record.originalPath), *located_, exposure_));
    };

    std::string restoreChecksum;
    bool driveChanged = false;
    if (!record.isDirectory) {
        const std::string digest = copier.copyFile(drivePath, workingCopy, true, step);
        requireAsMoved(digest);
        // The copy must read back as the bytes that left the drive. Named after the item,
        // not the hidden working copy, which means nothing to the user.
        if (Checksum::sha256OfFile(workingCopy, static_cast<size_t>(context.copier.chunkSize)) != digest)
            throw EngineError::checksumMismatch(record.originalPath);
        if (record.checksum && digest != *record.checksum) {
            if (Checksum::sha256OfFile(drivePath, rereadChunkSize) != digest)
                throw EngineError::driveCopyCorrupted(record.originalPath);
            // Content that differs from the record counts as changed unless the drive copy
            // was saved (through its link) after the move.
            auto item = before.fingerprints.find("");
            driveChanged = item == before.fingerprints.end() || !(item->second.modificationDate() > record.createdAt);
        }
        restoreChecksum = digest;
    } else {
        copier.leaveOut = leftLinks_;
    copier.cloneCandidates = cloneCandidates_;
    copier.cloneAllowance = roomBeyondCount_;
        const auto entries = [&] {
            try {
                return copier.copyTree(drivePath, workingCopy, step);
            } catch (const EngineError& error) {
                // Files counted once turned out to need room of their own: the whole figures.
                if (error.kind() != EngineError::Kind::notEnoughSpaceOnComputer || !roomBeyondCount_) throw;
                throw EngineError::notEnoughSpaceOnComputer(counted_ + error.needed(), counted_ + error.available());
            }
        }();
        requireAsMoved(TreeManifest{entries}.digest());
        checkCopiedShapes(record, entries, recordedEntries);
        try {
            copier.verify(workingCopy, entries);
        } catch (const EngineError& error) {
            if (error.kind() == EngineError::Kind::checksumMismatch)
                throw EngineError::checksumMismatch(record.originalPath);
            throw;
        }
        restoreChecksum = TreeManifest{entries}.digest();
        if (!record.checksum || *record.checksum != restoreChecksum)
            driveChanged = compareRestoredTree(entries, recordedEntries, record, before, drivePath);
    }

    const uint32_t savedFlags = clearLockFlags(workingCopy);
    journal.setRestoreChecksum(record.id, restoreChecksum);
    reach(FaultPoint::restoreVerified, record, workingCopy);
    if (cancel && cancel->isCancelled()) throw CancellationError();

    if (destination != home_->item()) {
        finishAsCopy(record, root, drivePath, before, driveChanged, workingCopy, destination, savedFlags);
        return;
    }

    std::optional<IconPlace> icon = context.icons ? context.icons->place(record.originalPath) : std::nullopt;
    // The icon goes back to its place however the swap ends; losing the place is no error.
    auto placeIcon = [&] {
        if (!icon) return;
        try {
            context.icons->restore(*icon, record.originalPath);
        } catch (const std::exception&) {
        }
    };
    try {
        journal.setPhase(record.id, Phase::restoreSwapping);
        putInPlace(record, workingCopy, replacesLink);
        restoreLockFlags(home_->item(), savedFlags);
        platform::flushFolder(home_->path());
        reach(FaultPoint::restoreSwapped, record, std::nullopt);
        finishInPlace(record, root, drivePath, before, driveChanged);
    } catch (...) {
        placeIcon();
        throw;
    }
    placeIcon();
}

void RestoreExecutor::putInPlace(const OffloadRecord& record, const std::string& workingCopy, bool replacesLink) {
    const std::string original = home_->item();
    if (!replacesLink) {
        renameExclusive(workingCopy, original);
        return;
    }
    clearLockFlags(original);
    if (swapItems(workingCopy, original)) {
        if (!isLinkToDriveCopy(workingCopy, record)) {
            // Something else took the link's place meanwhile: it goes back, untouched.
            swapItems(workingCopy, original);
            throw EngineError::linkReplaced(record.originalPath);
        }
        reach(FaultPoint::restoreSwapped, record, workingCopy);
        removeFile(workingCopy);
        return;
    }
    // No exchange here: move the link aside, check it is ours, then move the copy in.
    const std::string linkName = home_->working(TemporaryKind::link, record.id);
    if (isLinkToDriveCopy(linkName, record)) removeFile(linkName);
    renameExclusive(original, linkName);
    if (!isLinkToDriveCopy(linkName, record)) {
        renameExclusive(linkName, original);
        throw EngineError::linkReplaced(record.originalPath);
    }
    reach(FaultPoint::restoreLinkRemoved, record, linkName);
    renameExclusive(workingCopy, original);
    removeFile(linkName);
}

bool RestoreExecutor::driveCopyUnchanged(const OffloadRecord& record, const std::string& drivePath,
                                         const FingerprintSnapshot& before) {
    // Not judged from the folder a drive that went away was mounted at: the restore stops
    // and recovery looks again once the drive is back.
    located_->confirm();
    try {
        if (!unchangedSince(before, Fingerprint::snapshot(drivePath, record.isDirectory))) return false;
        return !context.openFiles || context.openFiles->usage(realDrivePath_).empty();
    } catch (const std::exception&) {
        // A drive copy that can't be looked at now (gone, unplugged) is not known to be unchanged.
        return false;
    }
}

void RestoreExecutor::finishInPlace(const OffloadRecord& record, const std::string& root,
                                    const std::string& drivePath, const FingerprintSnapshot& before,
                                    bool driveChanged) {
    Journal& journal = *context.journal;
    const std::string name = ItemName::display(record.originalPath);
    if (driveChanged) {
        journal.setPhase(record.id, Phase::returned, returnedText(name));
        journal.log(returnedText(name), EventLevel::warning, record.id);
        return;
    }
    if (leftOnDriveText_) {
        keepBoth(record, leftOnDriveText_);
        return;
    }
    if (!driveCopyUnchanged(record, drivePath, before)) {
        keepBoth(record, std::nullopt);
        return;
    }
    journal.setPhase(record.id, Phase::restoreCleanup);
    if (!deleteDriveCopy(record, root, drivePath)) return;
    reach(FaultPoint::restoreDriveCopyDeleted, record, std::nullopt);
    journal.setPhase(record.id, Phase::restored);
    journal.log("Brought back " + quoted(name) + " (" + byteCountText(record.size) + ") to your computer.",
                EventLevel::info, record.id);
    noteUntrusted(record);
    ItemSteps(context).appendManifestEntry(record, DriveManifest::Entry::Event::restored, *located_);
}

void RestoreExecutor::finishAsCopy(const OffloadRecord& record, const std::string& root,
                                   const std::string& drivePath, const FingerprintSnapshot& before,
                                   bool driveChanged, const std::string& workingCopy, const std::string& destination,
                                   uint32_t savedFlags) {
    Journal& journal = *context.journal;
    const std::string name = ItemName::display(record.originalPath);
    if (!driveCopyUnchanged(record, drivePath, before)) {
        PathUtil::removeTree(workingCopy);
        throw EngineError::sourceChanged(drivePath);
    }
    renameExclusive(workingCopy, destination);
    restoreLockFlags(destination, savedFlags);
    platform::flushFolder(PathUtil::parent(destination));
    if (driveChanged) {
        journal.setPhase(record.id, Phase::returned, returnedText(name));
        journal.log(returnedText(name), EventLevel::warning, record.id);
        return;
    }
    if (leftOnDriveText_) {
        keepBoth(record, leftOnDriveText_);
        return;
    }
    journal.setPhase(record.id, Phase::restoreCleanup);
    if (!deleteDriveCopy(record, root, drivePath)) return;
    journal.setPhase(record.id, Phase::restored);
    journal.log("Brought back the copy of " + quoted(name) + " as " + quoted(PathUtil::name(destination)) + ".",
                EventLevel::info, record.id);
    noteUntrusted(record);
    ItemSteps(context).appendManifestEntry(record, DriveManifest::Entry::Event::restored, *located_);
}

bool RestoreExecutor::deleteDriveCopy(const OffloadRecord& record, const std::string&, const std::string&) {
    if (located_->trusted()) {
        ItemSteps(context).removeFromDrive(realDrivePath_, record, *located_);
        return true;
    }
    // On a refused volume the item's own copy is removed where the user may remove it;
    // where that fails the item stays home and the copy on the drive.
    const std::string name = ItemName::display(record.originalPath);
    try {
        ItemSteps(context).removeFromDrive(realDrivePath_, record, *located_);
        return true;
    } catch (const POSIXFailure& failure) {
        if (failure.code() == EROFS) {
            // Recovery's pending deletions finish it once the volume can be written.
            context.journal->log("Brought back " + quoted(name) +
                                     ". Its copy on the drive will be removed once the drive can be written to.",
                                 EventLevel::info, record.id);
            return false;
        }
        keepBoth(record, quoted(name) + " is back on your computer. Its copy stays on the drive, because Keldwick "
                                        "couldn't remove it there (" +
                             std::string(failure.what()) + ").");
        return false;
    }
}

void RestoreExecutor::refuseChangedShape(const OffloadRecord& record, const std::vector<TreeEntry>& found,
                                         const std::vector<TreeEntry>& recorded) {
    const auto changed = ItemMetadata::firstChangedShape(found, recorded);
    if (!changed) return;
    const std::string name = ItemName::display(record.originalPath);
    throw EngineError::driveUntrusted(quoted(changed->path) + " in " + quoted(name) + " was " + changed->was +
                                      " when it was moved and is now " + changed->now + ", so " + quoted(name) +
                                      " stays on the drive, and nothing of it came back.");
}

void RestoreExecutor::planShapes(const OffloadRecord& record, const std::vector<TreeEntry>& found,
                                 const std::vector<TreeEntry>& recorded, const Destination& destination) {
    refuseChangedShape(record, found, recorded);
    const std::string name = ItemName::display(record.originalPath);
    if (!contentIsTheUsers_) {
        // Whatever was added there may be somebody else's: the item stays, as a changed copy does.
        std::set<std::string> paths;
        for (const auto& entry : recorded) paths.insert(entry.path);
        const bool added = !recorded.empty() && std::any_of(found.begin(), found.end(), [&](const TreeEntry& entry) {
            return !paths.count(entry.path);
        });
        if (added) throw EngineError::driveUntrusted(changedOnRefusedText(name, *located_, exposure_));
        for (const auto& link : ItemMetadata::addedLinks(found, recorded)) leftLinks_.insert(link.path);
        if (!leftLinks_.empty())
            throw EngineError::driveUntrusted(changedOnRefusedText(name, *located_, exposure_));
        return;
    }
    const auto entries = entriesByPath(found);
    const std::string& home = record.originalPath;
    auto insideHome = [&](const std::string& path) { return path == home || PathUtil::isInside(path, home); };
    std::vector<std::pair<std::string, std::string>> left;  // path, why
    for (const auto& link : ItemMetadata::addedLinks(found, recorded)) {
        const std::string target = link.target.value_or("");
        bool inside = !target.empty() && AddedLinks::staysInside(entries, link.path, target);
        std::string place;
        if (!inside && !target.empty()) {
            const std::string linkFolder = PathUtil::parent(PathUtil::join(home, link.path));
            place = AddedLinks::lexicallyNormal(target.front() == '/' ? target : linkFolder + "/" + target);
            // An absolute link into the item names it where it comes home, not where a copy arrives.
            if (insideHome(place) && destination.path == home)
                inside = AddedLinks::staysInside(entries, "", place == home ? "." : place.substr(home.size() + 1));
        }
        if (inside) {
            takenLinks_[link.path] = target;
            continue;
        }
        std::optional<std::string> why;
        if (target.empty()) {
            why = "points nowhere";
        } else if (insideHome(place)) {
            // Judged at home, it would be looked up through the item's own link to the drive.
            why = "leads back into " + quoted(name) + " by a way Keldwick can't check";
        } else if (auto refusal = AddedLinks::judgePlace(place, platform::effectiveUserID())) {
            why = *refusal == AddedLinks::Refusal::missing ? "points to a place that isn't on this computer"
                  : *refusal == AddedLinks::Refusal::fileOthersCanChange
                      ? "points to a file another user can change"
                      : "points to a folder another user can change";
        }
        if (!why) {
            takenLinks_[link.path] = target;
            continue;
        }
        leftLinks_.insert(link.path);
        left.emplace_back(link.path, *why);
    }
    if (left.empty()) return;
    std::string text;
    if (left.size() == 1) {
        text = quoted(left.front().first) + " in " + quoted(name) + " " + left.front().second +
               ", so it was left on your drive.";
    } else {
        std::string names;
        for (size_t i = 0; i < left.size(); ++i)
            names += (i == 0 ? "" : i + 1 == left.size() ? " and " : ", ") + quoted(left[i].first);
        text = "Links in " + quoted(name) + " that point to places another user can change, or that aren't on this "
               "computer, were left on your drive: " + names + ".";
    }
    leftOnDriveText_ = text + " The rest of " + quoted(name) + " is back on your computer.";
}

void RestoreExecutor::checkCopiedShapes(const OffloadRecord& record, const std::vector<TreeEntry>& copied,
                                        const std::vector<TreeEntry>& recorded) {
    refuseChangedShape(record, copied, recorded);
    const std::string name = ItemName::display(record.originalPath);
    for (const auto& link : ItemMetadata::addedLinks(copied, recorded)) {
        auto judged = takenLinks_.find(link.path);
        if (judged != takenLinks_.end() && judged->second == link.target) continue;
        throw EngineError::driveUntrusted(quoted(link.path) + " in " + quoted(name) +
                                          " changed on the drive while it was being brought back, so " + quoted(name) +
                                          " stays on the drive, and nothing of it came back.");
    }
}

void RestoreExecutor::noteMetadata(const OffloadRecord& record, const FileCopier& copier,
                                   const std::string& drivePath, const std::vector<TreeEntry>& recordedEntries) {
    const std::string name = quoted(ItemName::display(record.originalPath));
    if (!copier.recorded) {
        context.journal->log(name + (copier.userAttributes ? " comes back with its tags and other attributes but no "
                                                             "set-ID bit or ACL from the drive"
                                                           : " comes back with no set-ID bit, ACL or attribute from the "
                                                             "drive") +
                                 ", and with permissions no wider than your umask allows: Keldwick has no record of "
                                 "what they were.",
                             EventLevel::info, record.id);
        return;
    }
    if (!located_->trusted()) return;
    if (!copier.userAttributes) {
        context.journal->log(name + (copier.recordedACLs ? " comes back without the attributes"
                                                         : " comes back without the ACLs and attributes") +
                                 " its copy on the drive has now: they changed on the drive since it was moved.",
                             EventLevel::warning, record.id);
    } else if (!copier.recordedACLs &&
               (!copier.recorded->aclDigest.empty() || ItemMetadata::hasACLs(drivePath, recordedEntries))) {
        context.journal->log(name + " comes back without the ACLs its copy on the drive has now: they changed on the "
                                    "drive since it was moved.",
                             EventLevel::warning, record.id);
    }
}

void RestoreExecutor::noteUntrusted(const OffloadRecord& record) {
    if (located_->trusted()) return;
    context.journal->log(quoted(ItemName::display(record.originalPath)) +
                             " came back from a volume Keldwick doesn't use for new moves: its content matched what "
                             "was moved, and it took no permissions, owner or attributes from the drive.",
                         EventLevel::info, record.id);
}

void RestoreExecutor::keepBoth(const OffloadRecord& record, const std::optional<std::string>& message) {
    const std::string text = message.value_or("The copy on your drive changed while " +
                                              quoted(ItemName::display(record.originalPath)) +
                                              " was being brought back, so both were kept: one on your computer, one on "
                                              "the drive.");
    context.journal->setPhase(record.id, Phase::returned, text);
    context.journal->log(text, EventLevel::warning, record.id);
}

bool RestoreExecutor::compareRestoredTree(const std::vector<TreeEntry>& copied,
                                          const std::vector<TreeEntry>& recorded, const OffloadRecord& record,
                                          const FingerprintSnapshot& before, const std::string& drivePath) {
    const auto copies = entriesByPath(copied);
    const bool ordinary = !AndroidDevices::isDeviceFolder(record.originalPath) && !DevelopmentRule::isProject(drivePath);
    auto savedAfterMove = [&](const std::string& path) {
        auto found = before.fingerprints.find(path);
        return found != before.fingerprints.end() && found->second.modificationDate() > record.createdAt;
    };
    bool changed = false;
    for (const auto& entry : recorded) {
        if (entry.kind != TreeEntry::Kind::file || !entry.sha256) continue;
        auto copy = copies.find(entry.path);
        if (copy != copies.end()) {
            if (copy->second.sha256 == entry.sha256) continue;
            const std::string driveFile = PathUtil::join(drivePath, entry.path);
            if (Checksum::sha256OfFile(driveFile, rereadChunkSize) != copy->second.sha256)
                throw EngineError::driveCopyCorrupted(record.originalPath);
            if (ordinary && !savedAfterMove(entry.path)) changed = true;
            continue;
        }
        if (!ordinary) continue;
        // Deleted through the link after the move: its folder's date says so.
        std::string folder = entry.path;
        for (;;) {
            auto slash = folder.rfind('/');
            folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
            if (before.fingerprints.count(folder) || folder.empty()) break;
        }
        if (!savedAfterMove(folder)) changed = true;
    }
    return changed;
}

}  // namespace keldwick
