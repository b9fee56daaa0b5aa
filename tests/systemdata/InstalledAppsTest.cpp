#include "systemdata/InstalledApps.h"

#include <QImage>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace keldwick {
namespace {

std::string entry(const std::string& name, const std::string& icon, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nIcon=" + icon + "\n" + extra;
}

struct InstalledAppsTest : ::testing::Test {
    test::TempDir dir;
    std::string user = dir / "user/applications";
    std::string system = dir / "system/applications";
    void SetUp() override {
        test::makeDirs(user);
        test::makeDirs(system);
    }
    InstalledApps apps() { return InstalledApps({user, system, dir / "missing/applications"}); }
};

TEST_F(InstalledAppsTest, MatchesAFolderToItsApp) {
    test::writeFile(system + "/steam.desktop", entry("Steam", "steam"));
    test::writeFile(system + "/sound-editor-pro.desktop", entry("Sound Editor Pro", "audio-x-generic"));
    test::writeFile(system + "/sound.desktop", entry("Sound", "sound"));
    test::writeFile(system + "/org.signal.Desktop.desktop", entry("Signal", "org.signal.Desktop"));
    test::writeFile(system + "/gimp.desktop",
                    "[Desktop Entry]\nName[de]=Bildbearbeitung\nName = GIMP\nIcon=gimp\n\n[Desktop Action new]\n"
                    "Name=New Window\nIcon=other\n");
    test::writeFile(system + "/hidden.desktop", entry("Hidden App", "x", "Hidden=true\n"));
    test::writeFile(system + "/nameless.desktop", "[Desktop Entry]\nIcon=x\n");
    test::writeFile(system + "/notes.txt", entry("Notes", "notes"));
    // The user's own file of the same name comes first.
    test::writeFile(user + "/steam.desktop", entry("Steam", "/opt/steam/icon.png"));

    InstalledApps installed = apps();
    struct Case {
        const char* item;
        std::optional<std::string> icon;
    };
    const Case cases[] = {
        {"steam", "/opt/steam/icon.png"},          // the file's name, case ignored
        {"Signal", "org.signal.Desktop"},           // the Name
        {"Sound", "sound"},                         // an exact match wins over a longer name
        {"Sound Editor", "audio-x-generic"},        // a name and a space begin the app's name
        {"Sound Ed", std::nullopt},                 // but not half a word
        {"gimp", "gimp"},                           // spaces around "=", other groups and locales ignored
        {"New Window", std::nullopt},
        {"Hidden App", std::nullopt},
        {"Notes", std::nullopt},                    // only .desktop files count
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const auto app = installed.match(c.item);
        EXPECT_EQ(app ? std::optional<std::string>(app->icon) : std::nullopt, c.icon);
    }
    EXPECT_EQ(InstalledApps::read(system + "/nameless.desktop"), std::nullopt);
    EXPECT_EQ(InstalledApps::read(dir / "nothing.desktop"), std::nullopt);
}

TEST_F(InstalledAppsTest, IconsComeFromTheFileOrTheThemeAndAreRemembered) {
    const std::string png = dir / "pixelpad.png";
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(QString::fromStdString(png)));
    test::writeFile(user + "/pixelpad.desktop", entry("Pixelpad", png));
    test::writeFile(user + "/gone.desktop", entry("Gone", dir / "no-such-icon.png"));
    test::writeFile(user + "/unthemed.desktop", entry("Unthemed", "no-theme-has-this-icon-name"));

    InstalledApps installed = apps();
    const QIcon pixelpad = installed.icon("Pixelpad");
    ASSERT_FALSE(pixelpad.isNull());
    EXPECT_EQ(pixelpad.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
    EXPECT_TRUE(installed.icon("Gone").isNull());
    EXPECT_TRUE(installed.icon("Unthemed").isNull());
    EXPECT_TRUE(installed.icon("Nobody").isNull());

    // Read once: apps installed or removed later change nothing in this run.
    ::unlink(png.c_str());
    test::writeFile(user + "/nobody.desktop", entry("Nobody", png));
    EXPECT_EQ(installed.icon("Pixelpad").cacheKey(), pixelpad.cacheKey());
    EXPECT_TRUE(installed.icon("Nobody").isNull());
}

TEST(InstalledAppsFoldersTest, FollowTheSessionsDataFolders) {
    const QByteArray home = qgetenv("XDG_DATA_HOME"), dirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", "/data/home");
    qputenv("XDG_DATA_DIRS", "/usr/share:relative/ignored::/opt/share");
    EXPECT_EQ(InstalledApps::applicationFolders(),
              (std::vector<std::string>{"/data/home/applications", "/usr/share/applications",
                                        "/opt/share/applications"}));
    qputenv("XDG_DATA_HOME", "");
    qunsetenv("XDG_DATA_DIRS");
    const auto defaults = InstalledApps::applicationFolders();
    ASSERT_EQ(defaults.size(), 3u);
    EXPECT_TRUE(defaults[0].ends_with("/.local/share/applications"));
    EXPECT_EQ(defaults[1], "/usr/local/share/applications");
    EXPECT_EQ(defaults[2], "/usr/share/applications");
    home.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", home);
    dirs.isNull() ? qunsetenv("XDG_DATA_DIRS") : qputenv("XDG_DATA_DIRS", dirs);
}

}  // namespace
}  // namespace keldwick
