// The repair of each phase in which a move or a restore can be cut short. Each looks at
// what is really at the original path, at the working names and on the drive, decides
// whether the step its phase announces happened, and finishes the road or walks it back.

#include <cerrno>
#include <map>

#include "engine/HomeFolder.h"
#include "engine/RecoveryManager.h"
#include "engine/RecoveryTexts.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

using RecoveryTexts::quoted;

namespace {


bool itemAt(const std::string& path) { return FileStat::peek(path).has_value(); }

bool nonLinkItemAt(const std::string& path) {
    auto status = FileStat::peek(path);
    return status && !status->isSymlink();
}

}  // namespace

// --- The offload road.

RecoveryResult RecoveryManager::rollBackOffload(const OffloadRecord& record, const Failure& failure) {
    const auto home = homeOf(record);
    if (isOwnLink(home->item(), record)) return resolveOffloadSwap(record, failure);
    unlinkIfOurs(home->working(TemporaryKind::link, record.id), record);
    auto root = mountPoint(record.driveID);

    bool undoOnDrive = root.has_value();
    if (!itemAt(home->item()) && record.checksum && root && driveCopyIsThere(record, *root))
        return markRecord(record,
                          "It disappeared from your computer while it was being moved. The copy on your drive was kept.",
                          Phase::linkMissing, RecoveryAction::markedLinkMissing);
    if (!undoOnDrive) {
        context.journal->log(quoted(ItemName::display(record.originalPath)) +
                                 " stayed on your computer. Its unfinished copy will be removed from the drive when it's "
                                 "connected.",
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::deferred, RecoveryTexts::driveNotConnected);
    }
    if (auto refused = refusedVolume(record)) {
        // Nothing is changed on a refused volume: the item is whole here, and what the
        // move left there stays with everything else on it.
        context.journal->setPhase(record.id, Phase::abandoned, failure);
        context.journal->log("Undid the unfinished move of " + quoted(ItemName::display(record.originalPath)) +
                                 ". It's still on your computer; its unfinished copy stays on the drive. " + *refused,
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::rolledBack);
    }

    // The original's place (it may just have been put back) must outlast a power cut
    // before the drive copy goes; a folder that is gone holds nothing to keep.
    std::optional<std::string> place = PathUtil::parent(record.originalPath);
    if (!itemAt(*place)) place.reset();
    return afterDurable(record, place, [] {}, [this, record, root, failure] {
        removeDriveCopy(record, *root);
        context.journal->setPhase(record.id, Phase::abandoned, failure);
        context.journal->log("Undid the unfinished move of " + quoted(ItemName::display(record.originalPath)) +
                                 ". It's still on your computer.",
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::rolledBack);
    });
}

