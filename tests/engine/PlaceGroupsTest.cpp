// Items are worked on side by side only when their places can't meet: a place inside
// another, or one that differs only in letter case (one place on a drive that ignores
// case), joins that one's group, and each group keeps the items' order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/PlaceGroups.h"

namespace keldwick {
namespace {

TEST(PlaceGroupsTest, GroupsOnlyPlacesThatCanMeet) {
    struct Case {
        const char* name;
        std::vector<std::string> places;
        std::vector<std::vector<size_t>> groups;
    };
    const Case cases[] = {
        {"none", {}, {}},
        {"siblings apart", {"/h/a", "/h/b", "/h/c"}, {{0}, {1}, {2}}},
        {"one place twice, in order", {"/h/a", "/h/b", "/h/a"}, {{0, 2}, {1}}},
        {"inside another, either order", {"/h/a/x", "/h/b", "/h/a", "/h/a/y/z"}, {{0, 2, 3}, {1}}},
        {"the outermost holds all", {"/h/a/b/c", "/h/a/b", "/h/a"}, {{0, 1, 2}}},
        {"a name that only begins the same", {"/h/ab", "/h/a", "/h/a.txt"}, {{0}, {1}, {2}}},
        {"letter case", {"/h/Report.txt", "/h/report.TXT", "/h/Docs/x", "/h/docs"}, {{0, 1}, {2, 3}}},
        {"a trailing slash", {"/h/a/", "/h/a/b"}, {{0, 1}}},
        {"non-ASCII letters keep their case", {"/h/\xC3\x84", "/h/\xC3\xA4"}, {{0}, {1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(groupsByPlace(c.places), c.groups);
    }
}

}  // namespace
}  // namespace keldwick
