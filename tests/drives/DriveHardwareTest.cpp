#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "drives/DriveHardware.h"
#include "platform/SysfsDeviceRegistry.h"
#include "support/SysfsFixture.h"
#include "support/TempDir.h"

using namespace keldwick;
using Medium = DriveHardware::Medium;

namespace {

class FakeRegistry : public platform::DeviceRegistry {
public:
    std::optional<platform::DeviceCharacteristics> facts;
    std::optional<std::vector<std::optional<platform::PowerManagement>>> power;
    std::optional<platform::DeviceCharacteristics> characteristics(const std::string&) const override { return facts; }
    std::optional<std::vector<std::optional<platform::PowerManagement>>> powerEntries(const std::string&) const override {
        return power;
    }
};

DriveHardware withSpeed(int64_t speed) {
    DriveHardware hardware;
    hardware.usbLinkSpeed = speed;
    return hardware;
}

}  // namespace

TEST(DriveHardwareTest, ConnectionFromLinkSpeedEdges) {
    EXPECT_EQ(withSpeed(999'999'999).connection(), "USB 2");
    EXPECT_TRUE(withSpeed(999'999'999).isUSB2());
    EXPECT_EQ(withSpeed(1'000'000'000).connection(), "USB 3 (5 Gb/s)");
    EXPECT_FALSE(withSpeed(1'000'000'000).isUSB2());
    EXPECT_EQ(withSpeed(6'000'000'000).connection(), "USB 3 (10 Gb/s)");
    EXPECT_EQ(withSpeed(12'000'000'000).connection(), "USB (12 Gb/s)");
    EXPECT_EQ(withSpeed(19'999'999'999).connection(), "USB (19 Gb/s)");
    EXPECT_EQ(withSpeed(40'000'000'000).connection(), "USB (40 Gb/s)");

    DriveHardware plain;
    EXPECT_FALSE(plain.connection());
    EXPECT_FALSE(plain.isUSB2());
    plain.interconnect = "SATA";
    EXPECT_EQ(plain.connection(), "SATA");
}

TEST(DriveHardwareTest, DiskImageAndDisplayName) {
    DriveHardware hardware;
    EXPECT_FALSE(hardware.isDiskImage());
    hardware.interconnect = "Virtual Interface";
    EXPECT_TRUE(hardware.isDiskImage());
    hardware.interconnect = "virtual interface";
    EXPECT_FALSE(hardware.isDiskImage());
    hardware.location = "File";
    EXPECT_TRUE(hardware.isDiskImage());

    EXPECT_FALSE(hardware.displayName());
    hardware.product = "Extreme";
    EXPECT_EQ(hardware.displayName(), "Extreme");
    hardware.vendor = "SanDisk";
    EXPECT_EQ(hardware.displayName(), "SanDisk Extreme");
}

TEST(DriveHardwareTest, RulesOverRegistryAnswers) {
    FakeRegistry registry;
    EXPECT_FALSE(DriveHardware::inspect("sdz", registry));  // no device

    registry.facts = platform::DeviceCharacteristics{};
    auto bare = DriveHardware::inspect("sdb", registry);
    ASSERT_TRUE(bare);
    EXPECT_EQ(*bare, DriveHardware{});  // a device without facts: unknown, nothing else

    registry.facts->mediumType = "solid state";
    registry.facts->vendorName = "    ";
    registry.facts->productName = "  Portable SSD \t";
    EXPECT_EQ(DriveHardware::inspect("sdb", registry)->medium, Medium::unknown);
    EXPECT_FALSE(DriveHardware::inspect("sdb", registry)->vendor);
    EXPECT_EQ(DriveHardware::inspect("sdb", registry)->product, "Portable SSD");
    registry.facts->mediumType = "Solid State";
    EXPECT_EQ(DriveHardware::inspect("sdb", registry)->medium, Medium::solidState);
    registry.facts->mediumType = "Rotational";
    EXPECT_EQ(DriveHardware::inspect("sdb", registry)->medium, Medium::rotational);
}

TEST(DriveHardwareTest, PowerWalkTakesTheFirstUsableEntry) {
    FakeRegistry registry;
    EXPECT_FALSE(DriveHardware::powerState("sdb", registry));
    registry.power = std::vector<std::optional<platform::PowerManagement>>{};
    EXPECT_FALSE(DriveHardware::powerState("sdb", registry));  // top reached

    platform::PowerManagement noTimer{std::nullopt, 1, 4, 10};
    platform::PowerManagement noState{2000, std::nullopt, 4, 10};
    platform::PowerManagement usable{2000, 1, 4, std::nullopt};
    platform::PowerManagement later{2000, 4, 4, 7};
    registry.power = std::vector<std::optional<platform::PowerManagement>>{std::nullopt, noTimer, noState, usable, later};
    EXPECT_EQ(DriveHardware::powerState("sdb", registry), (DrivePowerState{1, 4, std::nullopt}));
}

TEST(DriveHardwareTest, JsonKeepsOnlyPresentFields) {
    DriveHardware hardware{Medium::solidState, "USB", "External", "SanDisk", std::nullopt, 5'000'000'000};
    nlohmann::json json = hardware;
    EXPECT_EQ(json.dump(),
              R"({"interconnect":"USB","location":"External","medium":"solidState","usbLinkSpeed":5000000000,"vendor":"SanDisk"})");
    EXPECT_EQ(json.get<DriveHardware>(), hardware);

    auto minimal = nlohmann::json::parse(R"({"medium":"rotational"})").get<DriveHardware>();
    EXPECT_EQ(minimal, DriveHardware{Medium::rotational});
    EXPECT_ANY_THROW(nlohmann::json::parse(R"({"medium":"spinning"})").get<DriveHardware>());
    EXPECT_ANY_THROW(nlohmann::json::parse(R"({"vendor":"X"})").get<DriveHardware>());
    EXPECT_ANY_THROW(nlohmann::json::parse(R"({"medium":"unknown","usbLinkSpeed":"fast"})").get<DriveHardware>());
}

// Devices as sysfs shows them.
class SysfsHardwareTest : public ::testing::Test {
protected:
    test::TempDir temp;
    test::SysfsFixture fixture{temp.path()};
    int64_t clock = 1'000'000;
    platform::SysfsDeviceRegistry registry{fixture.roots(), [this] { return clock; }};
};

TEST_F(SysfsHardwareTest, UsbSolidStateDrive) {
    std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
    fixture.attribute(disk + "/queue", "rotational", "0");
    fixture.partition(disk, "sdb1", "8:17");
    auto hardware = DriveHardware::inspect("sdb1", registry);
    ASSERT_TRUE(hardware);
    EXPECT_EQ(*hardware, (DriveHardware{Medium::solidState, "USB", "External", "SanDisk", "Extreme 55AE",
                                        5'000'000'000}));
    EXPECT_EQ(hardware->connection(), "USB 3 (5 Gb/s)");
}

TEST_F(SysfsHardwareTest, UsbStickWithoutEvidenceOfItsMedium) {
    std::string disk = fixture.usbDisk("sdc", "8:32", "480", "1-4");
    // A stick whose INQUIRY names are blank falls back to the USB strings.
    fixture.attribute(disk + "/device", "vendor", "        ");
    fixture.attribute(disk + "/device", "model", "                ");
    fixture.attribute(disk, "removable", "1");
    auto hardware = DriveHardware::inspect("sdc", registry);
    ASSERT_TRUE(hardware);
    EXPECT_EQ(hardware->medium, Medium::unknown);  // rotational=1 is only the kernel's default
    EXPECT_EQ(hardware->vendor, "SanDisk");
    EXPECT_EQ(hardware->product, "Extreme 55AE");
    EXPECT_TRUE(hardware->isUSB2());
    EXPECT_EQ(hardware->location, "External");
}

TEST_F(SysfsHardwareTest, InternalDisks) {
    fixture.nvmeDisk("nvme0n1", "259:0");
    fixture.partition(fixture.root() + "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/block/nvme0n1",
                      "nvme0n1p2", "259:2");
    EXPECT_EQ(DriveHardware::inspect("nvme0n1p2", registry),
              (DriveHardware{Medium::solidState, "PCI-Express", "Internal", std::nullopt,
                             "Samsung SSD 970 EVO Plus 1TB", std::nullopt}));

    fixture.sataDisk("sda", "8:0", 7200);
    EXPECT_EQ(DriveHardware::inspect("sda", registry),
              (DriveHardware{Medium::rotational, "SATA", "Internal", std::nullopt, "WDC WD40EFRX-68N",
                             std::nullopt}));

    // The virtio disk's "vendor" is a hex id, and its rotational flag a default.
    fixture.virtioDisk("vda", "254:0");
    EXPECT_EQ(DriveHardware::inspect("vda", registry),
              (DriveHardware{Medium::unknown, "Virtio", "Internal", std::nullopt, std::nullopt, std::nullopt}));
}

TEST_F(SysfsHardwareTest, SataSolidStateByItsRotationPage) {
    fixture.sataDisk("sdd", "8:48", 1);
    EXPECT_EQ(DriveHardware::inspect("sdd", registry)->medium, Medium::solidState);
    test::SysfsFixture other{temp.path() + "/other"};
    other.sataDisk("sde", "8:64", 0);  // rate not reported
    platform::SysfsDeviceRegistry otherRegistry{other.roots()};
    EXPECT_EQ(DriveHardware::inspect("sde", otherRegistry)->medium, Medium::unknown);
}

TEST_F(SysfsHardwareTest, LoopDevicesAreDiskImages) {
    fixture.loopDevice("loop3", "7:3");
    auto hardware = DriveHardware::inspect("loop3", registry);
    ASSERT_TRUE(hardware);
    EXPECT_EQ(*hardware, (DriveHardware{Medium::unknown, "Virtual Interface", "File"}));
    EXPECT_TRUE(hardware->isDiskImage());
    // Reached through device mapper as well.
    std::string dm = fixture.disk(fixture.root() + "/sys/devices/virtual", "dm-0", "253:0");
    fixture.link(dm + "/slaves", "loop3", fixture.root() + "/sys/devices/virtual/block/loop3");
    EXPECT_TRUE(DriveHardware::inspect("dm-0", registry)->isDiskImage());
}

TEST_F(SysfsHardwareTest, DeviceMapperOverAUsbPartition) {
    std::string disk = fixture.usbDisk("sdb", "8:16", "10000");
    std::string partition = fixture.partition(disk, "sdb1", "8:17");
    std::string dm = fixture.disk(fixture.root() + "/sys/devices/virtual", "dm-1", "253:1");
    fixture.link(dm + "/slaves", "sdb1", partition);
    auto hardware = DriveHardware::inspect("dm-1", registry);
    ASSERT_TRUE(hardware);
    EXPECT_EQ(hardware->interconnect, "USB");
    EXPECT_EQ(hardware->connection(), "USB 3 (10 Gb/s)");
}

TEST_F(SysfsHardwareTest, UnknownOrUnsafeNamesGiveNothing) {
    fixture.usbDisk("sdb", "8:16", "5000");
    for (std::string name : {"sdq", "", "..", "../block/sdb", "."}) {
        EXPECT_FALSE(DriveHardware::inspect(name, registry)) << name;
        EXPECT_FALSE(DriveHardware::powerState(name, registry)) << name;
    }
}

TEST_F(SysfsHardwareTest, PowerStateFollowsRuntimeSuspendAndActivity) {
    std::string disk = fixture.usbDisk("sdb", "8:16", "5000");
    fixture.partition(disk, "sdb1", "8:17");
    std::string scsi = disk.substr(0, disk.size() - std::string("/block/sdb").size());

    // Only the USB device may be suspended by the kernel (control "auto"); the disk's own
    // SCSI device has runtime PM switched off, so its entry has no idle timer.
    auto first = DriveHardware::powerState("sdb1", registry);
    EXPECT_EQ(first, (DrivePowerState{4, 4, std::nullopt}));  // no activity baseline yet

    clock += 1500;
    EXPECT_EQ(DriveHardware::powerState("sdb1", registry), (DrivePowerState{4, 4, 1500}));

    fixture.power(scsi, "suspended", "auto");
    clock += 500;
    EXPECT_EQ(DriveHardware::powerState("sdb1", registry), (DrivePowerState{1, 4, 2000}));
    EXPECT_TRUE(DriveHardware::powerState("sdb1", registry)->isAsleep());

    fixture.power(scsi, "resuming", "auto");
    fixture.attribute(disk, "stat", "2 0 16 0 0 0 0 0 0 0 0");
    clock += 100;
    EXPECT_EQ(DriveHardware::powerState("sdb1", registry), (DrivePowerState{2, 4, 0}));
}

TEST_F(SysfsHardwareTest, NoPowerStateWithoutRuntimePowerManagement) {
    fixture.nvmeDisk("nvme0n1", "259:0");
    fixture.virtioDisk("vda", "254:0");
    fixture.loopDevice("loop0", "7:0");
    EXPECT_FALSE(DriveHardware::powerState("nvme0n1", registry));
    EXPECT_FALSE(DriveHardware::powerState("vda", registry));
    EXPECT_FALSE(DriveHardware::powerState("loop0", registry));
}
