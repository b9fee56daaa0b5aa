#pragma once
// What a refresh of the model reads from the disk: free space, the access probe, where the
// chosen drive is mounted, the journal's records and pins, and where the other drives the
// records name are mounted. With a large journal or a slow volume this takes long, so the
// model reads on a worker thread and applies the values on the main thread; and a journal
// that has not changed since the last reading is not read again, so that the periodic
// check at rest costs nothing that grows with the records. Nothing here touches the model:
// any thread may read.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "drives/VolumeInfo.h"
#include "foundation/Date.h"
#include "foundation/Journal.h"
#include "foundation/OffloadRecord.h"
#include "model/AppServices.h"
#include "model/OtherDrives.h"
#include "model/RecordList.h"

namespace keldwick {

// Where the chosen drive is mounted, and its volume; none of either without a drive.
// The volumes that carry its marker but were not taken, and why.
struct DriveReading {
    std::optional<std::string> root;
    std::optional<VolumeInfo> volume;
    std::vector<DriveRefusal> refusals;
};

DriveReading readDrive(const std::optional<Drive>& drive, const DriveLocating& locator, const SystemFacts& facts);

// Everything a reading needs, held by value so that a worker can keep it.
struct RefreshSources {
    std::string home;
    std::optional<Drive> drive;  // the chosen drive
    std::shared_ptr<Journal> journal;
    std::shared_ptr<DriveLocating> locator;
    SystemFacts facts;
    RecordList shown;  // the records the model lists now: a reading of the same ones shares them
    std::vector<std::string> managedFolders;
    // The journal's stamp when `shown` and `restored` were read, if they were: while the
    // journal's stamp is the same, a reading keeps them rather than reading every record.
    std::optional<Journal::ChangeStamp> recordsStamp;
    RecordList restored;
};

struct RefreshReading {
    std::optional<Drive> drive;  // the drive it was read for
    std::optional<int64_t> freeBytes;
    std::optional<int64_t> totalBytes;
    HomeAccess::Reading homeAccess;
    DriveReading chosenDrive;

    // The journal's part. A value that could not be read is none, and journalError holds
    // the first failure's message: the model then keeps what it showed before.
    std::optional<RecordList> records;    // the listed ones, newest change first
    bool hasBroughtFilesBack = false;
    RecordList restored;                  // records in phase "restored", in journal order
    MountedDrives otherDrives;            // of the listed records, when they were read
    std::optional<Journal::ChangeStamp> recordsStamp;  // taken before the records were read
    bool recordsRead = false;  // every record was read, not kept from the last reading
    std::optional<std::vector<std::string>> pins;
    std::optional<std::string> journalError;
};

RefreshReading readRefresh(const RefreshSources& sources);

// The records the model lists: every phase but "restored", "abandoned" and "superseded",
// the latest change first (equal dates keep journal order). Takes the records by value so
// that a reading moves them rather than copying.
std::vector<OffloadRecord> listedRecords(std::vector<OffloadRecord> all);

// Original paths of the `restored` records changed after `now` minus the minimum age, in
// their order: items the user just brought back stay on the computer.
std::vector<std::string> recentlyRestored(const std::vector<OffloadRecord>& restored, Date now,
                                          int64_t minimumAgeDays);

}  // namespace keldwick
