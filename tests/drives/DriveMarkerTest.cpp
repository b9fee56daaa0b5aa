#include "drives/DriveMarker.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "drives/DriveLayout.h"
#include "foundation/DriveManifest.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"
#include "support/AsUser.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (auto* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ino_t inode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

const char* const kValidMarker =
    R"({"created":"2025-03-01T09:30:00Z","id":"0B7C8E2A-1111-4222-8333-444455556666","name":"Archive","version":1})";

}  // namespace

TEST(DriveMarkerTest, AdoptingAnEmptyDriveWritesFolderReadMeAndMarker) {
    test::TempDir root;
    EXPECT_EQ(DriveMarker::read(root.path()), std::nullopt);

    Drive drive = DriveMarker::adopt(root.path(), "Backup Disk");
    EXPECT_EQ(drive.name, "Backup Disk");
    ASSERT_EQ(drive.id.size(), 36u);
    for (char c : drive.id) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == '-') << drive.id;
    EXPECT_EQ(drive.id[14], '4');
    EXPECT_EQ(namesIn(root / "Keldwick"), (std::vector<std::string>{".keldwick-drive.json", "About This Folder.txt"}));

    EXPECT_EQ(test::readFile(root / "Keldwick/About This Folder.txt"),
              "Keldwick\n\nThe folders in here hold files Keldwick moved off a computer to free up space. There's one\n"
              "folder per computer, and inside it each file sits in the same folders as on that computer\n"
              "(home > your name > Downloads\xE2\x80\xA6).\n\nThey're ordinary files: you can open them or copy "
              "them anytime, with or without the app.\nOn the computer, each one has a link in its old place that "
              "opens it while this drive is\nplugged in.\n\nTo put everything back on your computer, open Keldwick "
              "from the system tray (or its window)\nand choose Show Files on this drive, then Bring Everything "
              "Back.\n");

    const std::string text = test::readFile(root / "Keldwick/.keldwick-drive.json");
    EXPECT_NE(text.find('\n'), std::string::npos);  // pretty-printed
    EXPECT_LT(text.find("\"created\""), text.find("\"id\""));
    EXPECT_LT(text.find("\"name\""), text.find("\"version\""));
    auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["id"], drive.id);
    const std::string created = json["created"];
    ASSERT_EQ(created.size(), 20u);
    EXPECT_EQ(created.back(), 'Z');
    EXPECT_EQ(DriveMarker::read(root.path()), drive);

    // A volume label that is not UTF-8 is recorded with U+FFFD, and the identity handed
    // back is the one the marker holds.
    test::TempDir other;
    Drive stick = DriveMarker::adopt(other.path(), "CL\x90");
    EXPECT_EQ(stick.name, "CL\xEF\xBF\xBD");
    EXPECT_EQ(DriveMarker::read(other.path()), stick);
}

TEST(DriveMarkerTest, AdoptingAKnownDriveKeepsItsIdentityAndMarker) {
    test::TempDir root;
    Drive first = DriveMarker::adopt(root.path(), "First");
    const std::string marker = root / "Keldwick/.keldwick-drive.json";
    const std::string before = test::readFile(marker);
    const ino_t markerInode = inode(marker);
    ASSERT_EQ(::unlink((root / "Keldwick/About This Folder.txt").c_str()), 0);

    EXPECT_EQ(DriveMarker::adopt(root.path(), "Second"), first);
    EXPECT_EQ(test::readFile(marker), before);
    EXPECT_EQ(inode(marker), markerInode);
    EXPECT_EQ(test::readFile(root / "Keldwick/About This Folder.txt"), DriveMarker::readMeText());

    // A legacy drive keeps its legacy folder and name.
    test::TempDir legacy;
    test::writeFile(legacy / "Marrowfen/.marrowfen-drive.json", kValidMarker);
    Drive old{"0B7C8E2A-1111-4222-8333-444455556666", "Archive"};
    EXPECT_EQ(DriveMarker::read(legacy.path()), old);
    EXPECT_EQ(DriveMarker::adopt(legacy.path(), "Ignored"), old);
    EXPECT_EQ(namesIn(legacy.path()), std::vector<std::string>{"Marrowfen"});
    EXPECT_EQ(namesIn(legacy / "Marrowfen"),
              (std::vector<std::string>{".marrowfen-drive.json", "About This Folder.txt"}));
}

