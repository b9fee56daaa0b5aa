// The back half of a move: copy, verify, link swap. Before each file-system step the
// journal already holds the phase from which recovery finishes or undoes it.

#include <algorithm>
#include <cerrno>

#include "drives/DriveLayout.h"

#include "engine/DriveExposure.h"
#include "engine/ItemMetadata.h"
#include "engine/DrivePath.h"
#include "engine/FaultInjecting.h"
#include "engine/OffloadExecutor.h"
#include "engine/ItemSteps.h"
#include "foundation/Checksum.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/ItemChecks.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "platform/Extents.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick {

namespace {

// The journal's line for a finished move. A move that freed nothing though the item took
// room here (its holes aside) freed nothing because its blocks are shared (reflinks on
// btrfs or xfs), and says so: picked by hand, it still goes. One whose files are reflinked
// copies of each other frees less than it takes on the drive, which holds each copy in
// full, and says both.
std::string movedText(const OffloadRecord& verified, const std::string& driveName, const std::string& driveCopy,
                      const std::optional<std::vector<TreeEntry>>& entries, Journal& journal) {
    const std::string name = quoted(ItemName::display(verified.originalPath));
    if (platform::volumeSharesExtents(PathUtil::parent(verified.originalPath).c_str())) {
        const auto recorded = journal.recordedMetadata(verified.id);
        auto took = [&](const std::string& path, int64_t size) {
            if (!recorded) return size;
            const auto sparse = recorded->sparseEntries.find(path);
            return sparse == recorded->sparseEntries.end() ? size : sparse->second;
        };
        int64_t taken = 0;
        if (entries) {
            for (const auto& entry : *entries)
                if (entry.kind == TreeEntry::Kind::file) taken += took(entry.path, entry.size);
        } else if (auto copy = FileStat::peek(driveCopy)) {
            taken = took("", copy->size);
        }
        if (verified.size == 0 && taken > 0)
            return "Moved " + name + " to " + driveName +
                   ". It frees no space on this computer: its data is shared with a snapshot or another copy.";
        // Shared copies, not the rounding of blocks.
        constexpr int64_t kMiB = 1'048'576;
        if (verified.size > 0 && taken - verified.size >= std::max(kMiB, verified.size / 10))
            return "Moved " + name + " to " + driveName + ": frees " + byteCountText(verified.size) + "; " +
                   byteCountText(taken) + " on the drive.";
    }
    return "Moved " + name + " (" + byteCountText(verified.size) + ") to " + driveName + ".";
}

void makeLink(const std::string& target, const std::string& at) {
    if (platform::calls().symlinkAt(target.c_str(), AT_FDCWD, at.c_str()) != 0) throw POSIXFailure("symlink", at, errno);
}

}  // namespace

void OffloadExecutor::copyAndSwap(const OffloadRecord& record, const LocatedDrive& located, const HomeFolder& home,
                                  bool clearLeftovers,
                                  const std::shared_ptr<CancellationFlag>& cancel, const Progress& progress) {
    const std::string& original = record.originalPath;
    const Reach reach = [&](FaultPoint point, std::optional<std::string> working) {
        if (context.faults) context.faults->reach(point, FaultContext{record.id, original, std::move(working)});
    };
    // The link names the copy by its path on the drive; everything written there goes
    // through the Keldwick folder the operation holds, so a folder put in its place
    // meanwhile receives nothing.
    const std::string drivePath = record.drivePath(located.root());
    located.confirm();
    located.keepPrivate(context.configuration.machineFolder);
    // Every folder on the way opened and judged once, then acted on through its descriptor.
    const LocatedDrive::Place place = [&] {
        try {
            return located.reach(drivePath, LocatedDrive::Reach::write);
        } catch (const EngineError&) {
            // Remembered: what lies beneath may be somebody else's from now on.
            if (auto exposure = located.exposure()) DriveExposure::note(*context.journal, drive.id, *exposure);
            throw;
        }
    }();
    const std::string onDrive = place.path();
    const std::string partial = temporaryPath(onDrive, TemporaryKind::partial, record.id);
    // Fault points name working items by their paths on the drive.
    const std::string partialOnDrive = temporaryPath(drivePath, TemporaryKind::partial, record.id);
    reach(FaultPoint::offloadRecorded, std::nullopt);

    const auto [before, identity] = fingerprintItem(record, home);
    prepareDrive(record, onDrive, partial, clearLeftovers);
    Copied copied = copyToPartial(record, home, partial, partialOnDrive, cancel, progress, reach);

    // A copy whose drive went away meanwhile may have been written elsewhere.
    reach(FaultPoint::offloadCopied, partialOnDrive);
    located.confirm();
    verifyCopy(record, partial, copied);

    const FingerprintSnapshot named = nameCopy(record, home, located, partial, onDrive, copied, identity);
    reach(FaultPoint::offloadVerified, drivePath);
    // The last look: from here nothing is written to the drive, and the copy under its
    // final name is durable on the drive located, so the original may go even if the
    // drive leaves after this.
    located.confirm();
    checkBeforeSwap(record, home, onDrive, before, named, cancel);

    OffloadRecord verified = record;
    verified.checksum = copied.checksum;
    swapKeepingIconPlace(verified, home, drivePath, before, reach);
    finishMove(verified, located, copied.entries);
}

