#include <gtest/gtest.h>

#include <cstdlib>

#include "drives/DrivePowerReader.h"
#include "platform/FakeUDisks.h"
#include "platform/SysfsDeviceRegistry.h"
#include "platform/UDisksPower.h"
#include "support/SysfsFixture.h"

using namespace keldwick;
using platform::DiskPowerMode;
using platform::PowerModeRefused;
using platform::UDisksPower;
using test::FakeUDisks;

namespace {

const std::string kDrive = "/org/freedesktop/UDisks2/drives/WDC_WD40EZRZ_WD_1234";

std::string refusalOf(const platform::PowerModeAnswer& answer) {
    const auto* refused = std::get_if<PowerModeRefused>(&answer);
    return refused ? refused->reason : "";
}

TEST(UDisksPowerTest, ReadsTheDrivesStateWithoutInteraction) {
    FakeUDisks udisks;
    if (udisks.skipReason()) GTEST_SKIP() << *udisks.skipReason();
    UDisksPower power;
    struct Case {
        uint8_t state;
        std::optional<DiskPowerMode> mode;  // none: refused as an unknown state
    };
    const Case cases[] = {
        {0x00, DiskPowerMode::standby},  {0x01, DiskPowerMode::standby},  {0x40, DiskPowerMode::standby},
        {0x41, DiskPowerMode::spinning}, {0x80, DiskPowerMode::spinning}, {0x83, DiskPowerMode::spinning},
        {0xFF, DiskPowerMode::spinning}, {0x7F, std::nullopt},             {0x02, std::nullopt},
    };
    for (const auto& c : cases) {
        udisks.set("sdb", {.drive = kDrive, .state = c.state});
        auto answer = power.powerMode("sdb");
        if (c.mode) {
            ASSERT_TRUE(std::holds_alternative<DiskPowerMode>(answer)) << int(c.state) << ": " << refusalOf(answer);
            EXPECT_EQ(std::get<DiskPowerMode>(answer), *c.mode) << int(c.state);
        } else {
            EXPECT_NE(refusalOf(answer).find("unknown power state"), std::string::npos) << int(c.state);
        }
    }
    // Each question went to the disk's block object, then its drive, never prompting.
    const auto calls = udisks.calls();
    ASSERT_EQ(calls.size(), 2 * std::size(cases));
    EXPECT_EQ(calls[0].path, "/org/freedesktop/UDisks2/block_devices/sdb");
    EXPECT_EQ(calls[0].member, "Get");
    EXPECT_EQ(calls[1].path, kDrive);
    EXPECT_EQ(calls[1].member, "PmGetState");
    for (size_t i = 1; i < calls.size(); i += 2) EXPECT_TRUE(calls[i].noUserInteraction);
}

TEST(UDisksPowerTest, EveryWayOfNotAnsweringIsARefusal) {
    FakeUDisks udisks;
    if (udisks.skipReason()) GTEST_SKIP() << *udisks.skipReason();
    udisks.set("sdb", {.drive = kDrive, .errorName = "org.freedesktop.UDisks2.Error.NotAuthorized"});
    udisks.set("sdc", {.drive = "/", .state = 0x00});  // a block without a drive
    udisks.set("sdd", {.drive = "/org/freedesktop/UDisks2/drives/Bridge"});  // the drive refuses the command
    udisks.set("sde", {.drive = "/org/freedesktop/UDisks2/drives/Slow", .state = 0x00, .delayMilliseconds = 600});
    UDisksPower power(200'000);

    auto refused = power.powerMode("sdb");
    EXPECT_NE(refusalOf(refused).find("Not authorized"), std::string::npos);
    EXPECT_FALSE(std::get<PowerModeRefused>(refused).timedOut);  // a refusal is no timeout
    EXPECT_NE(refusalOf(power.powerMode("sdc")).find("no drive"), std::string::npos);
    EXPECT_NE(refusalOf(power.powerMode("sdd")).find("CHECK POWER MODE"), std::string::npos);
    EXPECT_FALSE(refusalOf(power.powerMode("sdz")).empty());  // udisks2 doesn't know it
    EXPECT_FALSE(refusalOf(power.powerMode("")).empty());

    auto slow = power.powerMode("sde");
    ASSERT_TRUE(std::holds_alternative<PowerModeRefused>(slow));
    EXPECT_TRUE(std::get<PowerModeRefused>(slow).timedOut);
}

TEST(UDisksPowerTest, WithoutUDisksOrWithoutABusNothingIsTold) {
    {
        FakeUDisks bus(false);  // the bus runs, udisks2 isn't on it
        if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
        EXPECT_NE(refusalOf(UDisksPower().powerMode("sdb")).find("udisks2"), std::string::npos);
    }
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string kept = previous ? previous : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/keldwick-test-bus", 1);
    EXPECT_NE(refusalOf(UDisksPower().powerMode("sdb")).find("no system bus"), std::string::npos);
    if (previous) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1);
    else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

// The whole reading: a partition's disk asked of udisks2, sysfs where udisks2 refuses.
TEST(UDisksPowerTest, APartitionsDiskReadsAsleepThroughUDisksAndBySysfsWhenRefused) {
    FakeUDisks udisks;
    if (udisks.skipReason()) GTEST_SKIP() << *udisks.skipReason();
    test::TempDir temp;
    test::SysfsFixture fixture{temp.path()};
    std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
    fixture.partition(disk, "sdb1", "8:17");
    platform::SysfsDeviceRegistry registry{fixture.roots()};
    DrivePowerReader reader{registry, std::make_shared<UDisksPower>()};

    udisks.set("sdb", {.drive = kDrive, .state = 0x00});
    auto standby = reader.read("sdb1");
    ASSERT_TRUE(standby);
    EXPECT_TRUE(standby->isAsleep());

    DrivePowerReader refused{registry, std::make_shared<UDisksPower>()};
    udisks.set("sdb", {.drive = kDrive, .errorName = "org.freedesktop.UDisks2.Error.NotAuthorized"});
    auto bySysfs = refused.read("sdb1");
    ASSERT_TRUE(bySysfs);
    EXPECT_EQ(bySysfs->devicePowerState, 4);  // the USB device, active under "auto"
}

TEST(UDisksPowerTest, BlockObjectPathsEscapeAsUDisksDoes) {
    const std::string base = "/org/freedesktop/UDisks2/block_devices/";
    EXPECT_EQ(UDisksPower::blockObjectPath("sdb"), base + "sdb");
    EXPECT_EQ(UDisksPower::blockObjectPath("nvme0n1"), base + "nvme0n1");
    EXPECT_EQ(UDisksPower::blockObjectPath("dm-0"), base + "dm_2d0");
    EXPECT_EQ(UDisksPower::blockObjectPath("a_b.c"), base + "a_5fb_2ec");
}

}  // namespace