RecoveryResult RecoveryManager::resolveOffloadSwap(const OffloadRecord& record, const Failure& failure) {
    // Every look and step in the item's folder as held here.
    const auto held = homeOf(record);
    const HomeFolder& home = *held;
    const std::string original = home.item();
    const std::string staged = home.working(TemporaryKind::link, record.id);
    const std::string trash = home.working(TemporaryKind::trash, record.id);
    const std::string displaced = record.isDirectory ? trash : staged;

    if (isOwnLink(original, record)) {
        // The swap happened: the link stands, the original was set aside.
        auto aside = FileStat::peek(displaced);
        if (!aside || aside->isSymlink()) {
            unlinkIfOurs(staged, record);
            return finishMove(record);
        }
        if (!matchesChecksum(displaced, record)) {
            if (!record.isDirectory) {
                // The version on this computer takes the link's place again; the move is undone.
                putOriginalBack(record, displaced, home);
                return rollBackOffload(record, EngineError::sourceChanged(record.originalPath).message());
            }
            std::string message = keepChangedFolder(record, displaced, home.path());
            context.journal->setPhase(record.id, Phase::offloaded);
            context.journal->log(message, EventLevel::warning, record.id);
            return result(record, RecoveryAction::rolledForward, message);
        }
        if (refusedVolume(record)) {
            // No move is finished onto a refused volume: the original, whole, takes the
            // link's place again.
            putOriginalBack(record, displaced, home);
            return rollBackOffload(record, failure);
        }
        if (record.isDirectory) {
            // The folder's deletion is only ever finished from this phase.
            OffloadRecord cleaning = record;
            cleaning.phase = Phase::offloadCleanup;
            return afterDurable(
                record, std::nullopt, [this, id = record.id] { context.journal->setPhase(id, Phase::offloadCleanup); },
                [this, cleaning] { return finishOffloadCleanup(cleaning); });
        }
        if (auto deferred = deferUnlessDriveCopyStands(record, mountPoint(record.driveID), displaced, home))
            return *deferred;
        PathUtil::removeTree(displaced);
        // The set-aside file's removal must outlast a power cut before the move counts as
        // finished: nothing would look for it at its working name afterwards.
        return afterDurable(record, PathUtil::parent(record.originalPath), [] {},
                            [this, record] { return finishMove(record); });
    }

    if (!itemAt(original)) {
        if (nonLinkItemAt(displaced)) {
            renameExclusive(displaced, original);
            return rollBackOffload(record, failure);
        }
        if (isLinkToDriveCopy(staged, record)) {
            renameExclusive(staged, original);
            context.journal->setPhase(record.id, Phase::offloaded);
            return result(record, RecoveryAction::rolledForward);
        }
        return recreateLink(record, original);
    }

    // Another item stands at the original path: the original itself when the swap never
    // happened, or a new item that took the link's place after it. Whatever was set
    // aside is kept where the user can see it before the move is undone.
    const bool linkStillWaiting = isLinkToDriveCopy(staged, record);
    unlinkIfOurs(staged, record);
    std::optional<std::string> kept;
    if (record.isDirectory && itemAt(trash)) kept = keepBeside(record, trash, home.path());
    if (!record.isDirectory && nonLinkItemAt(staged)) kept = keepBeside(record, staged, home.path());
    // Undoing the move deletes the drive copy, so the moved item must be proven to be on
    // this machine: the swap never happened (its link still waits beside the item), or
    // the item at the original path or the one just kept beside it is the recorded item
    // or has its digest. Anything else there (a new version, or an older file put back,
    // which keeps its dates) leaves the drive copy as the moved version's only copy.
    if (!linkStillWaiting && !isRecordedItem(original, record) && !(kept && isRecordedItem(*kept, record)))
        return markRecord(record, RecoveryTexts::anotherFile, Phase::returned, RecoveryAction::markedReturned);
    return rollBackOffload(record, failure);
}

RecoveryResult RecoveryManager::finishOffloadCleanup(const OffloadRecord& record) {
    const auto held = homeOf(record);
    const HomeFolder& home = *held;
    const std::string trash = home.working(TemporaryKind::trash, record.id);
    auto root = mountPoint(record.driveID);
    if (auto deferred = deferUnlessDriveCopyStands(record, root, trash, home)) return *deferred;
    std::optional<std::string> changedMessage = deleteDisplacedFolder(record, trash, home.path());
    finishMove(record);
    if (auto again = context.journal->record(record.id)) {
        RecoveryResult linkResult = checkLink(*again);
        if (linkResult.action != RecoveryAction::unchanged) return linkResult;
    }
    return result(record, RecoveryAction::rolledForward, changedMessage);
}

RecoveryResult RecoveryManager::recreateLink(const OffloadRecord& record, const std::string& at) {
    auto root = mountPoint(record.driveID);
    if (!root || !driveCopyIsThere(record, *root))
        return result(record, RecoveryAction::deferred, RecoveryTexts::driveNotConnected);
    // The link leads to the drive where it is mounted, not through the folder held.
    const std::string target = record.drivePath(*root);
    if (platform::calls().symlinkAt(target.c_str(), AT_FDCWD, at.c_str()) != 0)
        throw POSIXFailure("symlink", record.originalPath, errno);
    context.journal->setPhase(record.id, Phase::offloaded);
    context.journal->log("Re-created the link for " + quoted(ItemName::display(record.originalPath)) + "; it's on the drive.",
                         EventLevel::info, record.id);
    return result(record, RecoveryAction::rolledForward);
}