std::pair<FingerprintSnapshot, std::string> OffloadExecutor::fingerprintItem(const OffloadRecord& record,
                                                                             const HomeFolder& home) {
    // What the item looks like before a byte is copied, and which item it is: after a
    // crash, recovery tells the item itself from another put at its place by that.
    FingerprintSnapshot before = Fingerprint::snapshot(home.item(), record.isDirectory);
    const auto itself = FileStat::read(home.item());
    if (!itself || itself->inode != before.fingerprints.at("").inode)
        throw EngineError::sourceChanged(record.originalPath);
    return {std::move(before), itemIdentity(*itself)};
}

void OffloadExecutor::prepareDrive(const OffloadRecord& record, const std::string& onDrive, const std::string& partial,
                                   bool clearLeftovers) {
    // The folders on the way were made or judged by the walk that reached onDrive.
    PathUtil::removeTree(partial);

    // Our own unfinished copy from an earlier attempt.
    if (clearLeftovers) {
        ItemSteps(context).clearAway(onDrive, record);
        context.journal->log("Cleared what was left of an earlier copy of " + quoted(ItemName::display(record.originalPath)) +
                                 " on " + drive.name + ".",
                             EventLevel::info, record.id);
    }
}

OffloadExecutor::Copied OffloadExecutor::copyToPartial(const OffloadRecord& record, const HomeFolder& home,
                                                       const std::string& partial,
                                                       const std::string& partialOnDrive,
                                                       const std::shared_ptr<CancellationFlag>& cancel,
                                                       const Progress& progress, const Reach& reach) {
    // Copy and hash in one pass.
    bool firstTick = true;
    const FileCopier::Progress tick = [&](int64_t bytesDone) {
        if (cancel && cancel->isCancelled()) throw CancellationError();
        if (progress) progress(bytesDone);
        if (firstTick) {
            firstTick = false;
            reach(FaultPoint::offloadMidCopy, partialOnDrive);
        }
    };
    Copied copied;
    if (record.isDirectory) {
        copied.entries = context.copier.copyTree(home.item(), partial, tick, &copied.linkGroups);
        copied.checksum = TreeManifest{*copied.entries}.digest();
    } else {
        copied.checksum = context.copier.copyFile(home.item(), partial, true, tick);
    }
    return copied;
}

void OffloadExecutor::verifyCopy(const OffloadRecord& record, const std::string& partial, const Copied& copied) {
    // Read back from the medium; a mismatch names the item the user knows.
    try {
        if (record.isDirectory) {
            context.copier.verify(partial, *copied.entries);
        } else if (Checksum::sha256OfFile(partial, static_cast<size_t>(context.copier.chunkSize)) != copied.checksum) {
            throw EngineError::checksumMismatch(record.originalPath);
        }
    } catch (const EngineError& error) {
        if (error.kind() == EngineError::Kind::checksumMismatch) throw EngineError::checksumMismatch(record.originalPath);
        throw;
    }
}

