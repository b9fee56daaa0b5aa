#include "model/RefreshReading.h"

#include <algorithm>

namespace keldwick {

namespace {

constexpr double secondsPerDay = 86'400;

}  // namespace

DriveReading readDrive(const std::optional<Drive>& drive, const DriveLocating& locator, const SystemFacts& facts) {
    DriveReading reading;
    if (drive) {
        reading.root = locator.mountPoint(drive->id);
        reading.refusals = locator.refusals(drive->id);
    }
    if (reading.root) reading.volume = facts.volumeInfo(*reading.root);
    return reading;
}

std::vector<OffloadRecord> listedRecords(std::vector<OffloadRecord> all) {
    auto isListed = [](const OffloadRecord& record) {
        return record.phase != Phase::restored && record.phase != Phase::abandoned && record.phase != Phase::superseded;
    };
    // Sized exactly: the list is kept for as long as the records stay the same, and a list
    // grown by doubling holds up to twice the room it needs (tens of megabytes at 100,000).
    std::vector<OffloadRecord> listed;
    listed.reserve(static_cast<size_t>(std::count_if(all.begin(), all.end(), isListed)));
    for (auto& record : all) {
        if (isListed(record)) listed.push_back(std::move(record));
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const OffloadRecord& a, const OffloadRecord& b) { return a.updatedAt > b.updatedAt; });
    return listed;
}

std::vector<std::string> recentlyRestored(const std::vector<OffloadRecord>& restored, Date now,
                                          int64_t minimumAgeDays) {
    const double cutoff = now.secondsSince1970 - static_cast<double>(minimumAgeDays) * secondsPerDay;
    std::vector<std::string> paths;
    for (const auto& record : restored) {
        if (record.phase == Phase::restored && record.updatedAt.secondsSince1970 > cutoff)
            paths.push_back(record.originalPath);
    }
    return paths;
}

RefreshReading readRefresh(const RefreshSources& sources) {
    RefreshReading reading;
    reading.drive = sources.drive;
    reading.freeBytes = sources.facts.availableBytes(sources.home);
    reading.totalBytes = sources.facts.totalBytes(sources.home);
    reading.homeAccess = sources.facts.homeAccess(sources.home, sources.managedFolders);
    reading.chosenDrive = readDrive(sources.drive, *sources.locator, sources.facts);

    try {
        // Taken before the read: a commit landing during it changes the next stamp.
        const Journal::ChangeStamp stamp = sources.journal->changeStamp();
        if (sources.recordsStamp == stamp) {
            reading.records = sources.shown;
            reading.restored = sources.restored;
        } else {
            std::vector<OffloadRecord> all = sources.journal->allRecords();
            reading.recordsRead = true;
            std::vector<OffloadRecord> restored;
            for (auto& record : all) {
                if (record.phase == Phase::restored) restored.push_back(std::move(record));
            }
            reading.restored = RecordList(std::move(restored));
            std::vector<OffloadRecord> listed = listedRecords(std::move(all));
            // Compared here rather than on the main thread; the same records keep their list.
            reading.records = listed == sources.shown.all() ? sources.shown : RecordList(std::move(listed));
        }
        reading.recordsStamp = stamp;
        reading.hasBroughtFilesBack = !reading.restored.empty();
        reading.otherDrives = mountedOtherDrives(*reading.records, sources.drive ? sources.drive->id : std::string(),
                                                 *sources.locator, sources.facts.driveNameAt);
    } catch (const std::exception& e) {
        reading.journalError = e.what();
    }
    try {
        reading.pins = sources.journal->pins();
    } catch (const std::exception& e) {
        if (!reading.journalError) reading.journalError = e.what();
    }
    return reading;
}

}  // namespace keldwick
