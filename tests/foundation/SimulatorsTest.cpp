#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "foundation/ItemName.h"
#include "foundation/Simulators.h"
#include "support/BinaryPlist.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

const std::string uuid = "A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF";

std::string xmlPlist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
}

using test::BinaryPlist::dictionary;

}  // namespace

TEST(SimulatorsTest, RecognisesDeviceFoldersByPlaceAndName) {
    std::string devices = Simulators::devicesFolder("/home/ann");
    EXPECT_EQ(devices, "/home/ann/Library/Developer/CoreSimulator/Devices");
    EXPECT_EQ(Simulators::devicesFolder("/home/ann/"), "/home/ann//Library/Developer/CoreSimulator/Devices");
    EXPECT_TRUE(Simulators::isDeviceFolder(devices + "/" + uuid));
    EXPECT_TRUE(Simulators::isDeviceFolder(devices + "/" + "a1b2c3d4-e5f6-4711-8899-aabbccddeeff"));
    EXPECT_FALSE(Simulators::isDeviceFolder("/home/ann/Documents/" + uuid));
    EXPECT_FALSE(Simulators::isDeviceFolder(devices + "/Phone"));
    EXPECT_FALSE(Simulators::isDeviceFolder(devices + "/A1B2C3D4E5F647118899AABBCCDDEEFF"));
    EXPECT_FALSE(Simulators::isDeviceFolder(devices + "/A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFG"));
    EXPECT_FALSE(Simulators::isDeviceFolder(uuid));
}

TEST(SimulatorsTest, ListsOnlyUUIDNamedEntriesInOrder) {
    test::TempDir dir;
    std::string second = "FFFFFFFF-0000-0000-0000-000000000000";
    test::makeDirs(dir / second);
    test::makeDirs(dir / uuid);
    test::makeDirs(dir / "device_set.plist.d");
    test::writeFile(dir / "device_set.plist", "x");
    EXPECT_EQ(Simulators::deviceFolders(dir.path()),
              (std::vector<std::string>{dir / uuid, dir / second}));
    EXPECT_TRUE(Simulators::deviceFolders(dir / "missing").empty());
}

TEST(SimulatorsTest, ReadsIdleStateFromXMLDescriptions) {
    test::TempDir dir;
    struct Case {
        std::string body;
        std::optional<bool> idle;  // nothing: no device
    } cases[] = {
        {"<key>name</key><string>Phone A</string><key>state</key><integer>1</integer>", true},
        {"<key>name</key><string>Phone A</string><key>state</key><integer>3</integer>", false},
        {"<key>name</key><string>Phone A</string><key>state</key><integer>1</integer>"
         "<key>isEphemeral</key><true/>", false},
        {"<key>name</key><string>Phone A</string><key>state</key><integer>1</integer>"
         "<key>isDeleted</key><true/>", false},
        {"<key>name</key><string>Phone A</string><key>state</key><integer>1</integer>"
         "<key>isDeleted</key><string>yes</string><key>isEphemeral</key><false/>", true},
        {"<key>name</key><string>Phone A</string><key>state</key><string>1</string>", false},
        {"<key>name</key><string>Phone A</string>", false},
        {"<key>name</key><integer>4</integer><key>state</key><integer>1</integer>", std::nullopt},
        {"<key>state</key><integer>1</integer>", std::nullopt},
    };
    for (const auto& c : cases) {
        test::writeFile(dir / "device.plist", xmlPlist(c.body));
        auto device = SimulatorDevice::read(dir.path());
        ASSERT_EQ(device.has_value(), c.idle.has_value()) << c.body;
        if (device) {
            EXPECT_EQ(device->isIdle, *c.idle) << c.body;
        }
    }

    test::writeFile(dir / "device.plist",
                    xmlPlist("<key>name</key><string>Phone A</string>"
                             "<key>runtime</key><string>com.apple.CoreSimulator.SimRuntime.iOS-17-2</string>"
                             "<key>lastBootedAt</key><date>2024-05-01T12:00:00Z</date>"));
    auto device = SimulatorDevice::read(dir.path());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->runtime, "com.apple.CoreSimulator.SimRuntime.iOS-17-2");
    ASSERT_TRUE(device->lastBooted);
    EXPECT_DOUBLE_EQ(device->lastBooted->secondsSince1970, 1714564800.0);

    test::writeFile(dir / "device.plist", "<plist><array><string>x</string></array></plist>");
    EXPECT_FALSE(SimulatorDevice::read(dir.path()));
    test::writeFile(dir / "device.plist", "not a property list");
    EXPECT_FALSE(SimulatorDevice::read(dir.path()));
    test::writeFile(dir / "device.plist", "");
    EXPECT_FALSE(SimulatorDevice::read(dir.path()));
    EXPECT_FALSE(SimulatorDevice::read(dir / "missing"));
}

