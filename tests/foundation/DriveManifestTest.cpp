#include "foundation/DriveManifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "drives/DriveLayout.h"
#include "platform/POSIXFailure.h"
#include "support/PeakMemory.h"
#include "support/TempDir.h"

using namespace keldwick;
using Entry = DriveManifest::Entry;
using Event = DriveManifest::Entry::Event;

namespace {

Entry entry(const std::string& original, Event event, std::optional<std::string> mac = "MAC-A") {
    Entry e;
    e.machine = std::move(mac);
    e.event = event;
    e.originalPath = original;
    e.relativePath = "Keldwick/Mac (12345678)" + original;
    e.size = 10;
    e.date = Date{1740821400};
    return e;
}

std::vector<std::string> originals(const std::vector<Entry>& entries) {
    std::vector<std::string> paths;
    for (const auto& e : entries) paths.push_back(e.originalPath);
    return paths;
}

}  // namespace

TEST(DriveManifestTest, FirstAppendCreatesFolderAndFileWithTheExactLine) {
    test::TempDir root;
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    EXPECT_TRUE(manifest.read().empty());
    EXPECT_TRUE(manifest.latestEntries("MAC-A").empty());

    Entry e = entry("/home/ann/a b.txt", Event::offloaded);
    e.checksum = std::string(64, 'a');
    e.date = Date{1740821400.7};
    mode_t old = ::umask(022);
    manifest.append(e);
    ::umask(old);

    const std::string file = root / "Keldwick/.keldwick-manifest.jsonl";
    EXPECT_EQ(manifest.path(), file);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "the names, sizes and digests of moved files are private";
    EXPECT_EQ(test::readFile(file),
              "{\"checksum\":\"" + std::string(64, 'a') +
                  "\",\"date\":\"2025-03-01T09:30:00Z\",\"event\":\"offloaded\",\"isDirectory\":false,"
                  "\"mac\":\"MAC-A\",\"originalPath\":\"\\/home\\/ann\\/a b.txt\",\"relativePath\":"
                  "\"Keldwick\\/Mac (12345678)\\/home\\/ann\\/a b.txt\",\"size\":10,\"version\":1}\n");

    Entry folder = entry("/home/ann/Project", Event::restored, std::nullopt);
    folder.isDirectory = true;
    folder.entries = std::vector<TreeEntry>{{"src", TreeEntry::Kind::directory, 0, {}, {}},
                                            {"src/main.c", TreeEntry::Kind::file, 5, std::string(64, 'b'), {}},
                                            {"link", TreeEntry::Kind::symlink, 0, {}, std::string("/etc/hosts")}};
    manifest.append(folder);
    const std::string text = test::readFile(file);
    const std::string second = text.substr(text.find('\n') + 1);
    EXPECT_EQ(second.find("\"mac\""), std::string::npos);
    EXPECT_EQ(second.find("\"checksum\""), std::string::npos);
    EXPECT_EQ(second.find("null"), std::string::npos);
    EXPECT_NE(second.find("\"target\":\"\\/etc\\/hosts\""), std::string::npos);

    e.date = Date{1740821400};
    EXPECT_EQ(manifest.read(), (std::vector<Entry>{e, folder}));
}

TEST(DriveManifestTest, ALegacyManifestIsKeptAndATornLineIsClosedByTheNextAppend) {
    test::TempDir root;
    const std::string legacy = root / "Marrowfen/.marrowfen-manifest.jsonl";
    const std::string first = DriveManifest::encode(entry("/a", Event::offloaded));
    test::writeFile(root / "Marrowfen/.marrowfen-drive.json", "{}");
    test::writeFile(legacy, first + "\n{\"version\":1,\"ev");  // a write cut short
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    EXPECT_EQ(manifest.path(), legacy);
    EXPECT_EQ(originals(manifest.read()), std::vector<std::string>{"/a"});

    manifest.append(entry("/b", Event::offloaded));
    const std::string second = DriveManifest::encode(entry("/b", Event::offloaded));
    EXPECT_EQ(test::readFile(legacy), first + "\n{\"version\":1,\"ev\n" + second + "\n");
    EXPECT_EQ(originals(manifest.read()), (std::vector<std::string>{"/a", "/b"}));
    struct stat st {};
    EXPECT_NE(::lstat((root / "Marrowfen/.keldwick-manifest.jsonl").c_str(), &st), 0);
    EXPECT_NE(::lstat((root / "Keldwick").c_str(), &st), 0);

    // An empty file gets no leading line feed; blank lines are nothing.
    test::TempDir other;
    test::writeFile(other / "Keldwick/.keldwick-manifest.jsonl", "");
    DriveManifest fresh(DriveLayout::appFolder(other.path()));
    fresh.append(entry("/c", Event::offloaded));
    EXPECT_EQ(test::readFile(other / "Keldwick/.keldwick-manifest.jsonl"),
              DriveManifest::encode(entry("/c", Event::offloaded)) + "\n");
    test::writeFile(other / "Keldwick/.keldwick-manifest.jsonl", "\n\n" + first + "\n\n");
    EXPECT_EQ(originals(fresh.read()), std::vector<std::string>{"/a"});
}