FingerprintSnapshot OffloadExecutor::nameCopy(const OffloadRecord& record, const HomeFolder& home,
                                              const LocatedDrive& located, const std::string& partial,
                                              const std::string& drivePath, const Copied& copied,
                                              const std::string& identity) {
    // Verified, then its final name; a copy only counts once its name is durable.
    located.confirm();
    // What the item was beyond its content, so that only that comes home.
    RecordedMetadata metadata =
        ItemMetadata::record(home.item(), partial, copied.entries.value_or(ItemMetadata::ofFile()));
    metadata.linkGroups = copied.linkGroups;
    context.journal->markVerified(record.id, copied.checksum, copied.entries, identity, metadata);
    renameExclusive(partial, drivePath);
    // The original is deleted on the strength of this flush: its failure fails the move.
    platform::flushFolder(PathUtil::parent(drivePath));
    return Fingerprint::snapshot(drivePath, record.isDirectory);
}

void OffloadExecutor::checkBeforeSwap(const OffloadRecord& record, const HomeFolder& home,
                                      const std::string& drivePath, const FingerprintSnapshot& before,
                                      const FingerprintSnapshot& named,
                                      const std::shared_ptr<CancellationFlag>& cancel) {
    // The original must be exactly as copied, unused, and the user must not have asked
    // to stop. Its folder must still be at its path: a link made in a folder renamed away
    // meanwhile would not stand where the journal says.
    const std::string& original = record.originalPath;
    if (!sameSnapshot(before, Fingerprint::snapshot(home.item(), record.isDirectory), Fingerprint::same) ||
        !home.stillInPlace())
        throw EngineError::sourceChanged(original);
    if (context.openFiles) checkNotInUse(original, *context.openFiles);
    if (cancel && cancel->isCancelled()) throw CancellationError();
    // The copy the original is given up for must still be the one verified, and the
    // record still this move's: nothing else over this journal or on the drive may have
    // rolled it back or touched it since.
    if (!copyStillStands(record, drivePath, named)) throw EngineError::driveCopyMissing(original);
}

void OffloadExecutor::swapKeepingIconPlace(const OffloadRecord& verified, const HomeFolder& home,
                                           const std::string& drivePath, const FingerprintSnapshot& before,
                                           const Reach& reach) {
    // The icon's place in its folder, which the link takes over.
    const std::string& original = verified.originalPath;
    std::optional<IconPlace> place;
    if (context.icons) {
        try {
            place = context.icons->place(original);
        } catch (...) {
            place.reset();  // a place that can't be read is not kept
        }
    }

    context.journal->setPhase(verified.id, Phase::offloadSwapping);
    if (verified.isDirectory)
        swapFolder(verified, home, drivePath, before, reach);
    else
        swapFile(verified, home, drivePath, before, reach);

    if (place && context.icons) {
        try {
            context.icons->restore(*place, original);
        } catch (...) {
            // The icon only loses its place.
        }
    }
}

void OffloadExecutor::finishMove(const OffloadRecord& verified, const LocatedDrive& located,
                                 const std::optional<std::vector<TreeEntry>>& entries) {
    // "offloaded" and its event in one commit, then the drive manifest's line.
    context.journal->transaction([&] {
        context.journal->setPhase(verified.id, Phase::offloaded);
        context.journal->log(
            movedText(verified, drive.name, verified.drivePath(located.root()), entries, *context.journal),
            EventLevel::info, verified.id);
    });
    // Without the drive the line waits for the next recovery, which adds what it lacks.
    ItemSteps(context).appendManifestEntry(verified, DriveManifest::Entry::Event::offloaded, located, entries);
}

