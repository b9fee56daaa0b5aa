#include <gtest/gtest.h>

#include <set>

#include "foundation/SystemData.h"

using namespace keldwick;

TEST(SystemDataTest, Tables) {
    const auto& names = SystemData::desktopDataFolders();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    for (const char* name : {"Trash", "keyrings", "kwalletd", "applications", "icons", "fonts", "mime", "sounds",
                             "themes", "gvfs-metadata", "recently-used.xbel", "flatpak", "gnome-shell", "plasmashell",
                             "xfce4", "nautilus", "tracker3", "baloo", "evolution"}) {
        EXPECT_TRUE(SystemData::isDesktopDataFolder(name)) << name;
        EXPECT_FALSE(SystemData::isAppFolder(name)) << name;
    }
    EXPECT_FALSE(SystemData::isDesktopDataFolder("trash"));
    EXPECT_EQ(SystemData::ownFolders(), (std::unordered_set<std::string>{"Keldwick", "Marrowfen"}));
    EXPECT_FALSE(SystemData::isAppFolder("Keldwick"));
    EXPECT_FALSE(SystemData::isAppFolder(""));
    EXPECT_TRUE(SystemData::isAppFolder("Steam"));
}

TEST(SystemDataTest, OpenToChosen) {
    const std::string home = "/home/ann";
    const std::string data = home + "/.local/share";
    struct Case {
        std::string path;
        bool open;
    } cases[] = {
        {data + "/Steam", true},
        {data + "/Steam/steamapps/common/Game/big.pak", true},
        {data, false},
        {data + "/", false},
        {data + "//Steam", false},
        {home + "/.local/shared/Steam", false},
        {home + "/.local", false},
        {data + "/Trash/files/x", false},
        {data + "/keyrings/login.keyring", false},
        {data + "/gnome-shell/extensions", false},
        {data + "/flatpak/repo", false},
        {data + "/recently-used.xbel", false},
        {data + "/Keldwick/journal.sqlite", false},
        {data + "/Marrowfen", false},
        {data + "/trash", true},  // names are exact: a folder of that name is an app's
        {home + "/.var/app/org.gimp.GIMP/data", false},
        {home + "/snap/firefox/common", false},
        {home + "/Library/Application Support/Tool", false},
        {home + "/Documents/x", false},
        {home + "/.ollama/models", true},
        {home + "/.ollama/models/blobs/sha256-1", true},
        {home + "/.ollama", false},
        {home + "/.cache/huggingface/hub", true},
        {home + "/.cache", false},
        {home + "/.android/avd/Pixel_8.avd", true},
        {home + "/.android/avd", false},
        {home + "/.android/avdx/Pixel_8.avd", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemData::isOpenToChosen(c.path, home, data), c.open) << c.path;
    for (const auto& name : SystemData::desktopDataFolders()) {
        EXPECT_FALSE(SystemData::isOpenToChosen(data + "/" + name + "/x", home, data)) << name;
    }

    // $XDG_DATA_HOME elsewhere: its app folders follow it, ~/.local/share is nothing special.
    const std::string elsewhere = "/srv/ann-data/";
    EXPECT_TRUE(SystemData::isOpenToChosen("/srv/ann-data/Steam/x", home, elsewhere));
    EXPECT_FALSE(SystemData::isOpenToChosen("/srv/ann-data/icons/x", home, elsewhere));
    EXPECT_FALSE(SystemData::isOpenToChosen(data + "/Steam", home, elsewhere));
    EXPECT_FALSE(SystemData::isOpenToChosen(data + "/Steam", home, ""));
}