TEST(DriveMarkerTest, AnUnreadableMarkerIsSetAsideBeforeANewOneIsWritten) {
    // The marker's date and the name set aside come from the given clock.
    const test::ManualClock clock(Date{1'740'821'400});  // 2025-03-01T09:30:00Z
    test::TempDir legacy;
    test::writeFile(legacy / "Marrowfen/.marrowfen-drive.json", "{\"id\": \"OLD-ID\", \"trunc");
    Drive fresh = DriveMarker::adopt(legacy.path(), "Renewed", clock);
    EXPECT_EQ(fresh.name, "Renewed");
    EXPECT_EQ(DriveMarker::read(legacy.path()), fresh);
    auto written = DriveMarker::decode(test::readFile(legacy / "Marrowfen/.marrowfen-drive.json"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->created, clock.now());

    EXPECT_EQ(namesIn(legacy / "Marrowfen"),
              (std::vector<std::string>{".marrowfen-drive.json", ".marrowfen-drive.json.unreadable-20250301T093000Z",
                                        "About This Folder.txt"}));
    EXPECT_EQ(test::readFile(legacy / "Marrowfen/.marrowfen-drive.json.unreadable-20250301T093000Z"),
              "{\"id\": \"OLD-ID\", \"trunc");

    // Two in the same second keep both old files.
    test::TempDir root;
    test::writeFile(root / "Keldwick/.keldwick-drive.json", "garbage 1");
    DriveMarker::adopt(root.path(), "A", clock);
    test::writeFile(root / "Keldwick/.keldwick-drive.json", "garbage 2");
    DriveMarker::adopt(root.path(), "B", clock);
    EXPECT_EQ(namesIn(root / "Keldwick"),
              (std::vector<std::string>{".keldwick-drive.json", ".keldwick-drive.json.unreadable-20250301T093000Z",
                                        ".keldwick-drive.json.unreadable-20250301T093000Z-2", "About This Folder.txt"}));
    EXPECT_EQ(test::readFile(root / "Keldwick/.keldwick-drive.json.unreadable-20250301T093000Z-2"), "garbage 2");
}

TEST(DriveMarkerTest, DecodingIsStrictAboutKeysTypesAndDates) {
    auto ok = DriveMarker::decode(
        R"({"version": 7, "id": "X", "name": "N", "created": "2025-03-01T11:30:00+02:00", "extra": [1]})");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->version, 7);
    EXPECT_EQ(ok->created.iso8601(), "2025-03-01T09:30:00Z");

    for (const char* bad : {
             R"({"version": 1, "id": "X", "name": "N", "created": "2025-03-01T09:30:00.5Z"})",
             R"({"version": 1, "id": "X", "name": "N", "created": "2025-03-01T09:30:00"})",
             R"({"version": 1, "id": "X", "name": "N", "created": 762514200})",
             R"({"version": 1, "id": "X", "created": "2025-03-01T09:30:00Z"})",
             R"({"version": "1", "id": "X", "name": "N", "created": "2025-03-01T09:30:00Z"})",
             R"({"version": 1, "id": 5, "name": "N", "created": "2025-03-01T09:30:00Z"})",
             R"(["version", 1])",
             "",
         }) {
        EXPECT_FALSE(DriveMarker::decode(bad)) << bad;
    }

    DriveMarker::Contents contents{1, "ID", "Caf\xC3\xA9 / \xFF", Date{1740821400.9}};
    auto back = DriveMarker::decode(DriveMarker::encode(contents));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "Caf\xC3\xA9 / \xEF\xBF\xBD");
    EXPECT_EQ(back->created.secondsSince1970, 1740821400.0);
}

TEST(DriveMarkerTest, AHostileDriveCannotRedirectTheMarker) {
    test::TempDir outside;
    const std::string victim = test::writeFile(outside / "victim.json", kValidMarker);

    // A marker that is a link is not followed, and adopting moves the link, not its target.
    test::TempDir linked;
    test::makeDirs(linked / "Keldwick");
    ASSERT_EQ(::symlink(victim.c_str(), (linked / "Keldwick/.keldwick-drive.json").c_str()), 0);
    EXPECT_EQ(DriveMarker::read(linked.path()), std::nullopt);
    Drive drive = DriveMarker::adopt(linked.path(), "Mine");
    EXPECT_NE(drive.id, "0B7C8E2A-1111-4222-8333-444455556666");
    EXPECT_EQ(test::readFile(victim), kValidMarker);

    // A FIFO is refused at once instead of blocking the read.
    test::TempDir fifo;
    test::makeDirs(fifo / "Keldwick");
    ASSERT_EQ(::mkfifo((fifo / "Keldwick/.keldwick-drive.json").c_str(), 0644), 0);
    EXPECT_EQ(DriveMarker::read(fifo.path()), std::nullopt);

    // An app folder that is a link (or a file) is not ours to write through.
    test::TempDir redirected;
    ASSERT_EQ(::symlink(outside.path().c_str(), (redirected / "Keldwick").c_str()), 0);
    EXPECT_EQ(DriveMarker::read(redirected.path()), std::nullopt);
    EXPECT_THROW(DriveMarker::adopt(redirected.path(), "X"), POSIXFailure);
    EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{"victim.json"});

    test::TempDir plain;
    test::writeFile(plain / "Keldwick", "");
    test::writeFile(plain / "Marrowfen/.marrowfen-drive.json", kValidMarker);
    EXPECT_THROW(DriveMarker::adopt(plain.path(), "X"), POSIXFailure);
}

