#pragma once
// Whether anyone but the user could have changed what a drive holds. Once a drive was
// found refused, or with a folder inside its Keldwick folder that belonged to another
// account or that others could write, its copies may hold somebody else's bytes from then
// on: content that changed there is never taken for the user's own edit saved through a
// link. The journal keeps the first such finding for good.

#include <optional>
#include <string>

#include "foundation/Journal.h"

namespace keldwick::DriveExposure {

// Records `why` for the drive unless a finding is recorded already. Never throws: a
// journal that can't be written leaves the drive judged by what is found now.
void note(Journal& journal, const std::string& driveID, const std::string& why) noexcept;

// The finding recorded for the drive, if any. Throws SQLiteError when the read fails.
std::optional<std::string> known(Journal& journal, const std::string& driveID);

}  // namespace keldwick::DriveExposure
