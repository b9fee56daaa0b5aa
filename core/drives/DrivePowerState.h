#pragma once
// One reading of a drive's power state.

#include <optional>

namespace keldwick {

struct DrivePowerState {
    DrivePowerState() = default;
    DrivePowerState(int device, int highest, std::optional<int> sinceActivity = std::nullopt)
        : devicePowerState(device), maxPowerState(highest), millisecondsSinceActivity(sinceActivity) {}

    int devicePowerState = 0;  // the device's current power state number
    int maxPowerState = 0;     // its highest power state number
    std::optional<int> millisecondsSinceActivity;

    // With a highest state below 3, any lower state is asleep; otherwise states up to two
    // below the highest are (with 4: 0...2 asleep, 3 and 4 awake).
    bool isAsleep() const {
        if (maxPowerState < 3) return devicePowerState < maxPowerState;
        return devicePowerState <= maxPowerState - 2;
    }

    bool operator==(const DrivePowerState&) const = default;
};

}  // namespace keldwick
