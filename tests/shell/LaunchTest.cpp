#include "shell/Launch.h"

#include <gtest/gtest.h>

#include "shell/InstanceBus.h"

namespace keldwick {
namespace {

using Args = std::vector<std::string>;
using Paths = std::vector<std::string>;

TEST(LaunchTest, ItemsAfterTheFlagAreTakenWhole) {
    struct Case {
        const char* name;
        Args arguments;
        Args toolkit;
        Paths moved;  // the items as the running program gets them back
    };
    const Case cases[] = {
        {"a plain launch", {"keldwick", "-platform", "offscreen"}, {"keldwick", "-platform", "offscreen"}, {}},
        {"paths, relative ones from the current folder",
         {"keldwick", "--move", "/home/u/a b.mov", "c.iso"},
         {"keldwick"},
         {"/home/u/a b.mov", "/work/here/c.iso"}},
        {"names that look like options stay items",
         {"keldwick", "-style", "x", "--move", "-style", "--move", "--", "-rf"},
         {"keldwick", "-style", "x"},
         {"/work/here/-style", "/work/here/--move", "/work/here/--", "/work/here/-rf"}},
        {"quotes, newlines, percents and bytes that aren't UTF-8",
         {"keldwick", "--move", "/t/\"q\" 'a'", "/t/two\nlines", "/t/100% %41", "/t/\xff\xfe", "/t/caf\xc3\xa9"},
         {"keldwick"},
         {"/t/\"q\" 'a'", "/t/two\nlines", "/t/100% %41", "/t/\xff\xfe", "/t/caf\xc3\xa9"}},
        {"URIs as a file manager gives them; others are left to the receiver",
         {"keldwick", "--move-uris", "file:///t/a%20b", "file:///t/%FF", "trash:///x"},
         {"keldwick"},
         {"/t/a b", "/t/\xff"}},
        {"an empty argument names nothing", {"keldwick", "--move", ""}, {"keldwick"}, {}},
        {"the flag alone", {"keldwick", "--move"}, {"keldwick"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Launch launch = parseLaunch(c.arguments, "/work/here");
        EXPECT_EQ(launch.toolkitArguments, c.toolkit);
        EXPECT_EQ(InstanceBus::localPaths(launch.moveUris), c.moved);
    }
    EXPECT_EQ(fileUri("/a b/\n\"%"), "file:///a%20b/%0A%22%25");
}

}  // namespace
}  // namespace keldwick
