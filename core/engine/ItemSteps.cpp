#include "engine/ItemSteps.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "drives/DriveLayout.h"
#include "engine/DriveExposure.h"
#include "engine/DrivePath.h"
#include "engine/RecoveryTexts.h"
#include "foundation/Checksum.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

namespace {

constexpr size_t digestChunkSize = 4'194'304;

void flushDeletionsIn(const std::string& root, const std::vector<std::shared_ptr<const platform::Fd>>& folders);

}  // namespace

std::shared_ptr<const LocatedDrive> ItemSteps::heldDrive(const std::string& driveID) {
    if (!context.locator) return nullptr;
    auto locate = [&]() -> std::shared_ptr<const LocatedDrive> {
        try {
            auto located = std::make_shared<const LocatedDrive>(LocatedDrive::locateToBringBack(
                context.locator.get(), driveID, context.configuration.machineFolder));
            if (located->refusal()) DriveExposure::note(*context.journal, driveID, located->refusal()->explanation());
            return located;
        } catch (const std::exception&) {
            return nullptr;
        }
    };
    if (!drivesAway_) return locate();
    // Located under the lock: the threads of a pass share one descriptor per drive.
    std::lock_guard guard(drivesAway_->lock);
    auto found = drivesAway_->drives.find(driveID);
    if (found == drivesAway_->drives.end()) found = drivesAway_->drives.emplace(driveID, locate()).first;
    return found->second;
}

std::optional<std::string> ItemSteps::mountPoint(const std::string& driveID) {
    auto drive = heldDrive(driveID);
    if (!drive) return std::nullopt;
    return drive->root();
}

std::vector<TreeEntry> ItemSteps::treeOf(const OffloadRecord& record) {
    if (knownTrees_) {
        if (auto found = knownTrees_->find(record.id); found != knownTrees_->end()) return found->second;
    }
    return context.journal->treeEntries(record.id);
}

std::optional<LocatedDrive::Place> ItemSteps::reached(const LocatedDrive& drive, const std::string& drivePath) {
    try {
        return drive.reach(drivePath, LocatedDrive::Reach::read);
    } catch (const POSIXFailure& failure) {
        if (failure.code() == ENOENT) return std::nullopt;  // gone already, with its folder
        throw;
    }
}

RecoveryResult ItemSteps::result(const OffloadRecord& record, RecoveryAction action,
                                       std::optional<std::string> detail) const {
    return RecoveryResult{record.id, ItemName::display(record.originalPath), action, std::move(detail)};
}

RecoveryResult ItemSteps::markRecord(const OffloadRecord& record, const std::string& detail, Phase phase,
                                           RecoveryAction action) {
    context.journal->setPhase(record.id, phase, detail);
    context.journal->log(quoted(ItemName::display(record.originalPath)) + ": " + detail, EventLevel::warning, record.id);
    return result(record, action, detail);
}

void ItemSteps::removeLeftovers(const std::string& path, const OffloadRecord& record) {
    // Only ever a path on the drive: never through a link or ".." out of it, and only
    // in the Keldwick folder held, never one put in its place.
    auto drive = heldDrive(record.driveID);
    if (!drive) throw EngineError::driveUnavailable();
    drive->confirm();
    if (const auto place = reached(*drive, path)) clearAway(place->path(), record);
}

void ItemSteps::clearAway(const std::string& path, const OffloadRecord& record) {
    const std::string trash = temporaryPath(path, TemporaryKind::trash, record.id);
    PathUtil::removeTree(trash);
    if (FileStat::peek(path)) {
        clearLockFlags(path);
        renameItem(path, trash);
        PathUtil::removeTree(trash);
    }
}

void ItemSteps::removeFromDrive(const std::string& drivePath, const OffloadRecord& record,
                                      const std::string& root) {
    auto drive = heldDrive(record.driveID);
    if (!drive || drive->root() != root) throw EngineError::driveUnavailable();
    // Flushed through the held folder too: while a pass holds the flushes back, its drives stay held.
    if (auto standing = clearFromDrive(drivePath, record, *drive)) flushDriveDeletions(drive->appFolder(), standing);
}

void ItemSteps::removeFromDrive(const std::string& drivePath, const OffloadRecord& record,
                                const LocatedDrive& located) {
    if (auto standing = clearFromDrive(drivePath, record, located)) flushDeletionsIn(located.appFolder(), {standing});
}

std::shared_ptr<const platform::Fd> ItemSteps::clearFromDrive(const std::string& drivePath,
                                                              const OffloadRecord& record,
                                                              const LocatedDrive& located) {
    located.confirm();
    // Reached one folder at a time from the held Keldwick folder and acted on through the
    // last one's descriptor: a folder swapped for a link meanwhile leads nowhere else.
    const auto place = reached(located, drivePath);
    if (!place) return nullptr;
    clearAway(place->path(), record);
    return place->removeEmptyFolders();
}

