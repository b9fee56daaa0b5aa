#include <gtest/gtest.h>

#include <deque>

#include "drives/DrivePowerReader.h"
#include "drives/WakeDetector.h"
#include "platform/SysfsDeviceRegistry.h"
#include "support/SysfsFixture.h"
#include "support/TempDir.h"

using namespace keldwick;
using platform::DiskPowerMode;
using platform::PowerModeAnswer;
using platform::PowerModeRefused;

namespace {

// Answers as scripted, the last one again once the script runs out; counts the questions.
class ScriptedModes : public platform::DiskPowerModes {
public:
    mutable std::deque<PowerModeAnswer> answers;
    mutable std::vector<std::string> asked;
    PowerModeAnswer powerMode(const std::string& disk) const override {
        asked.push_back(disk);
        PowerModeAnswer answer = answers.front();
        if (answers.size() > 1) answers.pop_front();
        return answer;
    }
};

class DrivePowerReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        disk = fixture.usbDisk("sdb", "8:16", "5000");
        fixture.partition(disk, "sdb1", "8:17");
        scsi = disk.substr(0, disk.size() - std::string("/block/sdb").size());
        usb = scsi.substr(0, scsi.find("/2-1:1.0"));
    }
    // The disk's counters: reads it completed, and reads waiting for it.
    void counters(int completed, int inFlight) {
        fixture.attribute(disk, "stat", std::to_string(completed) + " 0 8 0 0 0 0 0 " + std::to_string(inFlight) + " 0 0");
        fixture.attribute(disk, "inflight", std::to_string(inFlight) + " 0");
    }

    test::TempDir temp;
    test::SysfsFixture fixture{temp.path()};
    int64_t clock = 1'000'000;
    platform::SysfsDeviceRegistry registry{fixture.roots(), [this] { return clock; }};
    std::shared_ptr<ScriptedModes> modes = std::make_shared<ScriptedModes>();
    DrivePowerReader reader{registry, modes, [this] { return clock; }};
    std::string disk, scsi, usb;
};

TEST_F(DrivePowerReaderTest, TheDisksOwnModeTellsStandbyThatSysfsCallsActive) {
    modes->answers = {DiskPowerMode::standby, DiskPowerMode::spinning};
    EXPECT_EQ(reader.read("sdb1"), (DrivePowerState{1, 4, 0}));  // the sysfs reading set the baseline
    clock += 1000;
    EXPECT_EQ(reader.read("sdb1"), (DrivePowerState{4, 4, 1000}));
    EXPECT_EQ(modes->asked, (std::vector<std::string>{"sdb", "sdb"}));  // the whole disk

    // Without udisks2, the sysfs rule alone: the USB device is active under "auto".
    DrivePowerReader sysfsOnly{registry, nullptr};
    EXPECT_EQ(sysfsOnly.read("sdb1"), (DrivePowerState{4, 4, 1000}));
}

TEST_F(DrivePowerReaderTest, ADiskTheKernelSuspendedIsNeverAsked) {
    modes->answers = {DiskPowerMode::spinning};
    for (const char* status : {"suspended", "suspending", "resuming"}) {
        fixture.power(usb, status, "auto");
        auto reading = reader.read("sdb1");
        ASSERT_TRUE(reading) << status;
        EXPECT_TRUE(reading->isAsleep()) << status;
    }
    // Its own SCSI device resuming, with runtime power management off: the sysfs rule
    // (the USB device, active), still never a query.
    fixture.power(usb, "active", "auto");
    fixture.power(scsi, "resuming", "on");
    EXPECT_EQ(reader.read("sdb1")->devicePowerState, 4);
    EXPECT_TRUE(modes->asked.empty());
}

