#include "foundation/DesktopEntries.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

using namespace keldwick;

namespace {

std::string programOf(const std::string& exec) {
    auto entry = DesktopEntry::parse("[Desktop Entry]\nName=App\nExec=" + exec + "\n", "app");
    return entry ? entry->program : "<none>";
}

}  // namespace

TEST(DesktopEntriesTest, ParsesTheEntryGroupOnly) {
    const auto entry = DesktopEntry::parse(
        "# comment\n[Desktop Entry]\nName[de]=Malen\n Name = Krita \nStartupWMClass=krita\r\nExec=krita %F\n"
        "[Desktop Action new]\nName=New Window\nExec=other\n",
        "org.kde.krita");
    EXPECT_EQ(entry, (DesktopEntry{"org.kde.krita", "Krita", "krita", "krita"}));
    EXPECT_EQ(DesktopEntry::parse("Name=Outside\n", "x"), std::nullopt);
    EXPECT_EQ(DesktopEntry::parse("[Desktop Entry]\nExec=tool\n", "x"), std::nullopt);
    EXPECT_EQ(DesktopEntry::parse("[Desktop Entry]\nName=Gone\nHidden=true\n", "x"), std::nullopt);
    EXPECT_TRUE(DesktopEntry::parse("[Desktop Entry]\nName=Kept\nHidden=false\nNoDisplay=true", "x"));

    EXPECT_EQ(programOf("/usr/bin/Telegram -- %u"), "Telegram");
    EXPECT_EQ(programOf("\"/opt/My App/my-app\" --flag"), "my-app");
    EXPECT_EQ(programOf("env GDK_BACKEND=x11 LANG=C /opt/blender/blender %f"), "blender");
    EXPECT_EQ(programOf("/usr/bin/env A=1"), "");
    EXPECT_EQ(programOf(""), "");
    EXPECT_EQ(programOf("\"unterminated"), "unterminated");
}

TEST(DesktopEntriesTest, KeepsAFolderByIdWindowClassOrProgramIgnoringCase) {
    const DesktopEntry telegram{"org.telegram.desktop", "Telegram", "TelegramDesktop", "Telegram"};
    for (const char* folder : {"telegramdesktop", "TELEGRAM", "org.telegram.desktop"}) {
        EXPECT_TRUE(telegram.keeps(folder)) << folder;
    }
    for (const char* folder : {"", "desktop", "Telegram Desktop", "org.telegram"}) {
        EXPECT_FALSE(telegram.keeps(folder)) << folder;
    }
    EXPECT_FALSE((DesktopEntry{"x", "X", "", ""}).keeps(""));
    const std::vector<DesktopEntry> entries = {{"a", "First", "", "tool"}, {"b", "Second", "Tool", ""}};
    EXPECT_EQ(DesktopEntries::appNameFor(entries, "Tool"), "First");
    EXPECT_EQ(DesktopEntries::appNameFor(entries, "other"), std::nullopt);
}

TEST(DesktopEntriesTest, ApplicationFoldersFollowTheXdgRules) {
    EXPECT_EQ(DesktopEntries::applicationFolders("/home/ann/.local/share", ""),
              (std::vector<std::string>{"/home/ann/.local/share/applications", "/usr/local/share/applications",
                                        "/usr/share/applications"}));
    EXPECT_EQ(DesktopEntries::applicationFolders("/d", "relative:/opt/share/::/var/lib/flatpak/exports/share"),
              (std::vector<std::string>{"/d/applications", "/opt/share/applications",
                                        "/var/lib/flatpak/exports/share/applications"}));
}

TEST(DesktopEntriesTest, ReadsEachIdOnceTheEarlierFolderFirst) {
    test::TempDir dir;
    const std::string user = dir / "user", system = dir / "system";
    test::writeFile(user + "/tool.desktop", "[Desktop Entry]\nName=Hidden Tool\nHidden=true\n");
    test::writeFile(system + "/tool.desktop", "[Desktop Entry]\nName=Tool\n");
    test::writeFile(system + "/editor.desktop", "[Desktop Entry]\nName=Editor\n");
    test::writeFile(system + "/.desktop", "[Desktop Entry]\nName=No id\n");
    test::writeFile(system + "/notes.txt", "[Desktop Entry]\nName=Notes\n");
    test::writeFile(system + "/huge.desktop", "[Desktop Entry]\nName=Huge\n" + std::string(300 * 1024, '#'));
    test::makeDirs(system + "/folder.desktop");
    test::writeFile(dir / "target.desktop", "[Desktop Entry]\nName=Linked\n");
    ASSERT_EQ(::symlink((dir / "target.desktop").c_str(), (system + "/linked.desktop").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "missing").c_str(), (system + "/dangling.desktop").c_str()), 0);

    const auto entries = DesktopEntries::read({user, dir / "missing", system});
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.id + "=" + entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{"editor=Editor", "linked=Linked"}));
}