void RecoveryManager::keepDifferingOriginal(const OffloadRecord& record, const std::string& displaced,
                                            const std::string& folder) {
    const std::string kept = renameBeside(record, displaced, folder);
    context.journal->log("The copy of " + quoted(ItemName::display(record.originalPath)) +
                             " on your drive is no longer the one Keldwick checked, so its original was kept next "
                             "to its shortcut as " +
                             quoted(PathUtil::name(kept)) + ".",
                         EventLevel::warning, record.id);
}

// --- The restore road.

std::optional<RecoveryResult> RecoveryManager::removeFromRefusedVolume(const OffloadRecord& record,
                                                                       const std::string& root,
                                                                       const std::string& refused) {
    const std::string name = quoted(ItemName::display(record.originalPath));
    // Only the item's own copy goes: what stands at its place there must be what came back.
    const auto& expected = record.restoreChecksum ? record.restoreChecksum : record.checksum;
    const auto place = onDrive(record, root);
    auto status = place ? FileStat::peek(place->path()) : std::nullopt;
    if (status && !status->isSymlink() && (!expected || digestOfDriveCopy(record, root) != *expected))
        return markRecord(record,
                          name + " is back on your computer. What is at its place on the drive isn't its copy any "
                                 "more, so Keldwick left it there. " + refused,
                          Phase::returned, RecoveryAction::markedReturned);
    try {
        if (status) removeFromDrive(record.drivePath(root), record, root);
    } catch (const POSIXFailure& failure) {
        if (failure.code() == EROFS) {
            // The record stays in cleanup: the next recovery removes the copy once the volume can be written.
            context.journal->log("Brought back " + name +
                                     ". Its copy on the drive will be removed once the drive can be written to.",
                                 EventLevel::info, record.id);
            return result(record, RecoveryAction::deferred, std::string(failure.what()));
        }
        return markRecord(record,
                          name + " is back on your computer. Its copy stays on the drive, because Keldwick couldn't "
                                 "remove it there (" + failure.what() + ").",
                          Phase::returned, RecoveryAction::markedReturned);
    }
    return std::nullopt;
}

RecoveryResult RecoveryManager::resolveRestoreCopy(const OffloadRecord& record, const Failure& failure) {
    const auto home = homeOf(record);
    if (isOwnLink(home->item(), record)) {
        context.journal->setPhase(record.id, Phase::offloaded, failure);
        context.journal->log("The restore of " + quoted(ItemName::display(record.originalPath)) +
                                 " was interrupted. It's still on the drive and its link still works.",
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::rolledBack);
    }
    if (!itemAt(home->item()))
        return markRecord(record, RecoveryTexts::shortcutDeleted, Phase::linkMissing,
                          RecoveryAction::markedLinkMissing);
    return markRecord(record, RecoveryTexts::anotherFile, Phase::returned, RecoveryAction::markedReturned);
}