TEST(DriveTest, CodesAsJSON) {
    Drive drive{"ID-1", "Name"};
    nlohmann::json json = drive;
    EXPECT_EQ(json.dump(), R"({"id":"ID-1","name":"Name"})");
    EXPECT_EQ(json.get<Drive>(), drive);
    EXPECT_THROW(nlohmann::json::parse(R"({"id":"x"})").get<Drive>(), nlohmann::json::exception);
    EXPECT_NE(std::hash<Drive>{}(drive), std::hash<Drive>{}(Drive{"ID-2", "Name"}));
}

namespace {

// A volume whose write-back failed: every flush reports EIO.
struct FailingFlushes : platform::FileSystemCalls {
    int fsync(int) override {
        errno = EIO;
        return -1;
    }
};

// A drive (or quota) that is full once the folder is made.
struct FullDrive : platform::FileSystemCalls {
    int code = ENOSPC;
    ssize_t write(int, const void*, std::size_t) override {
        errno = code;
        return -1;
    }
};

}  // namespace

// A full drive is told in a sentence, never as the raw write failure; it is still the
// POSIX failure it was for callers that look at the call and its code.
TEST(DriveWritesTest, AMarkerWithoutRoomIsToldInASentence) {
    for (int code : {ENOSPC, EDQUOT, EIO}) {
        SCOPED_TRACE(code);
        test::TempDir drive;
        FullDrive full;
        full.code = code;
        platform::ScopedFileSystemCalls scoped(full);
        try {
            DriveMarker::adopt(drive.path(), "USB STICK");
            FAIL() << "the marker was written";
        } catch (const DriveMarker::NoRoom& noRoom) {
            EXPECT_NE(code, EIO);
            EXPECT_STREQ(noRoom.what(),
                         "There isn't enough room on the drive for Keldwick's folder. Free some space on it and try again.");
            EXPECT_EQ(noRoom.code(), code);
        } catch (const POSIXFailure& failure) {
            EXPECT_EQ(code, EIO);
            EXPECT_EQ(failure.code(), EIO);
        }
    }
}

TEST(DriveWritesTest, AFailedFolderFlushFailsTheWrite) {
    FailingFlushes failing;
    platform::ScopedFileSystemCalls scoped(failing);
    auto failsWithEIO = [](const std::function<void()>& write) {
        try {
            write();
        } catch (const POSIXFailure& failure) {
            return failure.code() == EIO;
        }
        return false;
    };
    test::TempDir manifestDrive, markerDrive;
    DriveManifest::Entry entry;
    entry.originalPath = "/home/ann/a";
    entry.relativePath = "Keldwick/M/home/ann/a";
    EXPECT_TRUE(failsWithEIO([&] { DriveManifest(DriveLayout::appFolder(manifestDrive.path())).append(entry); }));
    EXPECT_TRUE(failsWithEIO([&] { DriveMarker::adopt(markerDrive.path(), "Backup Disk"); }));
    EXPECT_FALSE(platform::flushFolderBestEffort(markerDrive.path()));
}

TEST(DriveWritesTest, AWriteWhoseFolderCantBeFlushedFails) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    // A drive root the writer may add to but not open: the new app folder's name can't be
    // made durable in it, so no write that creates it may report success.
    struct Case {
        const char* name;
        std::function<bool(const std::string& root)> failsAsItShould;
    } cases[] = {
        {"manifest line",
         [](const std::string& root) {
             DriveManifest::Entry entry;
             entry.originalPath = "/home/ann/a";
             entry.relativePath = "Keldwick/M/home/ann/a";
             try {
                 DriveManifest(DriveLayout::appFolder(root)).append(entry);
             } catch (const POSIXFailure& failure) {
                 return failure.code() == EACCES;
             }
             return false;
         }},
        {"marker",
         [](const std::string& root) {
             try {
                 DriveMarker::adopt(root, "Backup Disk");
             } catch (const POSIXFailure& failure) {
                 return failure.code() == EACCES;
             }
             return false;
         }},
    };
    for (const auto& c : cases) {
        test::TempDir tmp;
        ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
        const std::string root = tmp / "drive";
        ASSERT_EQ(::mkdir(root.c_str(), 0300), 0);
        test::chownTree(root);
        int status = test::runAsNobody([&] { return c.failsAsItShould(root) ? 0 : 1; });
        EXPECT_EQ(status, 0) << c.name;
    }
}