TEST(DriveManifestTest, SeveralEntriesGoInOneAppendInOrderOrNotAtAll) {
    test::TempDir root;
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    manifest.append(std::vector<Entry>{});
    struct stat st {};
    EXPECT_NE(::lstat((root / "Keldwick").c_str(), &st), 0);  // nothing to write, nothing made

    const std::string file = root / "Keldwick/.keldwick-manifest.jsonl";
    const std::string first = DriveManifest::encode(entry("/a", Event::offloaded));
    test::writeFile(file, first + "\n{\"version\":1,\"ev");  // a write cut short
    manifest.append(std::vector<Entry>{entry("/b", Event::offloaded), entry("/c", Event::restored)});
    const std::string written = first + "\n{\"version\":1,\"ev\n" + DriveManifest::encode(entry("/b", Event::offloaded)) +
                                "\n" + DriveManifest::encode(entry("/c", Event::restored)) + "\n";
    EXPECT_EQ(test::readFile(file), written);

    Entry unwritable = entry("/d", Event::offloaded);
    unwritable.originalPath = "/d\xff";
    EXPECT_THROW(manifest.append(std::vector<Entry>{entry("/e", Event::offloaded), unwritable}), DriveManifestError);
    EXPECT_EQ(test::readFile(file), written);
}

TEST(DriveManifestTest, LatestEntriesPerPathForThisMachine) {
    test::TempDir root;
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    for (const Entry& e : {
             entry("/z/restored-then-offloaded", Event::restored),
             entry("/shared/no-mac", Event::offloaded, std::nullopt),    // another machine has this path
             entry("/shared/no-mac", Event::offloaded, "MAC-B"),
             entry("/m/offloaded-then-restored", Event::offloaded),
             entry("/lone/no-mac", Event::offloaded, std::nullopt),      // nobody else: ours
             entry("/m/offloaded-then-restored", Event::restored),
             entry("/z/restored-then-offloaded", Event::offloaded),
             entry("/mine", Event::offloaded),
             entry("/mine", Event::discarded, "MAC-B"),                  // never hides our own
             entry("/a/discarded", Event::offloaded),
             entry("/a/discarded", Event::discarded),
         })
        manifest.append(e);
    auto latest = manifest.latestEntries("MAC-A");
    EXPECT_EQ(originals(latest), (std::vector<std::string>{"/lone/no-mac", "/mine", "/z/restored-then-offloaded"}));
    EXPECT_EQ(latest[2].event, Event::offloaded);
    EXPECT_EQ(originals(manifest.latestEntries("MAC-B")), (std::vector<std::string>{"/lone/no-mac", "/shared/no-mac"}));
    EXPECT_EQ(originals(manifest.latestEntries("MAC-C")), std::vector<std::string>{"/lone/no-mac"});
}

