// The small helpers of recovery's repairs: digests of drive copies, deferrals, putting an
// original back.

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "drives/DriveLayout.h"
#include "engine/DrivePath.h"
#include "engine/RecoveryManager.h"
#include "engine/RecoveryTexts.h"
#include "foundation/Checksum.h"
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

constexpr size_t digestChunkSize = 4'194'304;

}  // namespace

// --- Helpers of the repairs.

std::optional<LocatedDrive::Place> RecoveryManager::onDrive(const OffloadRecord& record, const std::string& root) {
    auto drive = heldDrive(record.driveID);
    if (!drive || drive->root() != root) throw EngineError::driveUnavailable();
    return reached(*drive, record.drivePath(root));
}

bool RecoveryManager::driveCopyIsThere(const OffloadRecord& record, const std::string& root) {
    const auto place = onDrive(record, root);
    return place && FileStat::peek(place->path()).has_value();
}

std::optional<std::string> RecoveryManager::refusedVolume(const OffloadRecord& record) {
    auto drive = heldDrive(record.driveID);
    if (!drive || drive->trusted()) return std::nullopt;
    std::string text = "Keldwick won't use the volume at " + drive->root() + ".";
    if (drive->refusal()) text += " " + drive->refusal()->explanation();
    return text;
}

bool RecoveryManager::driveIsTrusted(const OffloadRecord& record) {
    auto drive = heldDrive(record.driveID);
    return drive && drive->trusted();
}

std::string RecoveryManager::digestOfDriveCopy(const OffloadRecord& record, const std::string& root) {
    const auto place = onDrive(record, root);
    if (!place) throw EngineError::driveCopyMissing(record.originalPath);
    const std::string path = place->path();
    if (!record.isDirectory) return Checksum::sha256OfFile(path, digestChunkSize);
    std::set<std::string> own;
    for (const auto& entry : treeOf(record)) own.insert(entry.path);
    std::set<std::string> excluded;
    auto walked = context.copier.walk(path, FileCopier::SpecialFiles::skip);
    for (const auto& sidecar : context.copier.sidecarPaths(walked, root))
        if (!own.contains(sidecar)) excluded.insert(sidecar);
    return TreeManifest{context.copier.hashedEntries(path, std::move(walked), excluded)}.digest();
}

bool RecoveryManager::isOwnDriveCopy(const OffloadRecord& record, const std::string& root) {
    if (!record.checksum) return false;
    const auto place = onDrive(record, root);
    if (!place) return false;
    auto status = FileStat::peek(place->path());
    if (!status || status->isDirectory() != record.isDirectory || status->isSymlink()) return false;
    return digestOfDriveCopy(record, root) == *record.checksum;
}

bool RecoveryManager::isRecordedItem(const std::string& path, const OffloadRecord& record) {
    auto status = FileStat::peek(path);
    if (!status || status->isSymlink()) return false;
    if (record.originalIdentity && itemIdentity(*status) == *record.originalIdentity) return true;
    return matchesChecksum(path, record);
}

bool RecoveryManager::matchesRestoreChecksum(const std::string& path, const OffloadRecord& record) {
    const auto& expected = record.restoreChecksum ? record.restoreChecksum : record.checksum;
    if (!expected) return false;
    auto status = FileStat::peek(path);
    if (!status || status->isDirectory() != record.isDirectory || status->isSymlink()) return false;
    return digestOf(path, record.isDirectory) == *expected;
}

bool RecoveryManager::driveCopyStands(const OffloadRecord& record, const std::optional<std::string>& root) {
    if (!root) return false;
    // Reached from the held folder, which refuses a link, another file system or ".."
    // on the way as the path's own check would.
    try {
        onDrive(record, *root);
    } catch (const POSIXFailure&) {
        return false;
    }
    // The whole digest, not sizes: after an unclean unplug, or behind a bridge that
    // dropped a flush, a damaged copy keeps its size.
    return isOwnDriveCopy(record, *root);
}

std::shared_ptr<const HomeFolder> RecoveryManager::homeOf(const OffloadRecord& record) const {
    if (heldHome_ && heldHome_->itemPath() == record.originalPath) return heldHome_;
    return std::make_shared<const HomeFolder>(record.originalPath);
}

void RecoveryManager::putOriginalBack(const OffloadRecord& record, const std::string& displaced,
                                      const HomeFolder& home) {
    if (!FileStat::peek(home.item()))
        renameExclusive(displaced, home.item());
    else if (!replaceOwnLink(record, displaced, home))
        keepBeside(record, displaced, home.path());
}

std::optional<RecoveryResult> RecoveryManager::deferUnlessDriveCopyStands(const OffloadRecord& record,
                                                                          const std::optional<std::string>& root,
                                                                          const std::string& displaced,
                                                                          const HomeFolder& home) {
    if (!FileStat::peek(displaced)) return std::nullopt;  // nothing left to delete
    if (!root) {
        context.journal->log(quoted(ItemName::display(record.originalPath)) +
                                 " is on your drive. Its original stays on your computer until the drive is connected "
                                 "and its copy there can be checked.",
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::deferred, RecoveryTexts::driveNotConnected);
    }
    if (driveCopyStands(record, root)) return std::nullopt;
    const std::string drivePath = record.drivePath(*root);
    const auto place = DrivePath::isBeneath(*root, drivePath) ? onDrive(record, *root) : std::nullopt;
    if (place && FileStat::peek(place->path())) {
        // A copy stands there but isn't the one verified: the original takes the link's
        // place again and the move is undone.
        putOriginalBack(record, displaced, home);
        return rollBackOffload(record, EngineError::checksumMismatch(record.originalPath).message());
    }
    const std::string detail = EngineError::driveCopyMissing(record.originalPath).message();
    context.journal->log(detail + " Its original stays on your computer.",
                         EventLevel::warning, record.id);
    return result(record, RecoveryAction::deferred, detail);
}

void RecoveryManager::removeDriveCopy(const OffloadRecord& record, const std::string& root) {
    auto drive = heldDrive(record.driveID);
    if (!drive || drive->root() != root) throw EngineError::driveUnavailable();
    // Every deletion beneath the Keldwick folder held, never one put in its place.
    drive->confirm();
    const auto place = reached(*drive, record.drivePath(root));
    if (!place) return;
    const std::string drivePath = place->path();
    PathUtil::removeTree(temporaryPath(drivePath, TemporaryKind::partial, record.id));
    PathUtil::removeTree(temporaryPath(drivePath, TemporaryKind::trash, record.id));
    if (FileStat::peek(drivePath)) {
        if (isOwnDriveCopy(record, root))
            clearAway(drivePath, record);
        else
            context.journal->log("Left what's at " + quoted(ItemName::display(record.originalPath)) +
                                     "'s place on the drive alone: it isn't the copy Keldwick made.",
                                 EventLevel::warning, record.id);
    }
    flushDriveDeletions(drive->appFolder(), place->removeEmptyFolders());
}

RecoveryResult RecoveryManager::finishMove(const OffloadRecord& record) {
    context.journal->setPhase(record.id, Phase::offloaded);
    context.journal->log("Finished moving " + quoted(ItemName::display(record.originalPath)) + " after an interruption.",
                         EventLevel::info, record.id);
    // A refused volume gets no new line: the item comes back from it checked against the journal.
    if (auto root = mountPoint(record.driveID); root && driveIsTrusted(record)) {
        OffloadRecord finished = record;
        finished.phase = Phase::offloaded;
        appendManifestEntry(finished, DriveManifest::Entry::Event::offloaded, *root);
    }
    return result(record, RecoveryAction::rolledForward);
}

}  // namespace keldwick
