#include <gtest/gtest.h>

#include "drives/WakeDetector.h"

using namespace keldwick;

namespace {
DrivePowerState asleep(int device = 1, std::optional<int> ms = std::nullopt) { return {device, 4, ms}; }
DrivePowerState awake() { return {4, 4, std::nullopt}; }
Date at(double s) { return Date{1000.0 + s}; }
}  // namespace

TEST(DrivePowerStateTest, AsleepAtTheEdges) {
    EXPECT_TRUE((DrivePowerState{1, 2}).isAsleep());
    EXPECT_FALSE((DrivePowerState{2, 2}).isAsleep());
    EXPECT_TRUE((DrivePowerState{2, 4}).isAsleep());
    EXPECT_FALSE((DrivePowerState{3, 4}).isAsleep());
    EXPECT_TRUE((DrivePowerState{0, 1}).isAsleep());
}

TEST(WakeDetectorTest, RisingDeviceStateShowsWakingForTwentySeconds) {
    WakeDetector detector;
    EXPECT_EQ(detector.update(asleep(1), at(0)), DriveWakeState::asleep);  // nothing to compare with
    EXPECT_EQ(detector.update(asleep(2), at(1)), DriveWakeState::waking);
    EXPECT_EQ(detector.update(asleep(2), at(20.9)), DriveWakeState::waking);  // 19.9 s after the sign
    EXPECT_EQ(detector.update(asleep(2), at(21)), DriveWakeState::asleep);    // exactly 20 s
    EXPECT_FALSE(detector.wakingSince);
    // The period was cleared, so a new sign starts a new one.
    EXPECT_EQ(detector.update(asleep(1), at(22)), DriveWakeState::asleep);
    EXPECT_EQ(detector.update(asleep(2), at(23)), DriveWakeState::waking);
    EXPECT_EQ(detector.wakingSince, at(23));
}

TEST(WakeDetectorTest, ActivityCountsOnlyWhenItsTimeGoesDown) {
    WakeDetector falling;
    falling.update(asleep(1, 5000), at(0));
    EXPECT_EQ(falling.update(asleep(1, 200), at(1)), DriveWakeState::waking);
    // Further signs keep the period's start.
    EXPECT_EQ(falling.update(asleep(1, 100), at(5)), DriveWakeState::waking);
    EXPECT_EQ(falling.wakingSince, at(1));

    for (auto [first, second] : {std::pair<std::optional<int>, std::optional<int>>{500, 500}, {500, 900},
                                 {std::nullopt, 100}, {500, std::nullopt}}) {
        WakeDetector detector;
        detector.update(asleep(1, first), at(0));
        EXPECT_EQ(detector.update(asleep(1, second), at(1)), DriveWakeState::asleep);
    }
}

TEST(WakeDetectorTest, AwakeOrMissingReadingsEndThePeriodAndBreakTheChain) {
    WakeDetector detector;
    detector.update(asleep(1), at(0));
    EXPECT_EQ(detector.update(asleep(2), at(1)), DriveWakeState::waking);
    EXPECT_EQ(detector.update(awake(), at(2)), DriveWakeState::awake);
    EXPECT_FALSE(detector.wakingSince);
    EXPECT_EQ(detector.update(asleep(2), at(3)), DriveWakeState::asleep);  // 4 -> 2 is no sign

    EXPECT_EQ(detector.update(std::nullopt, at(4)), DriveWakeState::awake);
    EXPECT_FALSE(detector.previous);
    EXPECT_EQ(detector.update(asleep(2), at(5)), DriveWakeState::asleep);
}

TEST(WakeDetectorTest, StatesReadAndWriteTheirStrings) {
    for (auto state : {DriveWakeState::awake, DriveWakeState::asleep, DriveWakeState::waking}) {
        EXPECT_EQ(parseDriveWakeState(toString(state)), state);
    }
    EXPECT_FALSE(parseDriveWakeState("Awake"));
    EXPECT_FALSE(parseDriveWakeState(""));
}
