#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "foundation/Clock.h"
#include "foundation/AndroidDevices.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "scanning/NeverTouch.h"
#include "scanning/Scanner.h"
#include "space/SystemDataDiscovery.h"
#include "support/FakeOpenFiles.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

constexpr double kDay = 86'400;

void setModified(const std::string& path, Date modified) {
    const struct timespec times[2] = {{static_cast<time_t>(modified.secondsSince1970), 0},
                                      {static_cast<time_t>(modified.secondsSince1970), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Fixture devices in one home, each seen by the scanner's device pass and by System
// Data. The scan happens 1,000 days from now, so freshly written files are old.
TEST(AndroidDevicesTest, DevicesThroughTheScannerAndSystemData) {
    struct Case {
        const char* folder;                   // NAME of NAME.avd
        bool ini;                             // NAME.ini beside the folder
        const char* config;                   // config.ini; nullptr for none
        const char* lockEntry;                // "file", "folder", "link" or nullptr
        bool heldOpen;
        bool bootedLately;                    // snapshots modified a day before the scan
        std::optional<std::string> shown;     // the name both show; nothing: not a device
        std::optional<std::string> skip;      // the scanner's reason; nothing: proposed whole
    };
    const std::vector<Case> cases = {
        {"Pixel_7_API_34", true, "hw.ramSize=2048\r\navd.ini.displayname = Work Phone\r\n", nullptr, false, false,
         "Work Phone", std::nullopt},
        {"Tablet_API_33", true, "hw.ramSize=4096\navd.ini.displayname=\n", nullptr, false, false, "Tablet API 33",
         std::nullopt},
        {"No_Config", true, nullptr, nullptr, false, false, "No Config", std::nullopt},
        {"Lock_File", true, nullptr, "file", false, false, "Lock File", "Running"},
        {"Lock_Folder", true, nullptr, "folder", false, false, "Lock Folder", "Running"},
        {"Lock_Link", true, nullptr, "link", false, false, "Lock Link", "Running"},
        {"Held", true, nullptr, nullptr, true, false, "Held", "In use by qemu-system-x86_64"},
        {"Booted", true, nullptr, nullptr, false, true, "Booted", "Used lately"},
        {"Orphan", false, "avd.ini.displayname=Orphan\n", nullptr, false, false, std::nullopt, std::nullopt},
    };

    test::TempDir dir;
    const std::string home = *PathUtil::canonical(dir.path()) + "/home";
    const std::string devices = AndroidDevices::devicesFolder(home);
    const Date now = Clock::system()->now().adding(1000 * kDay);
    const Date booted{static_cast<double>(static_cast<int64_t>(now.adding(-kDay).secondsSince1970))};
    std::vector<OpenFileUsage> uses;
    for (const auto& c : cases) {
        const std::string device = devices + "/" + c.folder + ".avd";
        test::writeFile(device + "/userdata-qemu.img", std::string(8192, 'u'));
        test::writeFile(device + "/snapshots/default_boot/ram.bin", std::string(4096, 's'));
        if (c.ini) test::writeFile(devices + "/" + c.folder + ".ini", "path=" + device + "\n");
        if (c.config) test::writeFile(device + "/config.ini", c.config);
        const std::string_view lock = c.lockEntry ? c.lockEntry : "";
        if (lock == "file") test::writeFile(device + "/multiinstance.lock", "");
        if (lock == "folder") test::makeDirs(device + "/hardware-qemu.ini.lock");
        if (lock == "link") {
            ASSERT_EQ(symlink("12345", (device + "/cache.img.lock").c_str()), 0);
        }
        if (c.heldOpen) uses.push_back({device + "/userdata-qemu.img", 42, "qemu-system-x86_64"});
        if (c.bootedLately) setModified(device + "/snapshots", booted);
    }

    OffloadPolicy policy;
    policy.minimumAge = 30 * kDay;
    policy.minimumItemSize = 1;
    policy.minimumEmulatorSize = 1;
    Scanner scan(policy, NeverTouch::rules(home, {}, {}, {}, {"/usr"}), {}, uses, now);
    scan.emulatorDevices = devices;
    // The home is walked too: its hidden folders hold the devices, which must not come twice.
    const ScanReport report = scan.scan({home});

    const test::FakeOpenFiles openFiles(uses);
    const auto items = SystemData::movable(SystemData::Places{home, home + "/.local/share", {}}, openFiles, 1);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string device = devices + "/" + c.folder + ".avd";
        const auto proposed = std::count_if(report.candidates.begin(), report.candidates.end(),
                                            [&](const Candidate& candidate) { return candidate.path == device; });
        const auto skipped = std::find_if(report.skipped.begin(), report.skipped.end(),
                                          [&](const SkippedItem& item) { return item.path == device; });
        const auto listed =
            std::count_if(items.begin(), items.end(), [&](const MovableData& item) { return item.path == device; });
        if (!c.shown) {
            EXPECT_EQ(proposed, 0);
            EXPECT_EQ(skipped, report.skipped.end());
            EXPECT_EQ(listed, 0);
            continue;
        }
        if (c.skip) {
            EXPECT_EQ(proposed, 0);
            ASSERT_NE(skipped, report.skipped.end());
            EXPECT_EQ(skipped->reason, *c.skip);
        } else {
            ASSERT_EQ(proposed, 1) << (skipped == report.skipped.end() ? "" : skipped->reason);
            const auto candidate = std::find_if(report.candidates.begin(), report.candidates.end(),
                                                [&](const Candidate& candidate) { return candidate.path == device; });
            EXPECT_EQ(candidate->whole, WholeKind::emulator);
            EXPECT_EQ(candidate->deviceName, c.shown);
            EXPECT_EQ(candidate->displayName(), *c.shown + " emulator");
        }
        ASSERT_EQ(listed, 1);
        const auto item = std::find_if(items.begin(), items.end(), [&](const MovableData& i) { return i.path == device; });
        EXPECT_EQ(item->kind, MovableData::Kind::emulator);
        EXPECT_EQ(item->name, *c.shown);
        EXPECT_EQ(item->openIn, c.heldOpen ? std::optional<std::string>("qemu-system-x86_64") : std::nullopt);
        if (c.bootedLately) {
            EXPECT_EQ(item->lastUsed, booted);
        }
        // The name the listing read serves every later message, without a read of its own.
        EXPECT_EQ(ItemName::display(device), *c.shown + " emulator");
    }
}

TEST(AndroidDevicesTest, NamesWithoutReadingAnyFile) {
    EXPECT_TRUE(AndroidDevices::isDeviceFolder("/home/ann/.android/avd/Pixel_7.avd"));
    EXPECT_FALSE(AndroidDevices::isDeviceFolder("/home/ann/.android/avd/.avd"));
    EXPECT_FALSE(AndroidDevices::isDeviceFolder("/home/ann/.android/avd/Pixel_7.ini"));
    EXPECT_FALSE(AndroidDevices::isDeviceFolder("/home/ann/Documents/Pixel_7.avd"));
    // A device no listing has seen yet shows its folder's name.
    EXPECT_EQ(ItemName::display("/nowhere/.android/avd/Never_Listed.avd"), "Never Listed emulator");
    EXPECT_EQ(ItemName::display("/nowhere/Documents/Never_Listed.avd"), "Never_Listed.avd");
    EXPECT_EQ(AndroidDevices::displayName("avd.ini.displayname=A\navd.ini.displayname=B\n"), "B");
    EXPECT_EQ(AndroidDevices::displayName("xavd.ini.displayname=A\n"), std::nullopt);
    EXPECT_EQ(AndroidDevices::displayName(std::string_view("avd.ini.displayname=A\0B", 23)), std::nullopt);
}

}  // namespace