RecoveryResult RecoveryManager::resolveRestoreSwap(const OffloadRecord& record, const Failure& failure) {
    // Every look and step in the item's folder as held here.
    const auto held = homeOf(record);
    const HomeFolder& home = *held;
    const std::string original = home.item();
    const std::string staged = home.working(TemporaryKind::link, record.id);
    const std::string restoreCopy = home.working(TemporaryKind::restore, record.id);
    const std::string name = PathUtil::name(record.originalPath);

    if (itemAt(staged) && !isLinkToDriveCopy(staged, record)) {
        const std::string kept =
            uniqueSiblingPath(name, RecoveryTexts::recoveredSuffix, home.path(), false);
        renameExclusive(staged, kept);
        context.journal->log("Found an item hidden at a working name and kept it as " + quoted(PathUtil::name(kept)) +
                                 ".",
                             EventLevel::warning, record.id);
    }

    if (isOwnLink(original, record)) {
        // The swap never happened.
        PathUtil::removeTree(restoreCopy);
        unlinkIfOurs(staged, record);
        return resolveRestoreCopy(record, failure);
    }

    if (itemAt(original)) {
        unlinkIfOurs(staged, record);
        if (isLinkToDriveCopy(restoreCopy, record)) {
            removeFile(restoreCopy);
            return finishRestoreAfterSwap(record);
        }
        if (!itemAt(restoreCopy)) return finishRestoreAfterSwap(record);
        // Both places hold an item: the restored one belongs at the original path, and
        // whatever else is kept beside it unless it is the restored bytes again.
        if (matchesRestoreChecksum(original, record)) swapItems(restoreCopy, original);
        if (!matchesRestoreChecksum(restoreCopy, record))
            renameExclusive(restoreCopy, uniqueSiblingPath(name, RecoveryTexts::restoredSuffix, home.path(), false));
        else
            PathUtil::removeTree(restoreCopy);
        return markRecord(record,
                          "An app saved a new version while it was being brought back. The newer version was kept; "
                          "the copy on your drive is older.",
                          Phase::returned, RecoveryAction::markedReturned);
    }

    if (nonLinkItemAt(restoreCopy)) {
        renameExclusive(restoreCopy, original);
        unlinkIfOurs(staged, record);
        return finishRestoreAfterSwap(record);
    }
    if (isLinkToDriveCopy(staged, record)) {
        renameExclusive(staged, original);
        return resolveRestoreCopy(record, failure);
    }
    // The restored item was taken away after the swap: the old link set aside at the
    // working name has no use left, and a new one stands in for the item.
    unlinkIfOurs(restoreCopy, record);
    return recreateLink(record, original);
}

// The restored item is in place; its drive copy waits for the drive.
RecoveryResult RecoveryManager::deferRestoreCleanup(const OffloadRecord& record) {
    context.journal->log(quoted(ItemName::display(record.originalPath)) +
                             " is back on your computer. Its old copy will be removed from the drive when it's connected.",
                         EventLevel::info, record.id);
    return result(record, RecoveryAction::deferred, RecoveryTexts::driveNotConnected);
}

RecoveryResult RecoveryManager::finishRestoreAfterSwap(const OffloadRecord& record) {
    auto root = mountPoint(record.driveID);
    if (!root) return deferRestoreCleanup(record);
    if (driveCopyIsThere(record, *root)) {
        const auto home = homeOf(record);
        auto restored = FileStat::peek(home->item());
        bool same = restored && !restored->isSymlink() && restored->isDirectory() == record.isDirectory &&
                    digestOfDriveCopy(record, *root) == digestOf(home->item(), record.isDirectory);
        if (!same)
            return markRecord(record,
                              quoted(ItemName::display(record.originalPath)) +
                                  " is back on your computer, but the copy on your drive is different, so both were kept.",
                              Phase::returned, RecoveryAction::markedReturned);
    }
    // The restored item's place must outlast a power cut before its drive copy goes, and
    // so must the phase: the drive copy goes unchecked from it on.
    OffloadRecord cleaning = record;
    cleaning.phase = Phase::restoreCleanup;
    return afterDurable(
        record, PathUtil::parent(record.originalPath),
        [this, id = record.id] { context.journal->setPhase(id, Phase::restoreCleanup); },
        [this, cleaning] { return finishRestoreCleanup(cleaning); });
}

RecoveryResult RecoveryManager::finishRestoreCleanup(const OffloadRecord& record) {
    auto root = mountPoint(record.driveID);
    if (!root) return deferRestoreCleanup(record);
    const std::string drivePath = record.drivePath(*root);
    if (auto refused = refusedVolume(record)) {
        if (auto settled = removeFromRefusedVolume(record, *root, *refused)) return *settled;
    } else {
        removeFromDrive(drivePath, record, *root);
    }
    context.journal->setPhase(record.id, Phase::restored);
    OffloadRecord finished = record;
    finished.phase = Phase::restored;
    appendManifestEntry(finished, DriveManifest::Entry::Event::restored, *root);
    context.journal->log("Finished restoring " + quoted(ItemName::display(record.originalPath)) + ".", EventLevel::info, record.id);
    return result(record, RecoveryAction::rolledForward);
}

}  // namespace keldwick
