#pragma once
// The drives other than the chosen one that hold items moved from this computer (an
// earlier drive, for instance): their names and whether they are plugged in, and the
// drive name and connection the files window shows for each record.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "drives/DriveLocating.h"
#include "foundation/OffloadRecord.h"
#include "model/ModelState.h"

namespace keldwick {

// The name a mounted drive goes by: the name in its marker, else its volume's name; none
// when neither can be read.
std::optional<std::string> driveNameAt(const std::string& mountPath);

using DriveNameReader = std::function<std::optional<std::string>(const std::string& mountPath)>;

// One entry for each drive id of the records, whatever their phase, except the chosen
// drive's. A mounted drive is named by `nameAt` ("your other drive" when it gives none);
// an unplugged one keeps the name otherDrives already holds for it, else "your other drive".
std::map<std::string, DriveStatus> otherDrives(const ModelState& state, const DriveLocating& locator,
                                               const DriveNameReader& nameAt = driveNameAt);

// The chosen drive's display name and whether it is mounted, for its records; else the
// entry of otherDrives; else ("your other drive", not connected).
DriveStatus driveStatus(const ModelState& state, const OffloadRecord& record);

}  // namespace keldwick