TEST(SimulatorsTest, ReadsBinaryDescriptions) {
    test::TempDir dir;
    test::writeFile(dir / "device.plist",
                    dictionary({{"name", std::string("Phone B")},
                                 {"state", uint8_t{1}},
                                 {"isEphemeral", false},
                                 {"lastBootedAt", 736257600.5}}));
    auto device = SimulatorDevice::read(dir.path());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name, "Phone B");
    EXPECT_TRUE(device->isIdle);
    EXPECT_FALSE(device->runtime);
    ASSERT_TRUE(device->lastBooted);
    EXPECT_NEAR(device->lastBooted->secondsSince2001(), 736257600.5, 1e-6);

    test::writeFile(dir / "device.plist", dictionary({{"name", std::string("Phone B")}, {"state", uint8_t{3}}}));
    EXPECT_FALSE(SimulatorDevice::read(dir.path())->isIdle);
}

TEST(SimulatorsTest, RefusesHostileDescriptionsWithoutCrashing) {
    test::TempDir dir;
    const std::u16string withNul{u'P', u'\0', u'x'};
    // A device folder anyone can write: none of these may stop the scan.
    struct Case {
        std::string name;
        std::string bytes;
        std::optional<std::string> device;  // its name; nothing: no device
        std::optional<std::string> runtime;
    } cases[] = {
        {"UTF-16 name", dictionary({{"name", std::u16string(u"Phone \u00e9")}}), "Phone \u00e9", std::nullopt},
        {"name holding U+0000", dictionary({{"name", withNul}, {"state", uint8_t{1}}}), std::nullopt, std::nullopt},
        {"runtime holding U+0000", dictionary({{"name", std::string("Phone")}, {"runtime", withNul}}), "Phone",
         std::nullopt},
        {"binary nested 100,000 deep", test::BinaryPlist::nestedArrays(100000), std::nullopt, std::nullopt},
        {"XML nested 140,000 deep", "<plist>" + [] {
             std::string deep;
             for (int i = 0; i < 140000; ++i) deep += "<array>";
             return deep;
         }(), std::nullopt, std::nullopt},
        {"larger than any description", xmlPlist("<key>name</key><string>" + std::string(2 << 20, 'x') + "</string>"),
         std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        test::writeFile(dir / "device.plist", c.bytes);
        auto device = SimulatorDevice::read(dir.path());
        ASSERT_EQ(device.has_value(), c.device.has_value()) << c.name;
        if (device) {
            EXPECT_EQ(device->name, *c.device) << c.name;
            EXPECT_EQ(device->runtime, c.runtime) << c.name;
        }
    }
}

TEST(SimulatorsTest, RefusesAFolderOrFifoInPlaceOfTheDescription) {
    test::TempDir dir;
    test::makeDirs(dir / "a/device.plist");
    EXPECT_FALSE(SimulatorDevice::read(dir / "a"));
    test::makeDirs(dir / "b");
    ASSERT_EQ(mkfifo((dir / "b/device.plist").c_str(), 0600), 0);
    EXPECT_FALSE(SimulatorDevice::read(dir / "b"));
}

TEST(ItemNameTest, NamesDevicesAndRemembersOnlyReadableNames) {
    test::TempDir dir;
    std::string devices = Simulators::devicesFolder(dir.path());
    std::string folder = devices + "/" + uuid;
    test::makeDirs(folder);

    EXPECT_EQ(ItemName::display(folder), "Simulator");
    test::writeFile(folder + "/device.plist", xmlPlist("<key>name</key><string>Phone A</string>"));
    EXPECT_EQ(ItemName::display(folder), "Phone A simulator");
    test::writeFile(folder + "/device.plist", xmlPlist("<key>name</key><string>Renamed</string>"));
    EXPECT_EQ(ItemName::display(folder), "Phone A simulator");

    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] { EXPECT_EQ(ItemName::display(folder), "Phone A simulator"); });
    }
    for (auto& t : threads) t.join();

    EXPECT_EQ(ItemName::display("/Users/ann/Movies/Trip.mov"), "Trip.mov");
    EXPECT_EQ(ItemName::display("/Users/ann/Movies/"), "Movies");
    EXPECT_EQ(ItemName::display(dir / uuid), uuid);
}