TEST(DriveManifestTest, DecodingSkipsWhatIsNotAnEntryOrCouldLeaveTheDrive) {
    const std::string good = DriveManifest::encode(entry("/home/ann/x", Event::offloaded));
    ASSERT_TRUE(DriveManifest::decode(good));
    auto plain = DriveManifest::decode(
        R"({"version":3,"mac":null,"event":"discarded","originalPath":"/h/x","relativePath":"Marrowfen/M/h/x",)"
        R"("isDirectory":true,"size":0,"checksum":null,"entries":null,"date":"2025-03-01T10:30:00+01:00","new":1})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->machine, std::nullopt);
    EXPECT_EQ(plain->entries, std::nullopt);
    EXPECT_EQ(plain->date.secondsSince1970, 1740821400);

    auto with = [&](const std::string& key, const std::string& value) {
        auto json = nlohmann::json::parse(good);
        json[key] = nlohmann::json::parse(value);
        return DriveManifest::decode(json.dump()).has_value();
    };
    EXPECT_FALSE(with("event", R"("moved")"));
    EXPECT_FALSE(with("date", R"("2025-03-01T09:30:00.5Z")"));
    EXPECT_FALSE(with("date", R"("2025-03-01T09:30:00")"));
    EXPECT_FALSE(with("size", "1.5"));
    EXPECT_FALSE(with("isDirectory", "0"));
    EXPECT_FALSE(with("mac", "7"));
    EXPECT_FALSE(with("entries", R"([{"path":"a","kind":"pipe","size":0}])"));
    for (const char* original : {R"("relative/x")", R"("/a/../etc")", R"("/a/./b")", R"("/a//b")", R"("/")", R"("")"})
        EXPECT_FALSE(with("originalPath", original)) << original;
    for (const char* relative : {R"("/etc/passwd")", R"("Keldwick/../../etc")", R"("Other/M/x")", R"("Keldwick")",
                                 R"("Keldwick/")", R"("keldwick/M/x")"})
        EXPECT_FALSE(with("relativePath", relative)) << relative;
    for (const char* tree : {R"([{"path":"../x","kind":"file","size":1}])", R"([{"path":"/x","kind":"file","size":1}])",
                             R"([{"path":"","kind":"directory","size":0}])"})
        EXPECT_FALSE(with("entries", tree)) << tree;
    EXPECT_TRUE(with("entries", R"([{"path":"a/b","kind":"file","size":1}])"));
    auto missing = nlohmann::json::parse(good);
    missing.erase("relativePath");
    EXPECT_FALSE(DriveManifest::decode(missing.dump()));
    EXPECT_FALSE(DriveManifest::decode("[1,2]"));

    Entry bad = entry("/home/ann/\xFF", Event::offloaded);
    test::TempDir root;
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(root.path())).append(bad), DriveManifestError);
    struct stat st {};
    EXPECT_NE(::lstat((root / "Keldwick").c_str(), &st), 0);  // nothing made for an entry that can't be written
}

TEST(DriveManifestTest, AHostileDriveTouchesNothingOutside) {
    test::TempDir outside;
    const std::string victim = test::writeFile(outside / "profile", "export A=1\n");

    test::TempDir linked;
    test::makeDirs(linked / "Keldwick");
    ASSERT_EQ(::symlink(victim.c_str(), (linked / "Keldwick/.keldwick-manifest.jsonl").c_str()), 0);
    DriveManifest viaLink(DriveLayout::appFolder(linked.path()));
    EXPECT_THROW(viaLink.append(entry("/a", Event::offloaded)), DriveManifestError);
    EXPECT_THROW(viaLink.read(), DriveManifestError);
    EXPECT_EQ(test::readFile(victim), "export A=1\n");

    test::TempDir fifo;
    test::makeDirs(fifo / "Keldwick");
    ASSERT_EQ(::mkfifo((fifo / "Keldwick/.keldwick-manifest.jsonl").c_str(), 0644), 0);
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(fifo.path())).read(), DriveManifestError);
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(fifo.path())).append(entry("/a", Event::offloaded)), DriveManifestError);

    test::TempDir redirected;
    ASSERT_EQ(::symlink(outside.path().c_str(), (redirected / "Keldwick").c_str()), 0);
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(redirected.path())).append(entry("/a", Event::offloaded)), POSIXFailure);
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(redirected.path())).read(), POSIXFailure);
    // A plain file in the app folder's place holds no manifest; writing still fails.
    test::TempDir plain;
    test::writeFile(plain / "Keldwick", "");
    EXPECT_TRUE(DriveManifest(DriveLayout::appFolder(plain.path())).read().empty());
    EXPECT_THROW(DriveManifest(DriveLayout::appFolder(plain.path())).append(entry("/a", Event::offloaded)), POSIXFailure);
    struct stat st {};
    EXPECT_NE(::lstat((outside / ".keldwick-manifest.jsonl").c_str(), &st), 0);

    // Crafted lines are skipped; the honest ones around them survive.
    test::TempDir crafted;
    DriveManifest manifest(DriveLayout::appFolder(crafted.path()));
    manifest.append(entry("/home/ann/ok", Event::offloaded));
    Entry escape = entry("/home/ann/evil", Event::offloaded);
    escape.relativePath = "Keldwick/../../../home/ann/.bashrc";
    auto line = DriveManifest::encode(escape);
    const std::string file = manifest.path();
    test::writeFile(file, test::readFile(file) + line + "\n");
    manifest.append(entry("/home/ann/ok2", Event::offloaded));
    EXPECT_EQ(originals(manifest.latestEntries("MAC-A")), (std::vector<std::string>{"/home/ann/ok", "/home/ann/ok2"}));
}

