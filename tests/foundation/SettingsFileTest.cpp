#include "foundation/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;
using State = SettingsFile::State;

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

// Every kind of entry at a settings file's place, judged and prepared without opening it:
// the whole table runs in well under a second however many FIFOs it meets.
TEST(SettingsFileTest, OnlyRegularFilesAndLinksToThemOfASaneSizeAreUsable) {
    struct Row {
        const char* name;
        std::function<void(const std::string& dir, const std::string& path)> make;
        State state;
    };
    const Row rows[] = {
        {"nothing", [](const std::string&, const std::string&) {}, State::missing},
        {"a regular file", [](const std::string&, const std::string& path) { test::writeFile(path, "[General]\n"); },
         State::usable},
        {"a link to one",
         [](const std::string& dir, const std::string& path) {
             test::writeFile(dir + "/real.conf", "x");
             ASSERT_EQ(::symlink((dir + "/real.conf").c_str(), path.c_str()), 0);
         },
         State::usable},
        {"exactly the limit",
         [](const std::string&, const std::string& path) {
             test::writeFile(path, "");
             ASSERT_EQ(::truncate(path.c_str(), SettingsFile::kMaximumSize), 0);
         },
         State::usable},
        {"50 MB",
         [](const std::string&, const std::string& path) {
             test::writeFile(path, "");
             ASSERT_EQ(::truncate(path.c_str(), 50'000'000), 0);
         },
         State::unusable},
        {"a FIFO", [](const std::string&, const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
         State::unusable},
        {"a link to a FIFO",
         [](const std::string& dir, const std::string& path) {
             ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
             ASSERT_EQ(::symlink((dir + "/pipe").c_str(), path.c_str()), 0);
         },
         State::unusable},
        {"a link to a device",
         [](const std::string&, const std::string& path) { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); },
         State::unusable},
        {"a dangling link",
         [](const std::string& dir, const std::string& path) {
             ASSERT_EQ(::symlink((dir + "/gone").c_str(), path.c_str()), 0);
         },
         State::unusable},
        {"a folder", [](const std::string&, const std::string& path) { test::makeDirs(path); }, State::unusable},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const std::string path = dir / "Keldwick.conf";
        row.make(dir.path(), path);
        EXPECT_EQ(SettingsFile::judge(path), row.state);
        const SettingsFile::Prepared prepared = SettingsFile::prepare(path);
        EXPECT_TRUE(prepared.usable);
        EXPECT_EQ(prepared.setAside, row.state == State::unusable);
        EXPECT_EQ(exists(path + ".corrupt"), row.state == State::unusable);
        EXPECT_EQ(exists(path), row.state == State::usable);
        if (row.state == State::usable) {
            EXPECT_NO_THROW(SettingsFile::read(path));
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SettingsFileTest, ReadingRefusesWhatIsNotARegularFileWithoutBlocking) {
    test::TempDir dir;
    const std::string pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    try {
        SettingsFile::read(pipe);
        FAIL() << "a FIFO was read";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.code(), EINVAL);
    }
    test::writeFile(dir / "big", std::string(2000, 'x'));
    try {
        SettingsFile::read(dir / "big", 1000);
        FAIL() << "a file over the limit was read";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.code(), EFBIG);
    }
}