void ItemSteps::appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                                    const LocatedDrive& located,
                                    const std::optional<std::vector<TreeEntry>>& entries) noexcept {
    try {
        // Never into the folder a drive that went away was mounted at (the line waits for
        // the next recovery, which adds what it lacks), nor into one put in its place.
        try {
            located.confirm();
        } catch (const EngineError& error) {
            if (error.kind() == EngineError::Kind::driveUnavailable) return;
            throw;
        }
        DriveManifest{located.manifestFolder()}.append(manifestEntry(record, event, entries));
    } catch (const std::exception& error) {
        context.journal->log(std::string("Couldn't update the drive's manifest: ") + error.what(), EventLevel::warning,
                             record.id);
    } catch (...) {
        context.journal->log("Couldn't update the drive's manifest.", EventLevel::warning, record.id);
    }
}

DriveManifest::Entry ItemSteps::manifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                                              const std::optional<std::vector<TreeEntry>>& entries) {
    DriveManifest::Entry entry;
    entry.version = 1;
    entry.machine = context.configuration.machineID;
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
    entry.date = context.clock->now();
    return entry;
}

void ItemSteps::appendManifestEntry(const OffloadRecord& record, DriveManifest::Entry::Event event,
                                    const std::string& root,
                                    const std::optional<std::vector<TreeEntry>>& entries) noexcept {
    try {
        // Never into the folder a drive that went away was mounted at.
        auto drive = heldDrive(record.driveID);
        if (!drive || drive->root() != root) throw EngineError::driveUnavailable();
        // A refused volume gets nothing but the line that a restored item's copy is gone.
        if (!drive->trusted() && event != DriveManifest::Entry::Event::restored) return;
        DriveManifest::Entry entry = manifestEntry(record, event, entries);
        if (heldManifestEntries_) {
            DriveManifest::encode(entry);  // one that can't be written fails here, on its own
            std::unique_lock<std::mutex> guard;
            if (heldEntriesLock_) guard = std::unique_lock(*heldEntriesLock_);
            heldManifestEntries_->push_back({record.id, record.driveID, root, std::move(entry)});
            return;
        }
        drive->confirm();
        DriveManifest{drive->manifestFolder()}.append(entry);
    } catch (const std::exception& error) {
        context.journal->log(std::string("Couldn't update the drive's manifest: ") + error.what(), EventLevel::warning,
                             record.id);
    } catch (...) {
        context.journal->log("Couldn't update the drive's manifest.", EventLevel::warning, record.id);
    }
}

void ItemSteps::writeHeldManifestEntries() noexcept {
    if (!heldManifestEntries_ || heldManifestEntries_->empty()) return;
    AwayForThePass pass(*this);  // each drive located once for all its lines
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
        std::shared_ptr<const LocatedDrive> drive;
        for (const auto& item : held) {
            if (item.root != root) continue;
            // Never into the folder a drive that went away was mounted at.
            auto itemDrive = heldDrive(item.driveID);
            if (!itemDrive || itemDrive->root() != root) {
                warn(item, EngineError::driveUnavailable().message());
                continue;
            }
            drive = itemDrive;
            going.push_back(&item);
            entries.push_back(item.entry);
        }
        if (!drive) continue;
        try {
            drive->confirm();
            DriveManifest{drive->manifestFolder()}.append(entries);
        } catch (const std::exception& error) {
            for (const auto* item : going) warn(*item, error.what());
        } catch (...) {
            for (const auto* item : going)
                context.journal->log("Couldn't update the drive's manifest.", EventLevel::warning, item->recordID);
        }
    }
}