bool OffloadExecutor::copyStillStands(const OffloadRecord& record, const std::string& drivePath,
                                      const FingerprintSnapshot& copied) {
    auto now = context.journal->record(record.id);
    if (!now || now->phase != Phase::offloadVerified) return false;
    try {
        return sameSnapshot(copied, Fingerprint::snapshot(drivePath, record.isDirectory), Fingerprint::same);
    } catch (const EngineError& error) {
        if (error.kind() == EngineError::Kind::sourceMissing) return false;
        throw;
    }
}

void OffloadExecutor::swapFile(const OffloadRecord& record, const HomeFolder& home, const std::string& drivePath,
                               const FingerprintSnapshot& before, const Reach& reach) {
    const std::string& original = record.originalPath;
    const std::string stagedName = temporaryPath(original, TemporaryKind::link, record.id);
    const std::string here = home.item();
    const std::string staged = home.working(TemporaryKind::link, record.id);
    ItemSteps steps(context);

    // The link, ready beside the file.
    PathUtil::removeTree(staged);
    makeLink(drivePath, staged);
    reach(FaultPoint::offloadLinkStaged, stagedName);

    if (!swapItems(staged, here)) {
        // No exchange here: the file steps aside, as a folder does, and the link is
        // made in its free place, which fails if anything took the place meanwhile (a
        // save by rename); recovery then keeps both versions.
        if (platform::calls().unlinkAt(AT_FDCWD, staged.c_str(), 0) != 0)
            throw POSIXFailure("unlink", stagedName, errno);
        renameExclusive(here, staged);
        if (!sameSnapshot(before, Fingerprint::snapshot(staged, false), Fingerprint::sameIgnoringChangeDate)) {
            renameExclusive(staged, here);
            throw EngineError::sourceChanged(original);
        }
        if (platform::calls().symlinkAt(drivePath.c_str(), AT_FDCWD, here.c_str()) != 0) {
            const int error = errno;
            if (error == EEXIST) throw EngineError::sourceChanged(original);
            renameExclusive(staged, here);
            throw POSIXFailure("symlink", original, error);
        }
    }

    // The link stands at the path; the file sits at the staged name. It goes only when
    // it is provably the version copied: size and dates can be put back by any program,
    // its bytes can't.
    reach(FaultPoint::offloadSwapped, stagedName);
    if (!sameSnapshot(before, Fingerprint::snapshot(staged, false), Fingerprint::sameIgnoringChangeDate) ||
        !steps.matchesChecksum(staged, record)) {
        // Written to around the swap: it goes back to its place.
        if (!steps.replaceOwnLink(record, staged, home)) steps.keepBeside(record, staged, home.path());
        throw EngineError::sourceChanged(original);
    }
    swapped_ = true;
    if (platform::calls().unlinkAt(AT_FDCWD, staged.c_str(), 0) != 0 && errno != ENOENT)
        throw POSIXFailure("unlink", stagedName, errno);

    // The original is gone already: nothing is deleted on this flush's strength.
    platform::flushFolderBestEffort(home.path());
}

void OffloadExecutor::swapFolder(const OffloadRecord& record, const HomeFolder& home, const std::string& drivePath,
                                 const FingerprintSnapshot& before, const Reach& reach) {
    const std::string& original = record.originalPath;
    const std::string trashName = temporaryPath(original, TemporaryKind::trash, record.id);
    const std::string here = home.item();
    const std::string trash = home.working(TemporaryKind::trash, record.id);

    // The folder steps aside; changed meanwhile, it comes straight back.
    renameItem(here, trash);
    reach(FaultPoint::offloadLinkStaged, trashName);
    if (!sameSnapshot(before, Fingerprint::snapshot(trash, true), Fingerprint::sameIgnoringChangeDate)) {
        renameExclusive(trash, here);
        throw EngineError::sourceChanged(original);
    }

    // The link in its place.
    makeLink(drivePath, here);
    swapped_ = true;
    platform::flushFolder(home.path());

    // Only now may the displaced folder go, and only when all it holds was copied.
    context.journal->setPhase(record.id, Phase::offloadCleanup);
    reach(FaultPoint::offloadSwapped, trashName);
    ItemSteps(context).deleteDisplacedFolder(record, trash, home.path());
}

}  // namespace keldwick
