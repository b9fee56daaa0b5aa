#include "engine/OffloadExecutor.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>

#include "drives/DriveLayout.h"
#include "drives/FileSystemFormats.h"
#include "drives/VolumeInfo.h"
#include "engine/DrivePath.h"
#include "engine/FaultInjecting.h"
#include "engine/RepairOnFailure.h"
#include "foundation/EngineError.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "foundation/Utf8.h"
#include "foundation/VolumeSpace.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "scanning/ScannerChecks.h"
#include "scanning/WholeFolderInspector.h"

namespace keldwick {

namespace {

// Whether the item lies at or inside the drive's root, or holds it, links on the way
// resolved. A path that can't be resolved counts as overlapping.
bool overlapsDrive(const std::string& path, const std::string& root) {
    auto realRoot = PathUtil::canonical(root);
    auto realFolder = PathUtil::canonical(PathUtil::parent(path));
    if (!realRoot || !realFolder) return true;
    const std::string real = PathUtil::join(*realFolder, PathUtil::name(path));
    return PathUtil::isInside(real, *realRoot) || PathUtil::isInside(*realRoot, real);
}

// Whether the drive at `root` can give one file several names.
// The largest file FAT32 holds: 4 GiB less one byte.
constexpr int64_t kFat32LargestFile = 4'294'967'295;

bool keepsHardLinks(const std::string& root) {
    platform::Fd folder = platform::openDirectory(AT_FDCWD, root);
    if (!folder) throw POSIXFailure("open", root, errno);
    return platform::keepsHardLinks(folder.get());
}

// The newest of a status's modification and creation dates.
Date newestOf(const FileStat& status) { return std::max(status.modificationDate(), status.creationDate()); }

// Why an item dated after its check can't move: a date ahead of the clock (beyond the
// second a check allows) is the clock's doing, not a use.
const char* newerThanCheckReason(Date newest, Date now) {
    return newest > now.adding(1) ? "Its date is in the future: check this computer's clock"
                                  : "Used since the last check";
}

}  // namespace

OffloadExecutor::OffloadExecutor(EngineContext context, Drive drive, std::shared_ptr<HeldPlaces> places,
                                 std::shared_ptr<const LocatedDrive> located)
    : context(std::move(context)), drive(std::move(drive)), places(std::move(places)), located_(std::move(located)) {
    if (!this->places) this->places = std::make_shared<HeldPlaces>(this->context.journal, this->drive.id);
}

const std::set<Phase>& OffloadExecutor::activePhases() {
    static const std::set<Phase> phases = [] {
        std::set<Phase> all(allPhases.begin(), allPhases.end());
        all.erase(Phase::restored);
        all.erase(Phase::abandoned);
        all.erase(Phase::superseded);
        return all;
    }();
    return phases;
}

OffloadExecutor::Outcome OffloadExecutor::offload(const Candidate& candidate, bool dryRun,
                                                  const std::shared_ptr<CancellationFlag>& cancel,
                                                  const Progress& progress) {
    const std::string& path = candidate.path;
    const FileStat status = checkItem(candidate);
    // The run's drive, unless it changed since the last item; else the drive now.
    if (located_)
        located_->confirm();
    else
        located_ = std::make_shared<const LocatedDrive>(LocatedDrive::locate(context.locator.get(), drive.id, !dryRun,
                                                                                    context.configuration.machineFolder));
    const LocatedDrive& located = *located_;
    const std::string root = located.root();
    checkPlace(candidate, status, root);
    const Destination destination = chooseDestination(path, status, root, dryRun);
    const int64_t total = checkContents(candidate, status, root);
    checkRoomAndUse(candidate, total, root);

    // A dry run ends here, with nothing written but its event.
    if (dryRun) {
        context.journal->log("Dry run: would move " + quoted(ItemName::display(path)) + " (" + byteCountText(candidate.size) +
                                 ") to " + drive.name + ".",
                             EventLevel::info);
        return Outcome::wouldMove(candidate);
    }

    // Something appeared at the destination since it was chosen.
    if (!destination.clearLeftovers && FileStat::read(destination.path))
        throw EngineError::destinationExists(destination.path);

    // The record and its event in one commit: one wait for the medium, not two.
    const OffloadRecord record = context.journal->transaction([&] {
        OffloadRecord inserted = insertRecord(candidate, status, destination.relativePath);
        context.journal->log("Moving " + quoted(ItemName::display(path)) + " to " + drive.name + "\u2026", EventLevel::info,
                             inserted.id);
        return inserted;
    });
    places->refresh(record);
    std::optional<std::string> unfinished;
    std::shared_ptr<const HomeFolder> home;
    try {
        runRepairingOnFailure(context, located, record.id, "Couldn't move " + quoted(ItemName::display(path)), [&] {
            try {
                // The item's folder, held from the first look at the item to its cleanup.
                home = std::make_shared<const HomeFolder>(record.originalPath);
                copyAndSwap(record, located, *home, destination.clearLeftovers, cancel, progress);
            } catch (const std::exception& failure) {
                // The item is on the drive and its link in place: the move happened. Its
                // record's phase (written before each step) lets the next start's
                // recovery finish it; undoing it now would move the item back.
                if (!swapped_) throw;
                unfinished = failure.what();
            }
        }, home);
    } catch (...) {
        // Recovery may have let the place go (or kept it); the index follows the journal.
        try {
            if (auto stored = context.journal->record(record.id)) places->refresh(*stored);
        } catch (const std::exception&) {
            // Unreadable now: the place stays held, which refuses rather than clashes.
        }
        throw;
    }

    if (unfinished) {
        // The journal may be what failed: what it can't record, recovery settles.
        OffloadRecord known = record;
        try {
            if (auto stored = context.journal->record(record.id)) known = *stored;
            places->refresh(known);
            context.journal->log(quoted(ItemName::display(path)) + " is on " + drive.name +
                                     "; its last steps finish at the next start: " + *unfinished,
                                 EventLevel::warning, record.id);
        } catch (const std::exception&) {
        }
        return Outcome::finishing(known, *unfinished);
    }
    auto stored = context.journal->record(record.id);
    places->refresh(stored ? *stored : record);
    return Outcome::moved(stored ? *stored : record);
}

FileStat OffloadExecutor::checkItem(const Candidate& candidate) const {
    const std::string& path = candidate.path;

    // The item itself, never what a link points at.
    auto status = FileStat::read(path);
    if (!status) throw EngineError::sourceMissing(path);
    if (!status->isFile() && !status->isDirectory())
        throw EngineError::notEligible(path, "not a regular file or folder");

    // Movability; and a path the journal and the manifest can't record as text.
    if (auto reason = reasonNotMovable(*status, PathUtil::name(path))) throw EngineError::notEligible(path, *reason);
    if (!Utf8::isValid(path)) throw EngineError::notEligible(path, "Name has characters that can't be recorded");

    // The rules, which may have changed since the scan (a new pin, say).
    if (auto reason = recheckItem(path, context.rules, candidate.whole)) throw EngineError::notEligible(path, *reason);
    return *status;
}

void OffloadExecutor::checkPlace(const Candidate& candidate, const FileStat& status, const std::string& root) const {
    const std::string& path = candidate.path;

    // A folder used as the drive may hold the user's files and other items' copies:
    // nothing on it, nor anything holding it, is moved onto it.
    if (overlapsDrive(path, root)) throw EngineError::notEligible(path, "On the drive Keldwick moves items to");

    // A folder that moves as one piece.
    if (candidate.whole) recheckWhole(candidate, *candidate.whole, root);

    // A database file must not leave its side files behind (or the other way round).
    if (status.isFile()) {
        if (auto companion = databaseCompanion(path))
            throw EngineError::notEligible(path, "Part of a database (with " + quoted(PathUtil::name(*companion)) + ")");
    }
}

OffloadExecutor::Destination OffloadExecutor::chooseDestination(const std::string& path, const FileStat& status,
                                                                const std::string& root, bool dryRun) {
    // Its place on the drive, unless a record already holds it.
    Destination destination;
    destination.relativePath =
        DriveLayout::relativePath(path, context.configuration.machineFolder, DriveLayout::folderName(root));
    places->check(path, destination.relativePath);

    // Whatever lies there now: our own unfinished copy is cleared and reused; anything
    // else keeps its place and the item takes a free name beside it. A dry run compares
    // sizes only, so that it never reads whole copies on the drive.
    destination.path = PathUtil::join(root, destination.relativePath);
    DrivePath::requireBeneath(root, destination.path);
    if (FileStat::read(destination.path)) {
        const auto compare = dryRun ? FileCopier::Compare::sizes : FileCopier::Compare::contents;
        if (context.copier.holdsOnlyPartsOf(path, destination.path, root, compare)) {
            destination.clearLeftovers = true;
        } else {
            destination.relativePath = uniqueRelativePath(
                destination.relativePath, status.isDirectory(),
                [&](const std::string& lowercased) { return places->isTaken(lowercased); }, root);
            places->check(path, destination.relativePath);
            destination.path = PathUtil::join(root, destination.relativePath);
            DrivePath::requireBeneath(root, destination.path);
        }
    }
    return destination;
}

int64_t OffloadExecutor::checkContents(const Candidate& candidate, const FileStat& status,
                                       const std::string& root) const {
    const std::string& path = candidate.path;

    // The newest date of the item itself.
    Date newest = std::max(newestOf(status), ExtraStat::read(path).added.value_or(WholeFolderInspector::distantPast));

    // What it holds now: every entry of a folder must be movable and on the same disk,
    // unless the folder moves as one piece.
    int64_t total = 0;
    int64_t largestFile = 0;
    if (status.isFile()) {
        total = status.size;
        largestFile = status.size;
    } else {
        FileCopier::HardLinks links;
        const auto entries = context.copier.walk(path, FileCopier::SpecialFiles::refuse, links);
        // Names of one file are copied once.
        std::set<int64_t> counted;
        for (const auto& entry : entries) {
            auto group = links.groups.find(entry.path);
            if (group == links.groups.end() || counted.insert(group->second).second) total += entry.size;
            if (entry.kind == TreeEntry::Kind::file) largestFile = std::max(largestFile, entry.size);
        }
        if (!links.groups.empty() && !keepsHardLinks(root))
            throw EngineError::notEligible(path, "Has files that are hard links of each other, which this drive's "
                                                 "format can't keep as links");
        if (!candidate.whole) {
            for (const auto& entry : entries) {
                const std::string full = PathUtil::join(path, entry.path);
                if (entry.kind == TreeEntry::Kind::symlink) throw EngineError::unsupportedItem(full);
                auto inner = FileStat::read(full);
                if (!inner) continue;  // vanished since the walk
                // Links among the folder's own files move with it; one reaching outside keeps it here.
                if (inner->isFile() && links.groups.count(entry.path) && !links.reachingOutside.count(entry.path))
                    inner->linkCount = 1;
                auto reason = reasonNotMovable(*inner, PathUtil::name(full));
                if (!reason && inner->device != status.device) reason = "On another disk";
                if (reason)
                    throw EngineError::notEligible(path, quoted(entry.path) + ": " + *reason);
                if (inner->isFile()) newest = std::max(newest, newestOf(*inner));
            }
        }
    }
    // FAT32 takes no file of 4 GiB or more: refused before anything is copied, not after 4 GiB of it.
    if (located_ && FileSystemFormats::cantHoldBigFiles(located_->fileSystem()) && largestFile > kFat32LargestFile)
        throw EngineError::notEligible(path, "Has a file bigger than 4 GB, which a drive formatted as FAT32 can't "
                                             "hold");

    // Used since the scan dated it, or dated ahead of this computer's clock, which no use
    // explains: the user hears which.
    if (!candidate.whole && newest > candidate.lastUsed.adding(1))
        throw EngineError::notEligible(path, newerThanCheckReason(newest, context.clock->now()));
    return total;
}

void OffloadExecutor::checkRoomAndUse(const Candidate& candidate, int64_t total, const std::string& root) const {
    // Room on the drive above its reserve.
    const int64_t available = VolumeSpace::availableBytes(root).value_or(0);
    const int64_t usable = available - context.configuration.driveReserveBytes;
    const int64_t needed = std::max(candidate.size, total);
    if (needed > usable)
        throw EngineError::notEnoughSpaceOnDrive(needed, std::max<int64_t>(usable, 0),
                                                 context.configuration.driveReserveBytes);

    // Held open by a running process (descriptors, mappings, working folders).
    if (context.openFiles) checkNotInUse(candidate.path, *context.openFiles);
}

OffloadRecord OffloadExecutor::insertRecord(const Candidate& candidate, const FileStat& status,
                                            const std::string& relativePath) {
    // The record, from which recovery settles whatever happens next.
    NewRecord newRecord;
    newRecord.originalPath = candidate.path;
    newRecord.driveID = drive.id;
    newRecord.driveRelativePath = relativePath;
    newRecord.isDirectory = status.isDirectory();
    newRecord.size = candidate.size;
    newRecord.lastUsed = candidate.lastUsed;
    newRecord.phase = Phase::offloadCopying;
    std::lock_guard guard(context.journal->lock());
    return context.journal->insertUnlocked(newRecord);
}

void OffloadExecutor::recheckWhole(const Candidate& candidate, WholeKind kind, const std::string& root) const {
    const std::string& path = candidate.path;
    std::optional<Date> lastBooted;
    if (kind == WholeKind::emulator) {
        auto device = AndroidDevice::read(path);
        // A folder without its NAME.ini beside it is no device the emulator would start.
        if (!device) throw EngineError::notEligible(path, "Not an Android emulator device");
        if (!device->isIdle) throw EngineError::notEligible(path, "Running");
        lastBooted = device->lastBooted;
    }

    const bool native = VolumeInfo::storesMetadataNatively(root);
    if (!native && (kind == WholeKind::project || kind == WholeKind::emulator))
        throw EngineError::notEligible(path, "Only moves to a drive formatted for Linux");

    WholeFolderInspector inspector;
    inspector.alsoUsed = lastBooted;
    inspector.keepsSymlinks = native;
    const auto result = inspector.inspect(path);
    switch (result.kind) {
        case WholeFolderInspector::Result::Kind::blocked:
            throw EngineError::notEligible(path, result.reason);
        case WholeFolderInspector::Result::Kind::movable:
            if (result.summary.lastUsed > candidate.lastUsed.adding(1))
                throw EngineError::notEligible(path, newerThanCheckReason(result.summary.lastUsed, context.clock->now()));
            break;
        case WholeFolderInspector::Result::Kind::usedRecently:
            break;
    }
}

bool sameSnapshot(const FingerprintSnapshot& before, const FingerprintSnapshot& after,
                  Fingerprint::Comparison comparison) {
    if (before.fingerprints.size() != after.fingerprints.size() || before.folders != after.folders) return false;
    for (const auto& [path, fingerprint] : after.fingerprints)
        if (!fingerprintUnchanged(path, fingerprint, before, comparison)) return false;
    return true;
}

}  // namespace keldwick
