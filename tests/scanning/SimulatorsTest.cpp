#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <thread>
#include <variant>

#include "scanning/ItemName.h"
#include "scanning/Simulators.h"
#include "scanning/WholeKind.h"
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

// A tiny binary property-list writer, so the binary reader is tested against bytes
// made independently of the library that parses them.
using BValue = std::variant<std::string, uint8_t, bool, double>;  // uint8_t = integer, double = date

std::string binaryPlist(const std::vector<std::pair<std::string, BValue>>& entries) {
    std::vector<std::string> objects;
    auto asciiString = [](const std::string& s) {
        std::string o(1, static_cast<char>(0x50 | s.size()));
        return o + s;
    };
    std::string dict(1, static_cast<char>(0xD0 | entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) dict += static_cast<char>(1 + i);
    for (size_t i = 0; i < entries.size(); ++i) dict += static_cast<char>(1 + entries.size() + i);
    objects.push_back(dict);
    for (const auto& [key, value] : entries) objects.push_back(asciiString(key));
    for (const auto& [key, value] : entries) {
        if (auto s = std::get_if<std::string>(&value)) objects.push_back(asciiString(*s));
        else if (auto n = std::get_if<uint8_t>(&value)) objects.push_back(std::string("\x10") + static_cast<char>(*n));
        else if (auto b = std::get_if<bool>(&value)) objects.push_back(std::string(1, *b ? '\x09' : '\x08'));
        else {
            double d = std::get<double>(value);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            std::string o(1, '\x33');
            for (int shift = 56; shift >= 0; shift -= 8) o += static_cast<char>(bits >> shift);
            objects.push_back(o);
        }
    }
    std::string out = "bplist00";
    std::vector<size_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    size_t tableOffset = out.size();
    for (size_t off : offsets) out += std::string{static_cast<char>(off >> 8), static_cast<char>(off)};
    auto be64 = [](uint64_t v) {
        std::string s;
        for (int shift = 56; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
        return s;
    };
    out += std::string(6, '\0') + '\x02' + '\x01' + be64(objects.size()) + be64(0) + be64(tableOffset);
    return out;
}

}  // namespace

TEST(WholeKindTest, StringsRoundTripExactly) {
    for (auto kind : {WholeKind::project, WholeKind::simulator, WholeKind::chosen}) {
        EXPECT_EQ(parseWholeKind(toString(kind)), kind);
    }
    EXPECT_EQ(toString(WholeKind::simulator), "simulator");
    EXPECT_FALSE(parseWholeKind("Project"));
    EXPECT_FALSE(parseWholeKind(""));
}

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
                    binaryPlist({{"name", std::string("Phone B")},
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

    test::writeFile(dir / "device.plist", binaryPlist({{"name", std::string("Phone B")}, {"state", uint8_t{3}}}));
    EXPECT_FALSE(SimulatorDevice::read(dir.path())->isIdle);
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

    EXPECT_EQ(ItemName::display(folder), "Xcode simulator");
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
