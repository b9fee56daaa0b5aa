#pragma once
// Turns successive power readings of a drive into awake, asleep or waking. Waking is shown
// for at most `timeout` seconds after an asleep reading that shows activity against the
// one before it. No I/O: the caller supplies each reading and the time it was taken.

#include <optional>
#include <string>
#include <string_view>

#include "drives/DrivePowerState.h"
#include "foundation/Date.h"

namespace keldwick {

enum class DriveWakeState { awake, asleep, waking };

std::string toString(DriveWakeState state);
std::optional<DriveWakeState> parseDriveWakeState(std::string_view text);

struct WakeDetector {
    double timeout = 20.0;
    std::optional<DrivePowerState> previous;
    std::optional<Date> wakingSince;

    // A missing reading (power state unreadable) counts as awake. The first reading can't
    // be `waking`: there is nothing to compare it with.
    DriveWakeState update(const std::optional<DrivePowerState>& state, Date now);
};

}  // namespace keldwick