TEST(DriveManifestTest, ShapesNoEntryHasAreRefusedAsTheyShow) {
    const std::string good = DriveManifest::encode(entry("/home/ann/x", Event::offloaded));
    const std::string body = good.substr(1, good.size() - 2);  // the members without braces
    struct Case {
        std::string name;
        std::string line;
        bool decodes;
    } cases[] = {
        {"unknown member holding containers", "{\"future\":{\"a\":[1,{\"b\":[]}]}," + body + "}", true},
        {"repeated member: the last counts", "{\"size\":\"x\"," + body + "}", true},
        {"tree entry with an unknown member", "{\"entries\":[{\"path\":\"a\",\"kind\":\"file\",\"size\":1,\"x\":[]}]," +
                                                  body + "}", true},
        {"a damaged tree entry, even in a member repeated later",
         "{\"entries\":[{}],\"entries\":[{\"path\":\"a\",\"kind\":\"file\",\"size\":1}]," + body + "}", false},
        {"list of lists", "{\"entries\":[[]]," + body + "}", false},
        {"list of numbers", "{\"entries\":[1]," + body + "}", false},
        {"object for a text member", "{\"originalPath\":{}," + body + "}", false},
        {"a list at the top", "[" + good + "]", false},
        {"a number at the top", "7", false},
        {"nesting past any entry's", "{\"future\":" + std::string(20, '[') + std::string(20, ']') + "," + body + "}",
         false},
        {"a string longer than any path", "{\"future\":\"" + std::string((1 << 20) + 1, 'x') + "\"," + body + "}",
         false},
        {"trailing garbage", good + "x", false},
        {"two lines", good + "\n" + good, false},
    };
    for (const auto& c : cases) EXPECT_EQ(DriveManifest::decode(c.line).has_value(), c.decodes) << c.name;
}

TEST(DriveManifestTest, EveryLineReadsTheSameWhereverTheReadsOfTheFileEnd) {
    test::TempDir root;
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    std::vector<Entry> written;
    // Lines of many lengths, so that the ends of the reads fall inside lines and between them.
    for (int i = 0; i < 700; ++i)
        written.push_back(entry("/home/ann/" + std::string(size_t(i * 37 % 301 + 1), char('a' + i % 26)) +
                                    std::to_string(i),
                                Event::offloaded));
    manifest.append(written);
    {
        std::ofstream out(manifest.path(), std::ios::app);
        out << "{\"not\":\"an entry\"}\n";
        out << DriveManifest::encode(entry("/home/ann/without a line feed", Event::restored));
    }
    written.push_back(entry("/home/ann/without a line feed", Event::restored));
    ASSERT_GT(std::filesystem::file_size(manifest.path()), 3u * 65'536);
    EXPECT_EQ(originals(manifest.read()), originals(written));
}

TEST(DriveManifestTest, HostileLinesCostNoMoreMemoryThanTheEntriesKept) {
    test::TempDir root;
    DriveManifest manifest(DriveLayout::appFolder(root.path()));
    manifest.append(entry("/home/ann/first", Event::offloaded));
    {
        std::ofstream out(manifest.path(), std::ios::app);
        auto repeat = [&](const std::string& open, const std::string& item, size_t bytes, const std::string& close) {
            out << open;
            for (size_t written = 0; written < bytes; written += item.size() + 1) out << item << ',';
            out << item << close << '\n';
        };
        repeat("[", "{}", 40 << 20, "]");                           // a tree per byte pair
        repeat("{\"entries\":[", "{}", 10 << 20, "]}");            // tree entries that aren't
        repeat("{\"future\":[", "{\"a\":[1]}", 10 << 20, "]}");     // a member no entry has
        out << "{\"originalPath\":\"" << std::string(30 << 20, 'x') << "\"}\n";  // one long token
    }
    manifest.append(entry("/home/ann/last", Event::offloaded));

    const auto measured = test::measurePeakGrowth([&] {
        return originals(manifest.read()) == std::vector<std::string>{"/home/ann/first", "/home/ann/last"};
    });
    EXPECT_TRUE(measured.passed);
    EXPECT_GE(measured.grownBytes, 0);
    EXPECT_LT(measured.grownBytes, 48 << 20);
}
