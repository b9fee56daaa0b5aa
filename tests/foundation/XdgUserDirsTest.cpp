#include "foundation/XdgUserDirs.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TempDir.h"

namespace keldwick {
namespace {

TEST(XdgUserDirsTest, OneFolderByItsKey) {
    const std::string text =
        "# written by xdg-user-dirs-update\n"
        "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME\"\n"
        "XDG_DOCUMENTS_DIR=\"/srv/Documents\"\n"
        "XDG_MUSIC_DIR=\"$HOME/../eve/Musique\"\n"
        "XDG_PICTURES_DIR=\"$HOME/Images\"\n"
        "XDG_PICTURES_DIR=\"/home/ann/Photos/\"\n";
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_DESKTOP_DIR", "/home/ann"), "/home/ann/Bureau");
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_DESKTOP_DIR", "/home/ann/"), "/home/ann/Bureau");
    // The home itself, a folder outside it, or a way out of it: none.
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_DOWNLOAD_DIR", "/home/ann"), std::nullopt);
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_DOCUMENTS_DIR", "/home/ann"), std::nullopt);
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_MUSIC_DIR", "/home/ann"), std::nullopt);
    // The last good line counts, as the shell that sources the file would have it.
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_PICTURES_DIR", "/home/ann"), "/home/ann/Photos");
    EXPECT_EQ(XdgUserDirs::folder(text, "XDG_VIDEOS_DIR", "/home/ann"), std::nullopt);
}

TEST(XdgUserDirsTest, StandardFoldersFallBackToTheirEnglishNamesNeverToTheHome) {
    test::TempDir dir;
    const std::string home = dir / "home";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    EXPECT_EQ(XdgUserDirs::desktop(home), home + "/Desktop");
    test::writeFile(dir / "config/user-dirs.dirs",
                    "XDG_DESKTOP_DIR=\"$HOME/Escritorio\"\nXDG_DOWNLOAD_DIR=\"$HOME/\"\n");
    EXPECT_EQ(XdgUserDirs::filePath(home), dir / "config/user-dirs.dirs");
    EXPECT_EQ(XdgUserDirs::desktop(home), home + "/Escritorio");
    EXPECT_EQ(XdgUserDirs::downloads(home), home + "/Downloads");
    EXPECT_EQ(XdgUserDirs::documents(home + "/"), home + "/Documents");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(XdgUserDirs::filePath(home), home + "/.config/user-dirs.dirs");
    if (saved) ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
}

}  // namespace
}  // namespace keldwick
