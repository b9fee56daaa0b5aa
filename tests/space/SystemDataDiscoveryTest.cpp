#include "space/SystemDataDiscovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "space/SpaceFixtures.h"

using namespace keldwick;
using namespace keldwick::test;
using Kind = MovableData::Kind;

namespace {

// A file of `bytes` bytes whose modification time is `seconds` since 1970.
std::string writeDated(const std::string& path, size_t bytes, int64_t seconds) {
    writeSized(path, bytes);
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) throw std::runtime_error("utimensat");
    return path;
}

const MovableData* find(const std::vector<MovableData>& items, const std::string& path) {
    for (const auto& item : items) {
        if (item.path == path) return &item;
    }
    return nullptr;
}

Date at(int64_t seconds) { return Date{static_cast<double>(seconds)}; }

// The home's sources with $XDG_DATA_HOME in its default place and no desktop entries.
SystemData::Places inHome(const std::string& home) { return {home, home + "/.local/share", {}}; }

}  // namespace

TEST(SystemDataDiscovery, FindsEachKindWithItsNameSizeAndDate) {
    TempDir home;
    const std::string support = home / ".local/share";
    writeDated(support + "/Steam/games/a.pak", 20000, 1000);
    writeDated(support + "/Steam/games/b.pak", 4096, 3000);

    writeDated(home / ".android/avd/Pixel_7_API_34.avd/userdata.img", 16384, 9000);
    writeSized(home / ".android/avd/Pixel_7_API_34.ini", 100);
    writeDated(home / ".ollama/models/blobs/sha256-1", 24576, 11000);
    writeDated(home / ".lmstudio/models/m.gguf", 4096, 12000);
    writeDated(home / ".cache/lm-studio/models/n.gguf", 4096, 13000);

    auto items = SystemData::movable(inHome(home.path()), FakeOpenFiles(), 0);
    ASSERT_EQ(items.size(), 5u);
    for (size_t i = 1; i < items.size(); ++i) EXPECT_GE(items[i - 1].size, items[i].size);

    const MovableData* app = find(items, support + "/Steam");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->name, "Steam");
    EXPECT_EQ(app->kind, Kind::appFiles);
    EXPECT_EQ(app->size, allocatedOf(support + "/Steam/games/a.pak") + allocatedOf(support + "/Steam/games/b.pak"));
    EXPECT_EQ(app->lastUsed, at(3000));
    EXPECT_FALSE(app->openIn);

    const MovableData* emulator = find(items, home / ".android/avd/Pixel_7_API_34.avd");
    ASSERT_TRUE(emulator);
    EXPECT_EQ(emulator->name, "Pixel 7 API 34");
    EXPECT_EQ(emulator->kind, Kind::emulator);
    EXPECT_EQ(emulator->lastUsed, at(9000));  // no boot date: the latest file's

    const MovableData* ollama = find(items, home / ".ollama/models");
    ASSERT_TRUE(ollama);
    EXPECT_EQ(ollama->name, "Ollama models");
    EXPECT_EQ(ollama->kind, Kind::models);
    EXPECT_EQ(ollama->size, allocatedOf(home / ".ollama/models/blobs/sha256-1"));
    ASSERT_TRUE(find(items, home / ".lmstudio/models"));
    ASSERT_TRUE(find(items, home / ".cache/lm-studio/models"));
    EXPECT_EQ(find(items, home / ".cache/lm-studio/models")->name, "LM Studio models");
}

