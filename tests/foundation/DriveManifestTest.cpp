#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "drives/DriveLayout.h"
#include "foundation/DriveManifest.h"
#include "foundation/POSIXFailure.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

namespace fs = std::filesystem;
using Event = DriveManifest::Entry::Event;

DriveManifest::Entry entry(const std::string& original, Event event = Event::offloaded,
                           std::optional<std::string> mac = "mac-A") {
    DriveManifest::Entry e;
    e.mac = std::move(mac);
    e.event = event;
    e.originalPath = original;
    e.relativePath = "Keldwick/Studio" + original;
    e.size = 12;
    e.date = Date{1'714'564'800.75};
    return e;
}

TEST(DriveManifestTest, LineFormatIsCompactWithEscapedSlashesAndNoAbsentKeys) {
    auto e = entry("/home/ann/a b.txt");
    e.checksum = "ab12";
    EXPECT_EQ(DriveManifest::encode(e),
              R"({"version":1,"mac":"mac-A","event":"offloaded","originalPath":"\/home\/ann\/a b.txt",)"
              R"("relativePath":"Keldwick\/Studio\/home\/ann\/a b.txt","isDirectory":false,"size":12,)"
              R"("checksum":"ab12","date":"2024-05-01T12:00:00Z"})");
    e.mac.reset();
    e.checksum.reset();
    e.isDirectory = true;
    e.entries = std::vector<TreeEntry>{{"x/y", TreeEntry::Kind::symlink, 0, std::nullopt, "../z"}};
    auto line = DriveManifest::encode(e);
    EXPECT_EQ(line.find("\"mac\""), std::string::npos);
    EXPECT_EQ(line.find("\"checksum\""), std::string::npos);
    auto back = DriveManifest::decode(line);
    ASSERT_TRUE(back);
    e.date = Date{1'714'564'800};  // whole seconds once written
    EXPECT_EQ(*back, e);
}

TEST(DriveManifestTest, AppendsCreateTheFileRepairATornLineAndKeepTheLegacyName) {
    test::TempDir drive;
    DriveManifest manifest{drive.path()};
    EXPECT_TRUE(manifest.read().empty());
    manifest.append(entry("/a"));
    const std::string file = drive / "Keldwick/.keldwick-manifest.jsonl";
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);

    std::string bytes = test::readFile(file);
    test::writeFile(file, bytes + R"({"version":1,"event":"offl)");
    manifest.append(entry("/b"));
    auto all = manifest.read();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].originalPath, "/b");
    EXPECT_NE(test::readFile(file).find("\"offl\n{"), std::string::npos);

    test::TempDir legacy;
    test::writeFile(legacy / "Keldwick/.marrowfen-manifest.jsonl", "");
    DriveManifest{legacy.path()}.append(entry("/c"));
    EXPECT_FALSE(fs::exists(legacy / "Keldwick/.keldwick-manifest.jsonl"));
    EXPECT_EQ(DriveManifest{legacy.path()}.read().size(), 1u);
}

TEST(DriveManifestTest, LatestEntriesBelongToThisMachineAndEndOffloaded) {
    test::TempDir drive;
    DriveManifest manifest{drive.path()};
    manifest.append(entry("/z/restored"));
    manifest.append(entry("/z/restored", Event::restored));
    manifest.append(entry("/y/again", Event::restored));
    manifest.append(entry("/y/again"));
    manifest.append(entry("/x/shared", Event::offloaded, std::nullopt));
    manifest.append(entry("/x/shared", Event::offloaded, "mac-B"));
    manifest.append(entry("/w/unowned", Event::offloaded, std::nullopt));
    manifest.append(entry("/v/mine"));
    manifest.append(entry("/v/mine", Event::restored, "mac-B"));  // another machine's news hides nothing
    std::vector<std::string> paths;
    for (const auto& e : manifest.latestEntries("mac-A")) paths.push_back(e.originalPath);
    EXPECT_EQ(paths, (std::vector<std::string>{"/v/mine", "/w/unowned", "/y/again"}));
}

TEST(DriveManifestTest, HostileDriveIsRefusedOrSkipped) {
    test::TempDir drive;
    test::TempDir elsewhere;
    DriveManifest manifest{drive.path()};
    std::string outside = test::writeFile(elsewhere / "outside-manifest", "");
    fs::create_directories(drive / "Keldwick");
    fs::create_symlink(outside, drive / "Keldwick/.keldwick-manifest.jsonl");
    EXPECT_THROW(manifest.append(entry("/a")), POSIXFailure);
    EXPECT_THROW(manifest.read(), POSIXFailure);
    EXPECT_EQ(test::readFile(outside), "");
    fs::remove(drive / "Keldwick/.keldwick-manifest.jsonl");
    fs::remove(outside);

    ASSERT_EQ(::mkfifo((drive / "Keldwick/.keldwick-manifest.jsonl").c_str(), 0644), 0);
    EXPECT_THROW(manifest.read(), POSIXFailure);
    EXPECT_THROW(manifest.append(entry("/a")), POSIXFailure);
    fs::remove(drive / "Keldwick/.keldwick-manifest.jsonl");

    auto climbing = entry("/a");
    climbing.relativePath = "Keldwick/Studio/../../../etc";
    auto relativeOriginal = entry("home/a");
    auto absoluteDrivePath = entry("/b");
    absoluteDrivePath.relativePath = "/etc/passwd";
    auto dottedTree = entry("/c");
    dottedTree.entries = std::vector<TreeEntry>{{"../x", TreeEntry::Kind::file, 1, std::nullopt, std::nullopt}};
    for (const auto& e : {climbing, relativeOriginal, absoluteDrivePath, dottedTree}) manifest.append(e);
    manifest.append(entry("/fine"));
    auto all = manifest.read();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].originalPath, "/fine");
}

}  // namespace
}  // namespace keldwick
