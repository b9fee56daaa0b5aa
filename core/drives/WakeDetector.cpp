#include "drives/WakeDetector.h"

namespace keldwick {

std::string toString(DriveWakeState state) {
    switch (state) {
        case DriveWakeState::awake: return "awake";
        case DriveWakeState::asleep: return "asleep";
        case DriveWakeState::waking: return "waking";
    }
    return "awake";
}

std::optional<DriveWakeState> parseDriveWakeState(std::string_view text) {
    if (text == "awake") return DriveWakeState::awake;
    if (text == "asleep") return DriveWakeState::asleep;
    if (text == "waking") return DriveWakeState::waking;
    return std::nullopt;
}

DriveWakeState WakeDetector::update(const std::optional<DrivePowerState>& state, Date now) {
    if (!state || !state->isAsleep()) {
        wakingSince.reset();
        previous = state;
        return DriveWakeState::awake;
    }

    bool signOfWaking = false;
    if (previous) {
        if (previous->devicePowerState < state->devicePowerState) signOfWaking = true;
        if (previous->millisecondsSinceActivity && state->millisecondsSinceActivity &&
            *state->millisecondsSinceActivity < *previous->millisecondsSinceActivity) {
            signOfWaking = true;
        }
    }
    if (signOfWaking && !wakingSince) wakingSince = now;

    previous = state;
    if (wakingSince && now.timeIntervalSince(*wakingSince) < timeout) return DriveWakeState::waking;
    wakingSince.reset();
    return DriveWakeState::asleep;
}

}  // namespace keldwick
