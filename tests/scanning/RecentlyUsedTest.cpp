#include <gtest/gtest.h>
#include <unistd.h>

#include "scanning/RecentlyUsed.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

std::string bookmark(const std::string& href, const std::string& attributes, const std::string& apps = "") {
    return "<bookmark href=\"" + href + "\" " + attributes + "><info><metadata owner=\"http://freedesktop.org\">"
           "<bookmark:applications>" + apps + "</bookmark:applications></metadata></info></bookmark>\n";
}

std::string document(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xbel version=\"1.0\" "
           "xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\">\n" + body + "</xbel>\n";
}

double at(const char* iso) { return Date::parseISO8601(iso)->secondsSince1970; }

}  // namespace

TEST(RecentlyUsedTest, LatestStampOfEachLocalBookmarkWins) {
    const auto dates = RecentlyUsed::parseBookmarks(document(
        bookmark("file:///home/u/Docs/My%20Report.pdf",
                 "added=\"2024-01-01T00:00:00Z\" modified=\"2024-02-01T00:00:00.123456Z\" visited=\"2024-01-15T00:00:00Z\"",
                 "<bookmark:application name=\"Viewer\" exec=\"viewer %u\" modified=\"2024-03-01T10:00:00Z\" count=\"2\"/>") +
        bookmark("https://example.invalid/x", "modified=\"2024-05-01T00:00:00Z\"") +
        bookmark("file:///home/u/bad-stamp", "modified=\"yesterday\"") +
        bookmark("file:///home/u/bad%zzescape", "modified=\"2024-05-01T00:00:00Z\"")));
    ASSERT_EQ(dates.size(), 1u);
    EXPECT_EQ(dates.at("/home/u/Docs/My Report.pdf").secondsSince1970, at("2024-03-01T10:00:00Z"));
}

TEST(RecentlyUsedTest, DamagedDocumentGivesNothing) {
    EXPECT_TRUE(RecentlyUsed::parseBookmarks(document(
        bookmark("file:///a", "modified=\"2024-05-01T00:00:00Z\"")) + "<unclosed").empty());
    EXPECT_TRUE(RecentlyUsed::parseBookmarks("").empty());
}

TEST(RecentlyUsedTest, KeepsOnlyEntriesInsideRootsMatchingLinkedFolders) {
    test::TempDir dir;
    test::makeDirs(dir / "real/Docs");
    test::makeDirs(dir / "realistic");
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "alias").c_str()), 0);
    const std::string stamp = "modified=\"2024-05-01T00:00:00Z\"";
    test::writeFile(dir / "recent.xbel",
                    document(bookmark("file://" + dir.path() + "/alias/Docs/a.txt", stamp) +
                             bookmark("file://" + dir.path() + "/real/Docs/b.txt", stamp) +
                             bookmark("file://" + dir.path() + "/realistic/c.txt", stamp) +
                             bookmark("file:///elsewhere/d.txt", stamp)));

    const auto dates = RecentlyUsed::lastUsedDates({dir / "real"}, {dir / "missing.xbel", dir / "recent.xbel"});
    // The entry recorded through the linked folder is found under the resolved path too.
    EXPECT_EQ(dates.count(dir / "real/Docs/a.txt"), 1u);
    EXPECT_EQ(dates.count(dir / "real/Docs/b.txt"), 1u);
    // A sibling whose name merely begins with the root's name is outside it.
    EXPECT_EQ(dates.count(dir / "realistic/c.txt"), 0u);
    EXPECT_EQ(dates.count("/elsewhere/d.txt"), 0u);

    // A root given through the link also matches entries recorded under the real path.
    const auto viaLink = RecentlyUsed::lastUsedDates({dir / "alias"}, {dir / "recent.xbel"});
    EXPECT_EQ(viaLink.count(dir / "real/Docs/b.txt"), 1u);
    EXPECT_EQ(viaLink.count(dir / "alias/Docs/a.txt"), 1u);
}

TEST(RecentlyUsedTest, NoRootsReadsNothingAndUnreadableSourcesGiveNothing) {
    test::TempDir dir;
    test::writeFile(dir / "garbled.xbel", "<xbel><bookmark href=\"file:///x\" modified=\"2024");
    EXPECT_TRUE(RecentlyUsed::lastUsedDates({}, {dir / "garbled.xbel"}).empty());
    EXPECT_TRUE(RecentlyUsed::lastUsedDates({"/"}, {dir / "garbled.xbel", dir / "nothing.xbel"}).empty());
    // A folder in place of the file is refused, not parsed.
    test::makeDirs(dir / "folder.xbel");
    EXPECT_TRUE(RecentlyUsed::lastUsedDates({"/"}, {dir / "folder.xbel"}).empty());
}