TEST(SystemDataDiscovery, AppFilesAreTheDataFoldersOfAppsNamedByTheirDesktopEntries) {
    // $XDG_DATA_HOME lies outside the home; the desktop's folders, this program's, Flatpak's
    // and Snap's apps' data and the other platform's places are never listed.
    TempDir root;
    const std::string home = root / "home", data = root / "data", system = root / "system/applications";
    for (const char* name : {"Trash/files", "keyrings", "kwalletd", "applications", "icons/hicolor", "fonts", "mime",
                             "gvfs-metadata", "flatpak/repo", "gnome-shell/extensions", "plasmashell", "tracker3",
                             "baloo", "evolution/addressbook", "Keldwick", "Marrowfen"}) {
        writeSized(data + "/" + name + "/x", 4096);
    }
    writeSized(data + "/recently-used.xbel", 4096);
    writeSized(root / "elsewhere/x", 4096);
    ASSERT_EQ(::symlink((root / "elsewhere").c_str(), (data + "/linked").c_str()), 0);
    writeSized(home + "/.local/share/Forgotten/x", 4096);  // not the data folder the session uses
    writeSized(home + "/.var/app/org.gimp.GIMP/data/x", 4096);
    writeSized(home + "/snap/firefox/common/x", 4096);
    writeSized(home + "/Library/Application Support/Tool/x", 4096);
    for (const char* name : {"Steam", "krita", "TelegramDesktop", "blender", "lutris", "odd-tool"}) {
        writeSized(data + "/" + name + "/x", 4096);
    }

    // The user's entries come first and override the system's of the same id.
    writeFile(data + "/applications/steam.desktop", "[Desktop Entry]\nName=Steam\nExec=steam %U\n");
    writeFile(data + "/applications/lutris.desktop", "[Desktop Entry]\nName=Lutris\nHidden=true\n");
    writeFile(system + "/steam.desktop", "[Desktop Entry]\nName=Steam (Runtime)\n");
    writeFile(system + "/lutris.desktop", "[Desktop Entry]\nName=Lutris\nExec=lutris %U\n");
    writeFile(system + "/org.kde.krita.desktop", "[Desktop Entry]\nName[de]=Malen\nName=Krita\nExec=krita %F\n");
    writeFile(system + "/org.telegram.desktop.desktop",
              "[Desktop Entry]\nName=Telegram\nExec=/usr/bin/Telegram -- %u\nStartupWMClass=TelegramDesktop\n");
    writeFile(system + "/blender.desktop.in", "[Desktop Entry]\nName=Not an entry\nExec=blender\n");
    writeFile(system + "/org.blender.Blender.desktop",
              "[Desktop Entry]\nName=Blender\nExec=env GDK_BACKEND=x11 \"/opt/Blender Foundation/blender\" %f\n");

    auto items = SystemData::movable({home, data, {data + "/applications", system}}, FakeOpenFiles(), 0);
    std::map<std::string, std::string> shown;
    for (const auto& item : items) {
        EXPECT_EQ(item.kind, Kind::appFiles) << item.path;
        shown[item.path] = item.name;
    }
    EXPECT_EQ(shown, (std::map<std::string, std::string>{{data + "/Steam", "Steam"},
                                                         {data + "/TelegramDesktop", "Telegram"},
                                                         {data + "/blender", "Blender"},
                                                         {data + "/krita", "Krita"},
                                                         {data + "/lutris", "lutris"},
                                                         {data + "/odd-tool", "odd-tool"}}));
}

TEST(SystemDataDiscovery, MinimumSizeIsInclusive) {
    TempDir home;
    writeSized(home / ".ollama/models/blob", 10000);
    const int64_t size = allocatedOf(home / ".ollama/models/blob");
    EXPECT_EQ(SystemData::movable(inHome(home.path()), FakeOpenFiles(), size).size(), 1u);
    EXPECT_TRUE(SystemData::movable(inHome(home.path()), FakeOpenFiles(), size + 1).empty());
}

TEST(SystemDataDiscovery, EmulatorFoldersEndInAvd) {
    TempDir home;
    writeSized(home / ".android/avd/Pixel_7_API_34.avd/img", 4096);
    writeSized(home / ".android/avd/Pixel_7_API_34.ini", 100);
    writeSized(home / ".android/avd/stray/img", 4096);
    auto items = SystemData::movable(inHome(home.path()), FakeOpenFiles(), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "Pixel 7 API 34");
}

TEST(SystemDataDiscovery, EqualSizesKeepDiscoveryOrder) {
    TempDir home;
    writeSized(home / ".ollama/models/x", 4096);
    writeSized(home / ".android/avd/A.avd/x", 4096);
    writeSized(home / ".android/avd/A.ini", 10);
    writeSized(home / ".local/share/Zed/x", 4096);
    auto items = SystemData::movable(inHome(home.path()), FakeOpenFiles(), 0);
    std::vector<Kind> kinds;
    for (const auto& item : items) kinds.push_back(item.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::appFiles, Kind::emulator, Kind::models}));
}

