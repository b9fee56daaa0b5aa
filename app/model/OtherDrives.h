#pragma once
// The drives other than the chosen one that hold items moved from this computer (an
// earlier drive, for instance): their names and whether they are plugged in, and the
// drive name and connection the files window shows for each record.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drives/DriveLocating.h"
#include "foundation/OffloadRecord.h"
#include "model/ModelState.h"

namespace keldwick {

// The name a mounted drive goes by: the name in its marker, else its volume's name; none
// when neither can be read.
std::optional<std::string> driveNameAt(const std::string& mountPath);

using DriveNameReader = std::function<std::optional<std::string>(const std::string& mountPath)>;

// Each drive id of `records` except `chosenID`: the name the drive goes by where it is
// mounted (`nameAt`, "your other drive" when that gives none), or none when it is not
// mounted. Reads the disk; any thread. Costs what the drives cost, not the records.
using MountedDrives = std::map<std::string, std::optional<std::string>>;
MountedDrives mountedOtherDrives(const RecordList& records, const std::string& chosenID,
                                 const DriveLocating& locator, const DriveNameReader& nameAt = driveNameAt);

// Those drives as the model lists them: an unplugged one keeps the name `known` holds for
// it, else "your other drive".
std::map<std::string, DriveStatus> otherDrives(const MountedDrives& mounted,
                                               const std::map<std::string, DriveStatus>& known);

// Whether the chosen drive's items can be brought back now: it is mounted, whether the
// locator took it or refused it (a refused volume still gives back what it holds, checked
// against the journal).
bool chosenDriveReachable(const ModelState& state);

// The chosen drive's display name and whether it is mounted, for its records; else the
// entry of otherDrives; else ("your other drive", not connected).
DriveStatus driveStatus(const ModelState& state, const OffloadRecord& record);

}  // namespace keldwick
