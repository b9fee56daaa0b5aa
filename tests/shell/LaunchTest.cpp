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

TEST(LaunchTest, HelpAndVersionAreAnsweredBeforeTheToolkitSeesThem) {
    struct Case {
        const char* name;
        Args arguments;
        Launch::Ask ask;
        Args toolkit;
    };
    const Case cases[] = {
        {"--help", {"keldwick", "--help"}, Launch::Ask::help, {"keldwick"}},
        {"-h among the toolkit's options", {"keldwick", "-platform", "xcb", "-h"}, Launch::Ask::help,
         {"keldwick", "-platform", "xcb"}},
        {"--version", {"keldwick", "--version"}, Launch::Ask::version, {"keldwick"}},
        {"the first one wins", {"keldwick", "--version", "--help"}, Launch::Ask::version, {"keldwick"}},
        {"after --move they are items to move", {"keldwick", "--move", "--help", "--version"}, Launch::Ask::run,
         {"keldwick"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Launch launch = parseLaunch(c.arguments, "/work/here");
        EXPECT_EQ(launch.ask, c.ask);
        EXPECT_EQ(launch.toolkitArguments, c.toolkit);
    }
    const std::string usage = usageText("keldwick");
    for (const char* option : {"--move", "--move-uris", "--help", "--version"}) EXPECT_NE(usage.find(option), std::string::npos);
}

}  // namespace
}  // namespace keldwick
