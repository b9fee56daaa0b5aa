#include "drives/WakeDetector.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<DriveWakeState> kStateNames[] = {
    {DriveWakeState::awake, "awake"},
    {DriveWakeState::asleep, "asleep"},
    {DriveWakeState::waking, "waking"},
};

}  // namespace

std::string toString(DriveWakeState state) {
    return std::string(EnumNames::spellingOf(kStateNames, state, "awake"));
}

std::optional<DriveWakeState> parseDriveWakeState(std::string_view text) {
    return EnumNames::valueOf(kStateNames, text);
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