void ItemSteps::finishDeletingOriginal(const std::string& path, const OffloadRecord& record) noexcept {
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

void ItemSteps::unlinkIfOurs(const std::string& path, const OffloadRecord& record) {
    if (!isLinkToDriveCopy(path, record)) return;
    removeFile(path);
}

std::string ItemSteps::renameBeside(const OffloadRecord& record, const std::string& path,
                                          const std::optional<std::string>& folder) {
    const std::string kept = uniqueSiblingPath(PathUtil::name(record.originalPath), RecoveryTexts::recoveredSuffix,
                                               folder.value_or(PathUtil::parent(record.originalPath)), false);
    renameExclusive(path, kept);
    return kept;
}

std::string ItemSteps::keepBeside(const OffloadRecord& record, const std::string& path,
                                  const std::optional<std::string>& folder) {
    const std::string kept = renameBeside(record, path, folder);
    context.journal->log("Kept " + quoted(ItemName::display(record.originalPath)) + " as " + quoted(PathUtil::name(kept)) +
                             " because a new item appeared in its place.",
                         EventLevel::warning, record.id);
    return kept;
}

bool ItemSteps::replaceOwnLink(const OffloadRecord& record, const std::string& source, const HomeFolder& home) {
    const std::string original = home.item();
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
    const std::string aside = home.working(TemporaryKind::restore, record.id);
    unlinkIfOurs(aside, record);  // left by an attempt that was cut short
    renameExclusive(original, aside);
    if (!isLinkToDriveCopy(aside, record)) {
        try {
            renameExclusive(aside, original);
        } catch (const POSIXFailure&) {
            keepBeside(record, aside, home.path());
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

std::string ItemSteps::digestOf(const std::string& path, bool isDirectory) {
    if (isDirectory) return TreeManifest{context.copier.hashedEntries(path, {})}.digest();
    return Checksum::sha256OfFile(path, digestChunkSize);
}

bool ItemSteps::matchesChecksum(const std::string& path, const OffloadRecord& record) {
    if (!record.checksum) return false;
    auto status = FileStat::peek(path);
    if (!status || status->isDirectory() != record.isDirectory || status->isSymlink()) return false;
    return digestOf(path, record.isDirectory) == *record.checksum;
}

// --- Displaced folders.

// A displaced folder is the item's last copy on this machine: it goes only when all it
// holds was copied. One that changed meanwhile (an app kept writing into it) is kept next
// to the link instead. Gives the warning's text when it was kept.
std::optional<std::string> ItemSteps::deleteDisplacedFolder(const OffloadRecord& record,
                                                                   const std::string& trash,
                                                                   const std::optional<std::string>& folder) {
    if (!FileStat::peek(trash)) return std::nullopt;
    if (!holdsOnlyCopiedEntries(trash, record)) {
        std::string message = keepChangedFolder(record, trash, folder);
        context.journal->log(message, EventLevel::warning, record.id);
        return message;
    }
    finishDeletingOriginal(trash, record);
    return std::nullopt;
}

// A deletion cut short leaves part of the tree, whose bytes are all on the drive, so the
// test is that each entry left stands in the record's tree with its kind, and a file
// with its size and digest; an entry added or changed since the copy fails it.
bool ItemSteps::holdsOnlyCopiedEntries(const std::string& folder, const OffloadRecord& record) {
    auto status = FileStat::peek(folder);
    if (!status || !status->isDirectory() || !record.checksum) return false;
    std::map<std::string, TreeEntry> recorded;
    for (auto& entry : treeOf(record)) recorded.emplace(entry.path, std::move(entry));
    if (recorded.empty()) return matchesChecksum(folder, record);
    for (const auto& entry : context.copier.hashedEntries(folder, {})) {
        auto found = recorded.find(entry.path);
        if (found == recorded.end() || found->second.kind != entry.kind) return false;
        const TreeEntry& copied = found->second;
        if (entry.kind == TreeEntry::Kind::file && (copied.size != entry.size || copied.sha256 != entry.sha256))
            return false;
        if (entry.kind == TreeEntry::Kind::symlink && copied.target != entry.target) return false;
    }
    return true;
}

std::string ItemSteps::keepChangedFolder(const OffloadRecord& record, const std::string& displaced,
                                               const std::optional<std::string>& folder) {
    const std::string kept = renameBeside(record, displaced, folder);
    return quoted(ItemName::display(record.originalPath)) +
           " changed while it was being moved. The copy on your drive is in its place, and the version from your "
           "computer is next to it as " +
           quoted(PathUtil::name(kept)) + ".";
}

// --- Links.

RecoveryResult ItemSteps::checkLink(const OffloadRecord& record) {
    const std::string& original = record.originalPath;
    if (record.phase == Phase::linkMissing) {
        // With another drive's record for the same path, the link may be that drive's.
        if (!isLinkToDriveCopy(original, record) || hasRivalRecord(record))
            return result(record, RecoveryAction::unchanged);
        context.journal->setPhase(record.id, Phase::offloaded);
        context.journal->log("The shortcut to " + quoted(ItemName::display(record.originalPath)) + " is back in its place.",
                             EventLevel::info, record.id);
        OffloadRecord linked = record;
        linked.phase = Phase::offloaded;
        linked.error.reset();
        RecoveryResult again = checkLink(linked);
        return again.action == RecoveryAction::unchanged ? result(record, RecoveryAction::relinked) : again;
    }
    if (record.phase != Phase::offloaded) return result(record, RecoveryAction::unchanged);

    std::optional<FileStat> status;
    try {
        status = FileStat::read(original);
    } catch (const std::exception& error) {
        context.journal->log("Couldn't check the link for " + quoted(ItemName::display(record.originalPath)) + ": " + error.what(),
                             EventLevel::warning, record.id);
        return result(record, RecoveryAction::deferred, std::string(error.what()));
    }
    if (!status) return markRecord(record, RecoveryTexts::shortcutDeleted, Phase::linkMissing, RecoveryAction::markedLinkMissing);
    if (status->isSymlink()) {
        if (!isOwnLink(original, record))
            return markRecord(record, RecoveryTexts::shortcutElsewhere, Phase::linkMissing,
                              RecoveryAction::markedLinkMissing);
        auto root = mountPoint(record.driveID);
        if (!root) return result(record, RecoveryAction::unchanged);
        const std::string expected = record.drivePath(*root);
        auto target = readLink(original);
        if (!target || *target != expected) return updateLink(record, expected);
        return result(record, RecoveryAction::unchanged);
    }
    return markRecord(record, RecoveryTexts::anotherFile, Phase::returned, RecoveryAction::markedReturned);
}

bool ItemSteps::hasRivalRecord(const OffloadRecord& record) {
    if (contestedPlaces_ && !contestedPlaces_->contains(record.originalPath)) return false;
    for (const auto& other : context.journal->activeRecords(record.originalPath))
        if (other.id != record.id && other.driveID != record.driveID) return true;
    return false;
}

bool ItemSteps::isOwnLink(const std::string& path, const OffloadRecord& record) {
    if (!isLinkToDriveCopy(path, record)) return false;
    if (!hasRivalRecord(record)) return true;
    auto root = mountPoint(record.driveID);
    return !root || readLink(path) == record.drivePath(*root);
}

RecoveryResult ItemSteps::updateLink(const OffloadRecord& record, const std::string& target) {
    const HomeFolder home(record.originalPath);
    clearLockFlags(home.item());
    const std::string staged = home.working(TemporaryKind::link, record.id);
    PathUtil::removeTree(staged);
    if (platform::calls().symlinkAt(target.c_str(), AT_FDCWD, staged.c_str()) != 0)
        throw POSIXFailure("symlink", staged, errno);
    if (!replaceOwnLink(record, staged, home)) {
        unlinkIfOurs(staged, record);
        return markRecord(record, RecoveryTexts::anotherFile, Phase::returned, RecoveryAction::markedReturned);
    }
    context.journal->log("Updated the link for " + quoted(ItemName::display(record.originalPath)) + " to the drive's new location.",
                         EventLevel::info, record.id);
    return result(record, RecoveryAction::relinked);
}

void ItemSteps::requireHoldsNoOtherItems(const OffloadRecord& record) {
    if (!context.driveCopies) context.driveCopies = std::make_shared<DriveCopies>(context.journal);
    if (context.driveCopies->heldInside(record) != 0) throw EngineError::holdsOtherItems(record.originalPath);
}

// --- Flushing the drive's deletions.

namespace {

// Makes the entry changes that deletions made in `folders` (held open), on the drive
// whose held Keldwick folder is `root`, durable: a fsync of each, or one syncfs of the
// drive where its fsync can't be trusted to cover a folder's entries. Throws
// POSIXFailure ("open", "fsync" or "syncfs").
void flushDeletionsIn(const std::string& root, const std::vector<std::shared_ptr<const platform::Fd>>& folders) {
    platform::Fd top = platform::openDirectory(AT_FDCWD, root);
    if (!top) throw POSIXFailure("open", root, errno);
    if (!platform::fsyncIsTrusted(top.get())) {
        platform::syncVolume(top.get(), root);
        return;
    }
    std::set<std::pair<dev_t, ino_t>> flushed;
    for (const auto& folder : folders) {
        struct stat st {};
        if (platform::statusOf(folder->get(), st) == 0 && !flushed.insert({st.st_dev, st.st_ino}).second) continue;
        platform::flushFolderAt(folder->get(), root);
    }
}

}  // namespace

void ItemSteps::flushDriveDeletions(const std::string& appFolder, std::shared_ptr<const platform::Fd> standing) {
    if (!heldDriveFlushes_) {
        flushDeletionsIn(appFolder, {standing});
        return;
    }
    std::lock_guard guard(heldDriveFlushes_->lock);
    heldDriveFlushes_->folders[appFolder].push_back(std::move(standing));
}

void ItemSteps::DriveFlushes::flush() const {
    for (const auto& [root, changed] : folders) flushDeletionsIn(root, changed);
}

// --- Free names.

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
