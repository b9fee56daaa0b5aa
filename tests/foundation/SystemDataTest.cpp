#include <gtest/gtest.h>

#include <set>

#include "foundation/SystemData.h"

using namespace keldwick;

TEST(SystemDataTest, Tables) {
    const auto& names = SystemData::systemAppFolders();
    EXPECT_EQ(names.size(), 58u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 58u);
    EXPECT_EQ(names.front(), "AddressBook");
    EXPECT_EQ(names.back(), "videosubscriptionsd");
    EXPECT_TRUE(SystemData::isSystemAppFolder("Quick Look"));
    EXPECT_FALSE(SystemData::isSystemAppFolder("safari"));
    EXPECT_EQ(SystemData::ownFolders(), (std::unordered_set<std::string>{"Keldwick", "Marrowfen"}));
}

TEST(SystemDataTest, OpenToChosen) {
    const std::string home = "/home/ann";
    const std::string support = home + "/Library/Application Support";
    struct Case {
        std::string path;
        bool open;
    } cases[] = {
        {support + "/MobileSync/Backup", true},
        {support + "/MobileSync/Backup/0000-1111", true},
        {support + "/MobileSync", false},
        {support + "/MobileSync/Backups", false},
        {home + "/Library/Developer/Xcode/Archives", true},
        {home + "/Library/Developer/Xcode/Archives/2024-05-01/App.xcarchive", true},
        {home + "/Library/Developer/Xcode/DerivedData", false},
        {support, false},
        {support + "/", false},
        {support + "//Tool", false},
        {home + "/Library/Application Supportive/Tool", false},
        {home + "/Library/Preferences/tool.plist", false},
        {home + "/Documents/x", false},
        {support + "/Tool", true},
        {support + "/Tool/models/big.bin", true},
        {support + "/com.apple.sharedfilelist", false},
        {support + "/com.apple.x/inner", false},
        {support + "/com.applesauce/inner", true},
        {support + "/Safari/x", false},
        {support + "/safari/x", true},
        {support + "/Quick Look", false},
        {support + "/videosubscriptionsd", false},
        {support + "/Keldwick/journal.sqlite", false},
        {support + "/Marrowfen", false},
        {home + "/.ollama/models", true},
        {home + "/.ollama/models/blobs/sha256-1", true},
        {home + "/.ollama", false},
        {home + "/.cache/huggingface/hub", true},
        {home + "/.cache", false},
        {home + "/.android/avd/Pixel_8.avd", true},
        {home + "/.android/avd", false},
        {home + "/.android/avdx/Pixel_8.avd", false},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemData::isOpenToChosen(c.path, home), c.open) << c.path;
    for (const auto& name : SystemData::systemAppFolders()) {
        EXPECT_FALSE(SystemData::isOpenToChosen(support + "/" + name + "/x", home)) << name;
    }
}
