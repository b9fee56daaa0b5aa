// The steps recovery shares with the executors, and the small helpers of its repairs.

#include <fcntl.h>
#include <unistd.h>

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

std::optional<std::string> RecoveryManager::mountPoint(const std::string& driveID) {
    if (!context.locator) return std::nullopt;
    try {
        return context.locator->mountPoint(driveID);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

RecoveryResult RecoveryManager::result(const OffloadRecord& record, RecoveryAction action,
                                       std::optional<std::string> detail) const {
    return RecoveryResult{record.id, ItemName::display(record.originalPath), action, std::move(detail)};
}

RecoveryResult RecoveryManager::markRecord(const OffloadRecord& record, const std::string& detail, Phase phase,
                                           RecoveryAction action) {
    context.journal->setPhase(record.id, phase, detail);
    context.journal->log(quoted(ItemName::display(record.originalPath)) + ": " + detail, EventLevel::warning, record.id);
    return result(record, action, detail);
}

void RecoveryManager::removeLeftovers(const std::string& path, const OffloadRecord& record) {
    // Only ever a path on the drive: never through a link or ".." out of it.
    auto root = mountPoint(record.driveID);
    if (!root) throw EngineError::driveUnavailable();
    DrivePath::requireBeneath(*root, path);
    const std::string trash = temporaryPath(path, TemporaryKind::trash, record.id);
    PathUtil::removeTree(trash);
    if (FileStat::peek(path)) {
        clearLockFlags(path);
        renameItem(path, trash);
        PathUtil::removeTree(trash);
    }
}

void RecoveryManager::removeFromDrive(const std::string& drivePath, const OffloadRecord& record,
                                      const std::string& root) {
    removeLeftovers(drivePath, record);
    removeEmptyParents(PathUtil::parent(drivePath), PathUtil::join(root, DriveLayout::folderName(root)));
    flushDriveDeletions(root);
}

void RecoveryManager::appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                                          const std::string& root,
                                          const std::optional<std::vector<TreeEntry>>& entries) noexcept {
    try {
        // Never into the folder a drive that went away was mounted at.
        if (mountPoint(record.driveID) != root) throw EngineError::driveUnavailable();
        DriveManifest::Entry entry;
        entry.version = 1;
        entry.mac = context.configuration.machineID;
        entry.event = event;
        entry.originalPath = record.originalPath;
        entry.relativePath = record.driveRelativePath;
        entry.isDirectory = record.isDirectory;
        entry.size = record.size;
        entry.checksum = record.checksum;
        entry.entries = entries;
        if (!entry.entries && record.isDirectory && event == DriveManifest::Entry::Event::offloaded) {
            try {
                entry.entries = context.journal->treeEntries(record.id);
            } catch (const std::exception&) {
            }
        }
        entry.date = Date::now();
        if (heldManifestEntries_) {
            DriveManifest::encode(entry);  // one that can't be written fails here, on its own
            std::unique_lock<std::mutex> guard;
            if (heldEntriesLock_) guard = std::unique_lock(*heldEntriesLock_);
            heldManifestEntries_->push_back({record.id, record.driveID, root, std::move(entry)});
            return;
        }
        DriveManifest{DriveLayout::appFolder(root)}.append(entry);
    } catch (const std::exception& error) {
        context.journal->log(std::string("Couldn't update the drive's manifest: ") + error.what(), EventLevel::warning,
                             record.id);
    } catch (...) {
        context.journal->log("Couldn't update the drive's manifest.", EventLevel::warning, record.id);
    }
}

void RecoveryManager::writeHeldManifestEntries() noexcept {
    if (!heldManifestEntries_ || heldManifestEntries_->empty()) return;
    std::vector<HeldManifestEntry> held;
    held.swap(*heldManifestEntries_);
    auto warn = [&](const HeldManifestEntry& item, const std::string& why) {
        context.journal->log("Couldn't update the drive's manifest: " + why, EventLevel::warning, item.recordID);
    };
    // Each drive's lines in one write, in the order they were appended.
    std::vector<std::string> roots;
    for (const auto& item : held)
        if (std::find(roots.begin(), roots.end(), item.root) == roots.end()) roots.push_back(item.root);
    for (const auto& root : roots) {
        std::vector<const HeldManifestEntry*> going;
        std::vector<DriveManifest::Entry> entries;
        for (const auto& item : held) {
            if (item.root != root) continue;
            // Never into the folder a drive that went away was mounted at.
            if (mountPoint(item.driveID) != root) {
                warn(item, EngineError::driveUnavailable().message());
                continue;
            }
            going.push_back(&item);
            entries.push_back(item.entry);
        }
        try {
            DriveManifest{DriveLayout::appFolder(root)}.append(entries);
        } catch (const std::exception& error) {
            for (const auto* item : going) warn(*item, error.what());
        } catch (...) {
            for (const auto* item : going)
                context.journal->log("Couldn't update the drive's manifest.", EventLevel::warning, item->recordID);
        }
    }
}

void RecoveryManager::finishDeletingOriginal(const std::string& path, const OffloadRecord& record) noexcept {
    try {
        if (FileStat::peek(path)) PathUtil::removeTree(path);
    } catch (const std::exception& error) {
        context.journal->log("Couldn't finish deleting the original of " + quoted(ItemName::display(record.originalPath)) + " (" +
                                 error.what() +
                                 "). The copy on the drive is complete; Keldwick will try again later.",
                             EventLevel::warning, record.id);
    } catch (...) {
        context.journal->log("Couldn't finish deleting the original of " + quoted(ItemName::display(record.originalPath)) +
                                 ". The copy on the drive is complete; Keldwick will try again later.",
                             EventLevel::warning, record.id);
    }
}

// --- Helpers of the repairs.

void RecoveryManager::unlinkIfOurs(const std::string& path, const OffloadRecord& record) {
    if (!isLinkToDriveCopy(path, record)) return;
    removeFile(path);
}

std::string RecoveryManager::renameBeside(const OffloadRecord& record, const std::string& path,
                                          const std::optional<std::string>& folder) {
    const std::string kept = uniqueSiblingPath(PathUtil::name(record.originalPath), RecoveryTexts::recoveredSuffix,
                                               folder.value_or(PathUtil::parent(record.originalPath)), false);
    renameExclusive(path, kept);
    return kept;
}

std::string RecoveryManager::keepBeside(const OffloadRecord& record, const std::string& path) {
    const std::string kept = renameBeside(record, path);
    context.journal->log("Kept " + quoted(ItemName::display(record.originalPath)) + " as " + quoted(PathUtil::name(kept)) +
                             " because a new item appeared in its place.",
                         EventLevel::warning, record.id);
    return kept;
}

bool RecoveryManager::replaceOwnLink(const OffloadRecord& record, const std::string& source) {
    const std::string& original = record.originalPath;
    if (swapItems(source, original)) {
        if (isLinkToDriveCopy(source, record)) {
            unlinkIfOurs(source, record);
            return true;
        }
        swapItems(source, original);  // someone else's item was there: put it back
        return false;
    }
    // Without an exchange, whatever stands at the path is moved aside and looked at
    // before anything takes its place, so a save that lands meanwhile is never lost.
    const std::string aside = temporaryPath(original, TemporaryKind::restore, record.id);
    unlinkIfOurs(aside, record);  // left by an attempt that was cut short
    renameExclusive(original, aside);
    if (!isLinkToDriveCopy(aside, record)) {
        try {
            renameExclusive(aside, original);
        } catch (const POSIXFailure&) {
            keepBeside(record, aside);
        }
        return false;
    }
    try {
        renameExclusive(source, original);
    } catch (const POSIXFailure& failure) {
        if (failure.code() != EEXIST) {
            renameExclusive(aside, original);
            throw;
        }
        unlinkIfOurs(aside, record);  // a new item took the place meanwhile
        return false;
    }
    unlinkIfOurs(aside, record);
    return true;
}

std::string RecoveryManager::digestOf(const std::string& path, bool isDirectory) {
    if (isDirectory) return TreeManifest{context.copier.hashedEntries(path, {})}.digest();
    return Checksum::sha256OfFile(path, digestChunkSize);
}

std::string RecoveryManager::digestOfDriveCopy(const OffloadRecord& record, const std::string& root) {
    const std::string path = record.drivePath(root);
    if (!record.isDirectory) return Checksum::sha256OfFile(path, digestChunkSize);
    std::set<std::string> own;
    for (const auto& entry : context.journal->treeEntries(record.id)) own.insert(entry.path);
    std::set<std::string> excluded;
    auto walked = context.copier.walk(path, FileCopier::SpecialFiles::skip);
    for (const auto& sidecar : context.copier.sidecarPaths(walked, root))
        if (!own.contains(sidecar)) excluded.insert(sidecar);
    return TreeManifest{context.copier.hashedEntries(path, excluded)}.digest();
}

bool RecoveryManager::isOwnDriveCopy(const OffloadRecord& record, const std::string& root) {
    if (!record.checksum) return false;
    auto status = FileStat::peek(record.drivePath(root));
    if (!status || status->isDirectory() != record.isDirectory || status->isSymlink()) return false;
    return digestOfDriveCopy(record, root) == *record.checksum;
}

bool RecoveryManager::matchesChecksum(const std::string& path, const OffloadRecord& record) {
    if (!record.checksum) return false;
    auto status = FileStat::peek(path);
    if (!status || status->isDirectory() != record.isDirectory || status->isSymlink()) return false;
    return digestOf(path, record.isDirectory) == *record.checksum;
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
    const std::string drivePath = record.drivePath(*root);
    if (!DrivePath::isBeneath(*root, drivePath)) return false;
    // The whole digest, not sizes: after an unclean unplug, or behind a bridge that
    // dropped a flush, a damaged copy keeps its size.
    return isOwnDriveCopy(record, *root);
}

void RecoveryManager::putOriginalBack(const OffloadRecord& record, const std::string& displaced) {
    if (!FileStat::peek(record.originalPath))
        renameExclusive(displaced, record.originalPath);
    else if (!replaceOwnLink(record, displaced))
        keepBeside(record, displaced);
}

std::optional<RecoveryResult> RecoveryManager::deferUnlessDriveCopyStands(const OffloadRecord& record,
                                                                          const std::optional<std::string>& root,
                                                                          const std::string& displaced) {
    if (!FileStat::peek(displaced)) return std::nullopt;  // nothing left to delete
    if (!root) {
        context.journal->log(quoted(ItemName::display(record.originalPath)) +
                                 " is on your drive. Its original stays on your Mac until the drive is connected "
                                 "and its copy there can be checked.",
                             EventLevel::info, record.id);
        return result(record, RecoveryAction::deferred, RecoveryTexts::driveNotConnected);
    }
    if (driveCopyStands(record, root)) return std::nullopt;
    const std::string drivePath = record.drivePath(*root);
    if (DrivePath::isBeneath(*root, drivePath) && FileStat::peek(drivePath)) {
        // A copy stands there but isn't the one verified: the original takes the link's
        // place again and the move is undone.
        putOriginalBack(record, displaced);
        return rollBackOffload(record, EngineError::checksumMismatch(record.originalPath).message());
    }
    const std::string detail = EngineError::driveCopyMissing(record.originalPath).message();
    context.journal->log(detail + " Its original stays on your Mac.",
                         EventLevel::warning, record.id);
    return result(record, RecoveryAction::deferred, detail);
}

void RecoveryManager::removeDriveCopy(const OffloadRecord& record, const std::string& root) {
    const std::string drivePath = record.drivePath(root);
    DrivePath::requireBeneath(root, drivePath);
    PathUtil::removeTree(temporaryPath(drivePath, TemporaryKind::partial, record.id));
    PathUtil::removeTree(temporaryPath(drivePath, TemporaryKind::trash, record.id));
    if (FileStat::peek(drivePath)) {
        if (isOwnDriveCopy(record, root))
            removeLeftovers(drivePath, record);
        else
            context.journal->log("Left what's at " + quoted(ItemName::display(record.originalPath)) +
                                     "'s place on the drive alone: it isn't the copy Keldwick made.",
                                 EventLevel::warning, record.id);
    }
    removeEmptyParents(PathUtil::parent(drivePath), PathUtil::join(root, DriveLayout::folderName(root)));
    flushDriveDeletions(root);
}

void RecoveryManager::flushDriveDeletions(const std::string& root) {
    if (!heldDriveFlushes_) {
        platform::syncVolume(root);
        return;
    }
    std::lock_guard guard(heldDriveFlushes_->lock);
    heldDriveFlushes_->roots.insert(root);
}

void RecoveryManager::DriveFlushes::flush() const {
    for (const auto& root : roots) platform::syncVolume(root);
}

RecoveryResult RecoveryManager::finishMove(const OffloadRecord& record) {
    context.journal->setPhase(record.id, Phase::offloaded);
    context.journal->log("Finished moving " + quoted(ItemName::display(record.originalPath)) + " after an interruption.",
                         EventLevel::info, record.id);
    if (auto root = mountPoint(record.driveID)) {
        OffloadRecord finished = record;
        finished.phase = Phase::offloaded;
        appendManifestEntry(finished, DriveManifest::Entry::Event::offloaded, *root);
    }
    return result(record, RecoveryAction::rolledForward);
}

std::string uniqueSiblingPath(const std::string& name, const std::string& suffix, const std::string& parent,
                              bool keepExtension) {
    std::string base = name;
    std::string tail;
    if (keepExtension) {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot != 0 && dot + 1 < name.size()) {
            base = name.substr(0, dot);
            tail = name.substr(dot);
        }
    }
    // Room for the suffix, the tail and a " NNNN" number within a 255-byte name.
    const size_t reserved = suffix.size() + tail.size() + 5;
    base = truncatedToUTF8Bytes(base, reserved < 255 ? 255 - reserved : 0);
    std::string candidate = PathUtil::join(parent, base + suffix + tail);
    for (int64_t number = 2; FileStat::peek(candidate); ++number)
        candidate = PathUtil::join(parent, base + suffix + " " + std::to_string(number) + tail);
    return candidate;
}

}  // namespace keldwick
