#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <limits>

#include "ModelStateFixtures.h"
#include "foundation/Formatting.h"
#include "model/DisplayTexts.h"
#include "support/TempDir.h"

using namespace keldwick;

TEST(DisplayTextsTest, FileFolderCounts) {
    const std::vector<std::tuple<int64_t, int64_t, std::string>> cases = {
        {0, 0, "0 files"},     {1, 0, "1 file"},           {2, 0, "2 files"},
        {0, 1, "1 folder"},    {0, 3, "3 folders"},        {2, 1, "2 files and 1 folder"},
        {1, 2, "1 file and 2 folders"}, {1, 1, "1 file and 1 folder"},
    };
    for (const auto& [files, folders, text] : cases) {
        EXPECT_EQ(fileFolderCountText(files, folders), text) << files << "/" << folders;
    }
    using keldwick::test::record;
    EXPECT_EQ(recordCountText({record("/a", Phase::offloaded), record("/b", Phase::offloaded, true),
                               record("/c", Phase::restored)}),
              "2 files and 1 folder");
    EXPECT_EQ(recordCountText({}), "0 files");
}

TEST(DisplayTextsTest, GigabytesRoundAtTheirEdges) {
    const std::vector<std::pair<int64_t, std::string>> cases = {
        {0, "0.0 GB"},
        {1'500'000'000, "1.5 GB"},
        {9'950'000'000, "9.9 GB"},  // the nearest double to 9.95 lies just below it
        {9'960'000'000, "10.0 GB"},
        {10'000'000'000, "10 GB"},
        {10'400'000'000, "10 GB"},
        {10'500'000'000, "11 GB"},  // halves away from zero
        {std::numeric_limits<int64_t>::max(), "9223372037 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(gigabytesText(bytes), text) << bytes;
}

TEST(DisplayTextsTest, FolderDisplayNames) {
    const std::string home = "/home/u";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/home/u", "Home folder"},
        {"/home/u/.android/avd", "Android emulators"},
        {"/home/u/Documents/Work", "Documents \u203A Work"},
        {"/home/u//Documents/Work/", "Documents \u203A Work"},
        {"/home/u/Desktop", "Desktop"},
        {"/home/user2/Desktop", "/home/user2/Desktop"},  // not inside: a shared prefix is not enough
        {"/srv/data", "/srv/data"},
    };
    for (const auto& [path, text] : cases) EXPECT_EQ(folderDisplayName(path, home), text) << path;
}

TEST(DisplayTextsTest, ContentTypes) {
    const std::vector<std::tuple<std::string, bool, ContentType>> cases = {
        {"Photo.PNG", false, ContentType{"public.png"}},
        {"Photo.png", true, ContentType::folder},  // a folder named like a picture is a folder
        {"Mail.app", true, ContentType{"com.apple.application-bundle"}},
        {"Notes.rtfd", true, ContentType::rtfd},
        {"Notes.rtfd", false, ContentType::flatRTFD},
        {"Projects", true, ContentType::folder},
        {"README", false, ContentType::data},
        {"archive.unknownext", false, ContentType::data},
        {".bashrc", false, ContentType::data},
    };
    for (const auto& [name, isFolder, type] : cases) {
        EXPECT_EQ(contentTypeForPath(name, isFolder), type) << name << (isFolder ? " (folder)" : "");
    }
    EXPECT_TRUE(ContentType::folder.conforms(ContentType::directory));
}

namespace {

// Switches the numeric locale to German (a comma for decimals, points for grouping) for
// the scope. A machine without the compiled locale gets one compiled from the locale
// sources into a temporary folder. Check ok() first.
class GermanNumbers {
public:
    GermanNumbers() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
            ok_ = true;
            return;
        }
        const std::string command = "localedef -i de_DE -f UTF-8 --no-archive '" + folder_.path() +
                                    "/de_DE.utf8' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        const char* oldPath = std::getenv("LOCPATH");
        const std::string restore = oldPath ? oldPath : "";
        ::setenv("LOCPATH", folder_.path().c_str(), 1);
        ok_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        if (oldPath) {
            ::setenv("LOCPATH", restore.c_str(), 1);
        } else {
            ::unsetenv("LOCPATH");
        }
    }
    ~GermanNumbers() { std::setlocale(LC_NUMERIC, previous_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string previous_;
    test::TempDir folder_;
    bool ok_ = false;
};

}  // namespace

// The windows speak English, so their numbers are written as English writes them whatever
// the C library's locale (which the toolkit takes from LANG).
TEST(DisplayTextsTest, NumbersUnderTwoLocales) {
    EXPECT_EQ(fileFolderCountText(1234, 0), "1,234 files");
    EXPECT_EQ(byteCountText(1'234'567), "1.23 MB");
    EXPECT_EQ(gigabytesText(9'950'000'000), "9.9 GB");

    GermanNumbers german;
    if (!german.ok()) GTEST_SKIP() << "no German locale, and localedef could not make one";
    EXPECT_EQ(fileFolderCountText(1234, 2), "1,234 files and 2 folders");
    EXPECT_EQ(fileFolderCountText(-1234567, 0), "-1,234,567 files");
    EXPECT_EQ(byteCountText(1'234'567), "1.23 MB");
    EXPECT_EQ(byteCountText(999'499), "999 KB");
    EXPECT_EQ(byteCountText(std::numeric_limits<int64_t>::max() / 1000 * 1000), "9,223 PB");
    EXPECT_EQ(gigabytesText(9'950'000'000), "9.9 GB");
    EXPECT_EQ(gigabytesText(1'500'000'000), "1.5 GB");
}
