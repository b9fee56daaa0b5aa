#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <limits>

#include "platform/POSIXFailure.h"
#include "scanning/SettingsStore.h"
#include "support/AsUser.h"
#include "support/PeakMemory.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::TempDir;

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

AppSettings loaded(const TempDir& dir, const std::string& text) {
    test::writeFile(dir / "settings.json", text);
    return SettingsStore{dir / "settings.json"}.load();
}

AppSettings fullSettings() {
    AppSettings s;
    s.onboardingComplete = true;
    s.drive = Drive{"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "Backup Disk"};
    s.driveVolumeUUID = "1234-ABCD";
    DriveHardware h;
    h.medium = DriveHardware::Medium::solidState;
    h.interconnect = "USB";
    h.location = "External";
    h.product = "Portable SSD";
    h.usbLinkSpeed = 10'000'000'000;
    BenchmarkResult b{412.25, 380.5, 0.125, 0.5, 536'870'912, Date{1'734'000'000.5}};
    s.driveProfile = DriveProfile{h, b};
    s.managedFolders = {"/home/ann/Downloads", "/home/ann/Vidéos"};
    s.thresholdBytes = 50'000'000'000;
    s.targetBytes = 75'000'000'000;
    s.minimumAgeDays = 60;
    s.minimumItemMegabytes = 250;
    s.moveRecentLightFiles = false;
    s.moveProjectsAndEmulators = false;
    s.clearCachesWhenLow = false;
    s.isPaused = true;
    s.dryRunMode = true;
    s.automaticRunsApproved = true;
    s.checkIntervalMinutes = 30;
    s.notificationsEnabled = false;
    return s;
}

}  // namespace

TEST(SettingsStoreTest, SaveThenLoadGivesBackAnEqualValue) {
    TempDir dir;
    SettingsStore store{dir / "Support/Keldwick/settings.json"};
    for (const AppSettings& s : {AppSettings(), fullSettings()}) {
        store.save(s);
        EXPECT_EQ(store.load(), s);
    }
    // Nothing but the file itself is left in the folder.
    std::vector<std::string> names;
    if (DIR* d = ::opendir((dir / "Support/Keldwick").c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        ::closedir(d);
    }
    EXPECT_EQ(names, std::vector<std::string>{"settings.json"});

    auto text = test::readFile(store.path);
    auto json = nlohmann::json::parse(text);
    EXPECT_DOUBLE_EQ(json["driveProfile"]["benchmark"]["date"].get<double>(), 1'734'000'000.5 - 978'307'200.0);
    EXPECT_EQ(json["drive"], (nlohmann::json{{"id", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"}, {"name", "Backup Disk"}}));
    // Keys come out sorted.
    EXPECT_LT(text.find("\"automaticRunsApproved\""), text.find("\"checkIntervalMinutes\""));
    EXPECT_LT(text.find("\"driveProfile\""), text.find("\"managedFolders\""));
}

TEST(SettingsStoreTest, OptionalFieldsAreLeftOutWhenAbsent) {
    TempDir dir;
    SettingsStore store{dir / "settings.json"};
    store.save(AppSettings());
    auto json = nlohmann::json::parse(test::readFile(store.path));
    EXPECT_FALSE(json.contains("drive"));
    EXPECT_FALSE(json.contains("driveVolumeUUID"));
    EXPECT_FALSE(json.contains("driveProfile"));
    EXPECT_EQ(json.size(), 14u);
    EXPECT_EQ(json["thresholdBytes"], 20'000'000'000);
}

TEST(SettingsStoreTest, EachBadValueCostsOnlyItsOwnField) {
    TempDir dir;
    EXPECT_EQ(loaded(dir, "{}"), AppSettings());

    AppSettings s = loaded(dir, R"({"isPaused":"yes","dryRunMode":true,"thresholdBytes":40000000000,
        "managedFolders":["/a",7],"checkIntervalMinutes":12.5,"minimumAgeDays":null,"extra":{"x":1},
        "drive":{"id":"X"},"driveVolumeUUID":42,"driveProfile":{"hardware":{"vendor":"Acme"}},
        "notificationsEnabled":0,"minimumItemMegabytes":20.0,"targetBytes":18446744073709551615})");
    AppSettings expected;
    expected.dryRunMode = true;
    expected.thresholdBytes = 40'000'000'000;
    expected.minimumItemMegabytes = 20;
    expected.targetBytes = 41'000'000'000;  // the default 30 GB, raised by normalising
    EXPECT_EQ(s, expected);
    EXPECT_FALSE(exists(dir / "settings.json.corrupt"));

    // A link speed beyond 64 bits is a bad value too, not a slow USB 2 link.
    s = loaded(dir, R"({"isPaused":true,"driveProfile":{"hardware":{"medium":"solidState",
        "usbLinkSpeed":18446744073709551615}}})");
    EXPECT_TRUE(s.isPaused);
    EXPECT_FALSE(s.driveProfile);
}

TEST(SettingsStoreTest, NumbersBeyondADoubleCostOnlyTheirField) {
    TempDir dir;
    AppSettings s = loaded(dir, R"({"thresholdBytes": 1e999, "isPaused": true, "managedFolders": ["/a \"1e999\" b"],
        "driveProfile": {"benchmark": {"sequentialWriteMBps": -2E+999, "sequentialReadMBps": 1,
        "randomReadMedianMs": 1, "randomReadP90Ms": 1, "bytesTested": 1, "date": 0}}, "minimumAgeDays": 7e0})");
    AppSettings expected;
    expected.isPaused = true;
    expected.managedFolders = {"/a \"1e999\" b"};
    expected.minimumAgeDays = 7;
    EXPECT_EQ(s, expected);
    EXPECT_FALSE(exists(dir / "settings.json.corrupt"));
}

TEST(SettingsStoreTest, LoadNormalisesOutOfRangeValues) {
    TempDir dir;
    AppSettings s = loaded(dir, R"({"thresholdBytes":500000000,"targetBytes":0,"checkIntervalMinutes":0,
        "minimumAgeDays":-3,"minimumItemMegabytes":0})");
    EXPECT_EQ(s.thresholdBytes, 1'000'000'000);
    EXPECT_EQ(s.targetBytes, 2'000'000'000);
    EXPECT_EQ(s.checkIntervalMinutes, 1);
    EXPECT_EQ(s.minimumAgeDays, 1);
    EXPECT_EQ(s.minimumItemMegabytes, 1);
    EXPECT_EQ(loaded(dir, R"({"checkIntervalMinutes":5000})").checkIntervalMinutes, 1440);

    // The edge of the Int64 range saturates instead of overflowing.
    s = loaded(dir, R"({"thresholdBytes":9223372036854775807,"targetBytes":-9223372036854775808})");
    EXPECT_EQ(s.thresholdBytes, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(s.targetBytes, std::numeric_limits<int64_t>::max());
}

TEST(SettingsStoreTest, UndecodableFileIsMovedAsideAndDefaultsReturned) {
    TempDir dir;
    const std::string path = dir / "settings.json";
    for (const char* text : {"not json", "", "[1,2]", "{\"isPaused\": tru"}) {
        test::writeFile(path + ".corrupt", "older damaged file");
        test::writeFile(path, text);
        EXPECT_EQ(SettingsStore{path}.load(), AppSettings()) << text;
        EXPECT_FALSE(exists(path));
        EXPECT_EQ(test::readFile(path + ".corrupt"), text);
    }
}

TEST(SettingsStoreTest, AFileLargerThanAnySettingsIsSetAsideUnparsed) {
    TempDir dir;
    const std::string path = dir / "settings.json";
    std::string text = "{\"isPaused\":true,\"padding\":[";
    while (text.size() < (15u << 20)) text += "{},";
    text += "{}]}";
    test::writeFile(path, text);
    text.clear();
    text.shrink_to_fit();
    const auto measured = test::measurePeakGrowth([&] { return SettingsStore{path}.load() == AppSettings(); });
    EXPECT_TRUE(measured.passed);
    EXPECT_GE(measured.grownBytes, 0);
    EXPECT_LT(measured.grownBytes, 48 << 20);
    EXPECT_FALSE(exists(path));
    EXPECT_TRUE(exists(path + ".corrupt"));
}

TEST(SettingsStoreTest, MissingFileIsAFirstStartAndMovesNothing) {
    TempDir dir;
    EXPECT_EQ(SettingsStore{dir / "settings.json"}.load(), AppSettings());
    EXPECT_FALSE(exists(dir / "settings.json.corrupt"));
    EXPECT_EQ(SettingsStore{dir / "no/such/folder/settings.json"}.load(), AppSettings());
}

TEST(SettingsStoreTest, UnreadableFileIsKeptAsideNotOverwritten) {
    TempDir dir;
    const std::string path = dir / "settings.json";
    AppSettings mine = fullSettings();
    SettingsStore{path}.save(mine);
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(path.c_str(), 0);

    // A user who can't read the file gets defaults, and the file moves aside intact.
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to drop to another user";
    int status = test::runAsNobody([&] {
        bool ok = SettingsStore{path}.load() == AppSettings();
        return ok && !exists(path) && exists(path + ".corrupt") ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    ::chmod((path + ".corrupt").c_str(), 0644);
    EXPECT_EQ(SettingsStore{path + ".corrupt"}.load(), mine);
}

TEST(SettingsStoreTest, SaveMovesADamagedFileAsideFirstAndRefusesWhenItCannot) {
    TempDir dir;
    const std::string path = dir / "settings.json";
    test::writeFile(path, "{ damaged");
    SettingsStore{path}.save(AppSettings());
    EXPECT_EQ(test::readFile(path + ".corrupt"), "{ damaged");

    // A folder in the file's place can't be read as settings nor be replaced by a rename
    // onto a file: the save is refused and the folder stays.
    TempDir other;
    const std::string blocked = other / "settings.json";
    test::makeDirs(blocked + "/keep");
    test::makeDirs(blocked + ".corrupt/busy");
    EXPECT_THROW(SettingsStore{blocked}.save(AppSettings()), std::runtime_error);
    EXPECT_TRUE(exists(blocked + "/keep"));
}

TEST(SettingsStoreTest, SaveFailsClearlyWhenTheFolderCannotBeMade) {
    TempDir dir;
    test::writeFile(dir / "file", "x");
    try {
        SettingsStore{dir / "file/settings.json"}.save(AppSettings());
        FAIL() << "expected a failure";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), "mkdir");
    }
    AppSettings badName;
    badName.managedFolders = {std::string("/home/ann/\xff\xfe")};
    EXPECT_THROW(SettingsStore{dir / "settings.json"}.save(badName), std::runtime_error);
    EXPECT_FALSE(exists(dir / "settings.json"));
}

// The file's exact text: settings files already stored must keep reading the same, and a
// new setting shows up here as a deliberate change of the format.
TEST(SettingsStoreTest, TheStoredTextIsExactlyTheFormat) {
    TempDir dir;
    SettingsStore store{dir / "settings.json"};
    store.save(AppSettings());
    EXPECT_EQ(test::readFile(store.path), R"({
  "automaticRunsApproved": false,
  "checkIntervalMinutes": 10,
  "clearCachesWhenLow": true,
  "dryRunMode": false,
  "isPaused": false,
  "managedFolders": [],
  "minimumAgeDays": 30,
  "minimumItemMegabytes": 10,
  "moveProjectsAndSimulators": true,
  "moveRecentLightFiles": true,
  "notificationsEnabled": true,
  "onboardingComplete": false,
  "targetBytes": 30000000000,
  "thresholdBytes": 20000000000
}
)");
    AppSettings full = fullSettings();
    full.driveProfile.reset();
    store.save(full);
    EXPECT_EQ(test::readFile(store.path), R"({
  "automaticRunsApproved": true,
  "checkIntervalMinutes": 30,
  "clearCachesWhenLow": false,
  "drive": {
    "id": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0",
    "name": "Backup Disk"
  },
  "driveVolumeUUID": "1234-ABCD",
  "dryRunMode": true,
  "isPaused": true,
  "managedFolders": [
    "/home/ann/Downloads",
    "/home/ann/Vidéos"
  ],
  "minimumAgeDays": 60,
  "minimumItemMegabytes": 250,
  "moveProjectsAndSimulators": false,
  "moveRecentLightFiles": false,
  "notificationsEnabled": false,
  "onboardingComplete": true,
  "targetBytes": 75000000000,
  "thresholdBytes": 50000000000
}
)");
}

// Each key on its own: a value of its kind is read and written back unchanged under the
// same key; a value of another kind leaves every setting at its default.
TEST(SettingsStoreTest, EachKeyReadsItsKindAndDropsAnyOther) {
    struct Case {
        const char* key;
        nlohmann::json good, wrong;
    };
    const std::vector<Case> cases = {
        {"onboardingComplete", true, "true"},
        {"drive", {{"id", "ID-1"}, {"name", "Spare"}}, {{"id", "ID-1"}, {"name", 3}}},
        {"driveVolumeUUID", "AB-12", false},
        {"driveProfile", fullSettings().driveProfile->toJson(), "ssd"},
        {"managedFolders", nlohmann::json::array({"/a", "/b"}), nlohmann::json::array({"/a", nullptr})},
        {"thresholdBytes", 12'000'000'000, "12 GB"},
        {"targetBytes", 40'000'000'000, 4.5e10 + 0.5},
        {"minimumAgeDays", 90, true},
        {"minimumItemMegabytes", 55, nlohmann::json::array()},
        {"moveRecentLightFiles", false, 0},
        {"moveProjectsAndSimulators", false, nlohmann::json::object()},
        {"clearCachesWhenLow", false, "no"},
        {"isPaused", true, 1},
        {"dryRunMode", true, "yes"},
        {"automaticRunsApproved", true, 1.0},
        {"askFirstChoice", false, "no"},
        {"checkIntervalMinutes", 45, "45"},
        {"notificationsEnabled", false, nlohmann::json::array({false})},
    };
    EXPECT_EQ(cases.size(), AppSettings().toJson().size() + 4);  // the four optional keys
    TempDir dir;
    for (const auto& c : cases) {
        const AppSettings good = loaded(dir, nlohmann::json{{c.key, c.good}}.dump());
        EXPECT_NE(good, AppSettings()) << c.key;
        EXPECT_EQ(good.toJson()[c.key], c.good) << c.key;
        EXPECT_EQ(loaded(dir, nlohmann::json{{c.key, c.wrong}}.dump()), AppSettings()) << c.key;
    }
    EXPECT_FALSE(exists(dir / "settings.json.corrupt"));
}

// Out-of-range numbers are brought into range on load, each on its own; none is refused.
TEST(SettingsStoreTest, EachRangeIsClampedOnLoad) {
    constexpr int64_t GB = 1'000'000'000;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min(), highest = std::numeric_limits<int64_t>::max();
    struct Case {
        const char* key;
        int64_t stored, loaded;
    };
    const std::vector<Case> cases = {
        {"thresholdBytes", lowest, GB},
        {"thresholdBytes", GB - 1, GB},
        {"thresholdBytes", GB, GB},
        {"thresholdBytes", 25 * GB, 25 * GB},
        {"targetBytes", 0, 21 * GB},  // above the default keep-free level by 1 GB
        {"targetBytes", 21 * GB, 21 * GB},
        {"targetBytes", highest, highest},
        {"minimumAgeDays", 0, 1},
        {"minimumAgeDays", 1, 1},
        {"minimumAgeDays", highest, highest},
        {"minimumItemMegabytes", -1, 1},
        {"minimumItemMegabytes", 700, 700},
        {"checkIntervalMinutes", lowest, 1},
        {"checkIntervalMinutes", 0, 1},
        {"checkIntervalMinutes", 1440, 1440},
        {"checkIntervalMinutes", 1441, 1440},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const AppSettings s = loaded(dir, nlohmann::json{{c.key, c.stored}}.dump());
        EXPECT_EQ(s.toJson()[c.key], c.loaded) << c.key << " " << c.stored;
    }
}

// Keys the program doesn't know are read past, and the next save leaves them out.
TEST(SettingsStoreTest, UnknownKeysAreDroppedByTheNextSave) {
    TempDir dir;
    SettingsStore store{dir / "settings.json"};
    test::writeFile(store.path, R"({"isPaused": true, "launchAtLogin": true, "future": {"x": [1]}})");
    AppSettings s = store.load();
    EXPECT_TRUE(s.isPaused);
    store.save(s);
    auto json = nlohmann::json::parse(test::readFile(store.path));
    EXPECT_FALSE(json.contains("launchAtLogin"));
    EXPECT_FALSE(json.contains("future"));
    EXPECT_EQ(json["isPaused"], true);
}

TEST(AppSettingsTest, TargetsAndDefaultFolders) {
    EXPECT_EQ(AppSettings::target(1'000'000'000), 6'000'000'000);
    EXPECT_EQ(AppSettings::target(10'000'000'000), 15'000'000'000);
    EXPECT_EQ(AppSettings::target(20'000'000'000), 30'000'000'000);
    EXPECT_EQ(AppSettings::target(50'000'000'000), 75'000'000'000);
    EXPECT_EQ(AppSettings::target(std::numeric_limits<int64_t>::max()), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(AppSettings::freeSpaceChoices(),
              (std::vector<int64_t>{10'000'000'000, 20'000'000'000, 50'000'000'000}));

    std::vector<std::string> expected{"/home/ann/Downloads", "/home/ann/Desktop", "/home/ann/Documents"};
    EXPECT_EQ(AppSettings::defaultFolders("/home/ann"), expected);
    EXPECT_EQ(AppSettings::defaultFolders("/home/ann/"), expected);
}

TEST(AppSettingsTest, PolicyComesFromTheSettingsNarrowedByTheDrive) {
    AppSettings s;
    s.minimumAgeDays = 45;
    s.minimumItemMegabytes = 25;
    s.moveProjectsAndEmulators = false;
    OffloadPolicy p = s.policy();
    EXPECT_EQ(p.minimumAge, 45 * 86'400.0);
    EXPECT_EQ(p.minimumItemSize, 25'000'000);
    EXPECT_TRUE(p.allowFolders);
    EXPECT_EQ(p.folderInactivity, 7'776'000.0);
    EXPECT_EQ(p.recentLightFiles, RecentLightFiles{});
    EXPECT_FALSE(p.moveProjects);
    EXPECT_EQ(p.minimumEmulatorSize, 100'000'000);
    EXPECT_TRUE(p.driveIsNativeFormat);
    // No profile: an unmeasured drive, so the narrow policy.
    EXPECT_EQ(p.maxFolderFileCount, 1000);
    EXPECT_EQ(p.allowedTypes, OffloadPolicy::sequentialTypes());

    EXPECT_FALSE(s.policy(false).recentLightFiles);
    s.moveRecentLightFiles = false;
    EXPECT_FALSE(s.policy(true).recentLightFiles);

    DriveHardware ssd;
    ssd.medium = DriveHardware::Medium::solidState;
    s.driveProfile = DriveProfile{ssd, std::nullopt};
    EXPECT_EQ(s.policy().maxFolderFileCount, 20000);
    EXPECT_FALSE(s.policy().allowedTypes);

    s.minimumItemMegabytes = std::numeric_limits<int64_t>::max() / 10;
    EXPECT_EQ(s.policy().minimumItemSize, std::numeric_limits<int64_t>::max());
}

// Every comparison of free space with the levels goes through these three answers.
TEST(AppSettingsTest, KeepFreeArithmetic) {
    constexpr int64_t GB = 1'000'000'000;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min(), highest = std::numeric_limits<int64_t>::max();
    struct Case {
        int64_t threshold, target, free;
        bool below;
        int64_t toFree;
    };
    const std::vector<Case> cases = {
        {20 * GB, 30 * GB, 40 * GB, false, 0},
        {20 * GB, 30 * GB, 15 * GB, true, 15 * GB},
        {20 * GB, 30 * GB, 20 * GB, false, 10 * GB},  // at the level is not below it
        {20 * GB, 30 * GB, 20 * GB - 1, true, 10 * GB + 1},
        {20 * GB, 1, lowest, true, highest},  // saturates instead of overflowing
        {20 * GB, lowest, highest, false, 0},
        {20 * GB, 30 * GB, -5, true, 30 * GB + 5},
    };
    for (const auto& c : cases) {
        AppSettings s;
        s.thresholdBytes = c.threshold;
        s.targetBytes = c.target;
        EXPECT_EQ(s.isBelowKeepFree(c.free), c.below) << c.free;
        EXPECT_EQ(s.bytesToFree(c.free), c.toFree) << c.free;
    }

    struct Mark {
        int64_t threshold, total;
        double mark;
    };
    const std::vector<Mark> marks = {
        {100, 1000, 0.9},
        {5000, 1000, 0},  // beyond the total: clamped
        {-100, 1000, 1},
        {100, 0, 0},
        {100, -7, 0},
        {20 * GB, 100 * GB, 0.8},
        {lowest, highest, 1},
        {highest, 1, 0},
    };
    for (const auto& m : marks) {
        AppSettings s;
        s.thresholdBytes = m.threshold;
        EXPECT_NEAR(s.keepFreeMark(m.total), m.mark, 1e-12) << m.threshold << "/" << m.total;
    }
}

// What stands at settings.json decides whether it is opened at all: a regular file or a
// link to one is read; anything else is set aside unopened (a FIFO would block the start
// for good), the entry itself, never a link's target.
TEST(SettingsStoreTest, OnlyARegularFileOrALinkToOneIsOpened) {
    AppSettings mine;
    mine.minimumAgeDays = 45;
    struct Row {
        const char* name;
        std::function<void(const std::string& dir, const std::string& path)> make;
        bool read;
    };
    const Row rows[] = {
        {"a link to the real file, as a dotfile manager makes",
         [&](const std::string& dir, const std::string& path) {
             SettingsStore{dir + "/dotfiles/settings.json"}.save(mine);
             ASSERT_EQ(::symlink((dir + "/dotfiles/settings.json").c_str(), path.c_str()), 0);
         },
         true},
        {"a FIFO", [](const std::string&, const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
         false},
        {"a link to a FIFO",
         [](const std::string& dir, const std::string& path) {
             ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
             ASSERT_EQ(::symlink((dir + "/pipe").c_str(), path.c_str()), 0);
         },
         false},
        {"a link to nothing",
         [](const std::string& dir, const std::string& path) {
             ASSERT_EQ(::symlink((dir + "/gone").c_str(), path.c_str()), 0);
         },
         false},
        {"a folder", [](const std::string&, const std::string& path) { test::makeDirs(path + "/inside"); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = dir / "settings.json";
        row.make(dir.path(), path);
        bool setAside = false;
        const AppSettings got = SettingsStore{path}.load(&setAside);
        EXPECT_EQ(got.minimumAgeDays, row.read ? 45 : AppSettings().minimumAgeDays);
        EXPECT_EQ(setAside, !row.read);
        EXPECT_EQ(exists(path + ".corrupt"), !row.read);
        EXPECT_EQ(exists(path), row.read);
    }
    // The target behind a link that was set aside is untouched.
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "pipe").c_str(), (dir / "settings.json").c_str()), 0);
    SettingsStore{dir / "settings.json"}.load();
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "settings.json.corrupt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat((dir / "pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