TEST_F(DrivePowerReaderTest, AStandbyDiskSentWorkShowsWakingUntilItAnswersSpinning) {
    modes->answers = {DiskPowerMode::standby};
    WakeDetector detector;
    Date now{1000};
    auto step = [&](double seconds) {
        clock += static_cast<int64_t>(seconds * 1000);
        now = now.adding(seconds);
        return detector.update(reader.read("sdb1"), now);
    };
    EXPECT_EQ(step(0), DriveWakeState::asleep);
    EXPECT_EQ(step(1), DriveWakeState::asleep);

    // A read reaches the sleeping disk and waits while it spins up: it isn't asked (the
    // question would wait behind the read), and its standby answer stands with new activity.
    counters(1, 1);
    const size_t askedBefore = modes->asked.size();
    EXPECT_EQ(step(1), DriveWakeState::waking);
    EXPECT_EQ(step(1), DriveWakeState::waking);
    EXPECT_EQ(modes->asked.size(), askedBefore);

    // The read is done: asked again, the disk is spinning.
    counters(2, 0);
    modes->answers = {DiskPowerMode::spinning};
    EXPECT_EQ(step(1), DriveWakeState::awake);
    EXPECT_EQ(modes->asked.size(), askedBefore + 1);

    // Back in standby, then a long copy: reads complete while others wait at every reading.
    // A completed read proves the disk spun up, unasked.
    modes->answers = {DiskPowerMode::standby};
    EXPECT_EQ(step(1), DriveWakeState::asleep);
    counters(2, 1);
    EXPECT_EQ(step(1), DriveWakeState::waking);
    counters(40, 3);
    EXPECT_EQ(step(1), DriveWakeState::awake);
    counters(90, 2);
    EXPECT_EQ(step(1), DriveWakeState::awake);
    EXPECT_EQ(modes->asked.size(), askedBefore + 2);

    // Work in flight without any answer yet: asked all the same.
    DrivePowerReader fresh{registry, modes};
    counters(91, 2);
    EXPECT_EQ(fresh.read("sdb1"), (DrivePowerState{1, 4, 0}));
    EXPECT_EQ(modes->asked.size(), askedBefore + 3);
}

TEST_F(DrivePowerReaderTest, RefusalsFallBackToSysfsAndPauseTheQuestionsButTimeoutsDoNot) {
    // Standby, then the question times out while the disk is busy: the standby answer stands.
    PowerModeRefused timedOut{"udisks2: Connection timed out", true};
    modes->answers = {DiskPowerMode::standby, timedOut, DiskPowerMode::standby};
    EXPECT_TRUE(reader.read("sdb1")->isAsleep());
    EXPECT_TRUE(reader.read("sdb1")->isAsleep());
    EXPECT_TRUE(reader.read("sdb1")->isAsleep());
    EXPECT_EQ(modes->asked.size(), 3u);

    // polkit refuses: the sysfs rule (awake), and no question for a minute.
    modes->answers = {PowerModeRefused{"udisks2: Not authorized to perform operation"}, DiskPowerMode::standby};
    EXPECT_EQ(reader.read("sdb1"), (DrivePowerState{4, 4, 0}));
    clock += DrivePowerReader::refusalPauseMilliseconds - 1;
    EXPECT_FALSE(reader.read("sdb1")->isAsleep());
    // The refusal forgot the standby answer: work in flight now reads by sysfs.
    counters(1, 1);
    EXPECT_FALSE(reader.read("sdb1")->isAsleep());
    counters(2, 0);
    EXPECT_EQ(modes->asked.size(), 4u);
    clock += 1;
    EXPECT_TRUE(reader.read("sdb1")->isAsleep());
    EXPECT_EQ(modes->asked.size(), 5u);

    // A name no device has: nothing, and nothing asked.
    EXPECT_FALSE(reader.read("sdz"));
    EXPECT_EQ(modes->asked.size(), 5u);
}

TEST(SysfsDiskActivityTest, NamesTheWholeDiskAndItsRequestsInFlight) {
    test::TempDir temp;
    test::SysfsFixture fixture{temp.path()};
    int64_t clock = 0;
    platform::SysfsDeviceRegistry registry{fixture.roots(), [&clock] { return clock; }};
    std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
    fixture.partition(disk, "sdb1", "8:17");

    auto first = registry.diskActivity("sdb1");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->diskName, "sdb");
    EXPECT_FALSE(first->requestsInFlight);
    EXPECT_FALSE(first->millisecondsSinceActivity);

    struct Case {
        const char* stat;
        const char* inflight;  // null: no such file (older kernels): the stat line's ninth field
        bool inFlight;
    };
    const Case cases[] = {
        {"1 0 8 0 0 0 0 0 3 0 0", nullptr, true},
        {"1 0 8 0 0 0 0 0 0 0 0", nullptr, false},
        {"1 0 8 0 0 0 0 0 0 0 0", "       0        1", true},
        {"1 0 8 0 0 0 0 0 2 0 0", "       0        0", false},
    };
    for (const auto& c : cases) {
        fixture.attribute(disk, "stat", c.stat);
        if (c.inflight) fixture.attribute(disk, "inflight", c.inflight);
        clock += 10;
        auto activity = registry.diskActivity("sdb1");
        ASSERT_TRUE(activity);
        EXPECT_EQ(activity->requestsInFlight, c.inFlight) << c.stat << " / " << (c.inflight ? c.inflight : "-");
    }
    // Completed: reads (first field) and writes (fifth).
    fixture.attribute(disk, "stat", "4 1 64 9 6 2 48 7 0 20 16");
    EXPECT_EQ(registry.diskActivity("sdb")->completedRequests, 10);
    EXPECT_FALSE(registry.diskActivity("sdz"));
}

}  // namespace
