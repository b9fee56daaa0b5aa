// Every step on an item at home acts in the folder it first opened: a folder renamed or
// exchanged meanwhile receives nothing, and a working name never lands anywhere else.

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "engine/HomeFolder.h"
#include "engine/OffloadEngine.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/PathUtil.h"
#include "support/EngineWorld.h"

namespace keldwick {
namespace {

using test::candidateFor;
using test::contentOf;
using test::engineOver;
using test::EngineWorld;

TEST(HomeFolderTest, NamesEntriesThroughTheFolderItOpened) {
    EngineWorld world;
    const std::string item = world.makeFile("notes.txt", 100);
    const std::string documents = PathUtil::parent(item);
    const HomeFolder home(item);
    EXPECT_EQ(home.itemPath(), item);
    EXPECT_EQ(home.named(home.item()), item);
    EXPECT_EQ(home.named(home.working(TemporaryKind::trash, 7)), temporaryPath(item, TemporaryKind::trash, 7));
    EXPECT_EQ(home.named("/elsewhere/x"), "/elsewhere/x");
    EXPECT_TRUE(home.stillInPlace());

    // Renamed away and another folder put at its path: the entries are still the opened
    // folder's, and it says it is no longer in place.
    std::filesystem::rename(documents, documents + ".moved");
    std::filesystem::create_directory(documents);
    EXPECT_TRUE(FileStat::peek(home.item())) << "the item, found in the folder as opened";
    EXPECT_FALSE(home.stillInPlace());
    std::filesystem::remove(documents);
    std::filesystem::rename(documents + ".moved", documents);
    EXPECT_TRUE(home.stillInPlace());

    // A folder that isn't there is held by name: nothing is found beneath it.
    const HomeFolder missing(world.home + "/Gone/file.txt");
    EXPECT_EQ(missing.item(), world.home + "/Gone/file.txt");
    EXPECT_FALSE(FileStat::peek(missing.item()));
    EXPECT_TRUE(missing.stillInPlace());
}

// A process keeps exchanging the items' folder with another folder of the home while
// files and folders move, come back and move again: each item ends home whole or as a
// working link to its verified copy, the other folder holds only what it held, and no
// working file is left in either.
TEST(HeldHomeFolderTest, ExchangingTheItemsFolderSendsNothingElsewhere) {
    EngineWorld world;
    std::map<std::string, decltype(contentOf(""))> contents;
    OffloadPlan plan;
    for (int i = 0; i < 34; ++i) {
        const std::string path = i < 30 ? world.makeFile("file-" + std::to_string(i) + ".bin", 3'000 + i)
                                        : world.makeFolder("folder-" + std::to_string(i));
        contents[path] = contentOf(path);
        plan.items.push_back(candidateFor(path));
    }
    const std::string documents = world.home + "/Documents";
    const std::string elsewhere = world.home + "/Elsewhere";
    test::writeFile(elsewhere + "/marker.txt", "stays as it is");

    const int exchanges = test::whileExchanging(documents, elsewhere, [&] {
        engineOver(world)->run(plan, false);
        engineOver(world)->restoreAll();
        engineOver(world)->run(plan, false);
    });
    EXPECT_GT(exchanges, 0);
    world.recover();

    EXPECT_EQ(listDirectory(elsewhere), std::vector<std::string>{"marker.txt"});
    EXPECT_EQ(test::readFile(elsewhere + "/marker.txt"), "stays as it is");
    std::vector<std::string> expected;
    for (const auto& [path, content] : contents) {
        SCOPED_TRACE(path);
        expected.push_back(PathUtil::name(path));
        const auto status = FileStat::read(path);
        ASSERT_TRUE(status);
        if (status->isSymlink()) {
            EXPECT_TRUE(contentOf(readLink(path).value_or("")) == content) << "a working link to its verified copy";
        } else {
            EXPECT_TRUE(contentOf(path) == content) << "home whole";
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listDirectory(documents), expected) << "no working file left";
}

}  // namespace
}  // namespace keldwick