TEST(SystemDataDiscovery, OpenFilesNameTheProcess) {
    TempDir home;
    const std::string device = home / ".android/avd/Phone.avd";
    writeSized(device + "/userdata-qemu.img", 4096);
    writeSized(home / ".android/avd/Phone.ini", 10);
    writeSized(home / ".ollama/models/blob", 4096);
    writeSized(home / ".ollama/models-old/blob", 4096);
    writeSized(home / ".lmstudio/models/m", 4096);

    FakeOpenFiles openFiles({{home / ".ollama/models-old/blob", 7, "ollama"},
                             {device + "/userdata-qemu.img", 8, "qemu-system-x86_64"},
                             {home / ".lmstudio/models/m", 9, "LM Studio"}});
    auto items = SystemData::movable(inHome(home.path()), openFiles, 0);
    EXPECT_EQ(openFiles.asked, std::vector<std::string>{home.path()});
    EXPECT_EQ(find(items, device)->openIn, "qemu-system-x86_64");
    EXPECT_EQ(find(items, home / ".lmstudio/models")->openIn, "LM Studio");
    EXPECT_FALSE(find(items, home / ".ollama/models")->openIn);  // "models-old" is a sibling, not inside
}

TEST(SystemDataDiscovery, OpenFilesAreSeenThroughLinksOnTheWay) {
    // ~/.android is a link to another disk; a running emulator holds its image open.
    TempDir root;
    const std::string home = root / "home";
    writeSized(root / "disk/android/avd/Tablet.avd/userdata.img", 4096);
    writeSized(root / "disk/android/avd/Tablet.ini", 10);
    makeDirs(home);
    ASSERT_EQ(::symlink((root / "disk/android").c_str(), (home + "/.android").c_str()), 0);
    OpenFileHolder holder(home + "/.android/avd/Tablet.avd/userdata.img");
    ASSERT_TRUE(holder.ok());
    auto items = SystemData::movable(inHome(home), ProcessOpenFileChecker(), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].path, home + "/.android/avd/Tablet.avd");
    EXPECT_TRUE(items[0].openIn.has_value());
}

TEST(SystemDataDiscovery, ListingAndMeasuringMissingOrOddFolders) {
    TempDir root;
    EXPECT_TRUE(SystemData::listFolder(root / "missing").empty());
    writeFile(root / "file", "x");
    EXPECT_TRUE(SystemData::listFolder(root / "file").empty());
    makeDirs(root / "real/b");
    makeDirs(root / "real/a");
    ASSERT_EQ(::symlink((root / "real").c_str(), (root / "link").c_str()), 0);
    EXPECT_TRUE(SystemData::listFolder(root / "link").empty());
    EXPECT_EQ(SystemData::listFolder(root / "real"), (std::vector<std::string>{"a", "b"}));

    std::optional<Date> date;
    EXPECT_EQ(SystemData::measureFolder(root / "real", date), 0);
    EXPECT_FALSE(date);
}

TEST(SystemDataDiscovery, PlacesComeFromTheEnvironment) {
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    } saved[] = {{"XDG_DATA_HOME", {}}, {"XDG_DATA_DIRS", {}}};
    for (auto& variable : saved) {
        if (const char* value = std::getenv(variable.name)) variable.value = value;
    }
    ::setenv("XDG_DATA_DIRS", "/opt/share:relative", 1);
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    auto places = SystemData::Places::of("/home/ann");
    EXPECT_EQ(places.dataHome, "/srv/data");
    EXPECT_EQ(places.applicationFolders, (std::vector<std::string>{"/srv/data/applications", "/opt/share/applications"}));
    // Unset, relative, or the home itself or above it: the default below the home.
    for (const char* value : {"", "data", "/home/ann", "/home/ann/", "/home", "/"}) {
        ::setenv("XDG_DATA_HOME", value, 1);
        EXPECT_EQ(SystemData::Places::of("/home/ann").dataHome, "/home/ann/.local/share") << value;
    }
    for (const auto& variable : saved) {
        if (variable.value) ::setenv(variable.name, variable.value->c_str(), 1);
        else ::unsetenv(variable.name);
    }
}
