#include "foundation/TreeManifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unordered_set>

#include "foundation/Checksum.h"

using namespace keldwick;
using Kind = TreeEntry::Kind;

namespace {

const std::string hashA(64, 'a');
const std::string hashB(64, 'b');

TreeEntry file(std::string path, int64_t size, std::string sha) { return {std::move(path), Kind::file, size, sha, {}}; }
TreeEntry folder(std::string path) { return {std::move(path), Kind::directory, 0, {}, {}}; }
TreeEntry linkEntry(std::string path, std::string target) { return {std::move(path), Kind::symlink, 0, {}, target}; }

std::string line(std::string_view kind, std::string_view path, std::string_view size, std::string_view last) {
    std::string text;
    text.append(kind).push_back('\0');
    text.append(path).push_back('\0');
    text.append(size).push_back('\0');
    text.append(last).push_back('\n');
    return text;
}

}  // namespace

TEST(TreeManifestTest, DigestIsTheHashOfTheCanonicalText) {
    TreeManifest manifest{{file("Docs/a.txt", 12, hashA), folder("Docs"), linkEntry("Docs/l", "a.txt"),
                           file("B", -3, hashB)}};
    // Sorted by path bytes: "B" < "Docs" < "Docs/a.txt" < "Docs/l".
    const std::string expected = line("file", "B", "-3", hashB) + line("directory", "Docs", "0", "") +
                                 line("file", "Docs/a.txt", "12", hashA) + line("symlink", "Docs/l", "0", "a.txt");
    EXPECT_EQ(manifest.canonicalText(), expected);
    EXPECT_EQ(manifest.digest(), Checksum::sha256(expected));
    EXPECT_EQ(manifest.totalSize(), 9);
    EXPECT_EQ(manifest.fileCount(), 2);

    TreeManifest empty;
    EXPECT_EQ(empty.digest(), Checksum::sha256(""));
    EXPECT_EQ(empty.totalSize(), 0);
    EXPECT_EQ(empty.fileCount(), 0);
}

TEST(TreeManifestTest, DigestIgnoresOrderAndNormalisationButNotCase) {
    TreeManifest one{{file("x/b", 1, hashA), folder("x"), file("x/a", 2, hashB)}};
    TreeManifest other{{file("x/a", 2, hashB), file("x/b", 1, hashA), folder("x")}};
    EXPECT_EQ(one.digest(), other.digest());
    EXPECT_NE(one, other);

    // "é" precomposed and as "e" plus a combining accent: one key, the NFC one, in the text.
    TreeManifest composed{{file("caf\xC3\xA9", 1, hashA)}};
    TreeManifest decomposed{{file("cafe\xCC\x81", 1, hashA)}};
    EXPECT_EQ(composed.digest(), decomposed.digest());
    EXPECT_EQ(decomposed.canonicalText(), line("file", "caf\xC3\xA9", "1", hashA));

    // Paths that differ only in case are both kept, upper case first.
    TreeManifest cased{{file("a", 1, hashA), file("A", 2, hashB)}};
    EXPECT_EQ(cased.canonicalText(), line("file", "A", "2", hashB) + line("file", "a", "1", hashA));

    // Equal keys keep their produced order (stable sort).
    TreeManifest same{{file("k", 1, hashA), file("k", 1, hashB)}};
    EXPECT_EQ(same.canonicalText(), line("file", "k", "1", hashA) + line("file", "k", "1", hashB));
}

TEST(TreeManifestTest, LastFieldPrefersTheContentHash) {
    TreeEntry both{"p", Kind::file, 5, hashA, std::string("t")};
    TreeEntry neither{"q", Kind::file, 5, {}, {}};
    EXPECT_EQ(TreeManifest{{both}}.canonicalText(), line("file", "p", "5", hashA));
    EXPECT_EQ(TreeManifest{{neither}}.canonicalText(), line("file", "q", "5", ""));
}

TEST(TreeManifestTest, JsonOmitsAbsentFieldsAndToleratesNull) {
    nlohmann::json json = folder("Docs");
    EXPECT_EQ(json.dump(), R"({"kind":"directory","path":"Docs","size":0})");
    json = linkEntry("l", "../x");
    EXPECT_EQ(json["target"], "../x");
    EXPECT_FALSE(json.contains("sha256"));

    auto decoded = nlohmann::json::parse(R"({"path":"f","kind":"file","size":3,"sha256":null,"extra":1})")
                       .get<TreeEntry>();
    EXPECT_EQ(decoded, (TreeEntry{"f", Kind::file, 3, {}, {}}));

    TreeManifest manifest{{file("Docs/a.txt", 12, hashA), folder("Docs"), linkEntry("l", "t")}};
    nlohmann::json whole = manifest;
    ASSERT_TRUE(whole["entries"].is_array());
    EXPECT_EQ(nlohmann::json::parse(whole.dump()).get<TreeManifest>(), manifest);
}

TEST(TreeManifestTest, JsonRefusesMalformedEntries) {
    for (const char* text : {
             R"({"path":"f","kind":"fifo","size":1})",          // unknown kind
             R"({"path":"f","kind":"File","size":1})",          // kinds are case-sensitive
             R"({"kind":"file","size":1})",                     // no path
             R"({"path":"f","kind":"file"})",                   // no size
             R"({"path":"f","kind":"file","size":1.5})",        // not a whole number
             R"({"path":"f","kind":"file","size":"1"})",        // text where a number belongs
             R"({"path":"f","kind":"file","size":18446744073709551615})",  // beyond 64-bit signed
             R"({"path":7,"kind":"file","size":1})",
             R"({"path":"f","kind":"file","size":1,"sha256":5})",
             R"([1])",
         }) {
        EXPECT_THROW(nlohmann::json::parse(text).get<TreeEntry>(), TreeManifestDecodingError) << text;
    }
    EXPECT_THROW(nlohmann::json::parse(R"({"entries":[{"path":"f","kind":"x","size":1}]})").get<TreeManifest>(),
                 TreeManifestDecodingError);
    EXPECT_THROW(nlohmann::json::parse(R"({"entries":{}})").get<TreeManifest>(), TreeManifestDecodingError);
    EXPECT_THROW(nlohmann::json::parse(R"({})").get<TreeManifest>(), TreeManifestDecodingError);
}

TEST(TreeManifestTest, EntriesHashOverAllFields) {
    std::unordered_set<TreeEntry> set{file("a", 1, hashA), file("a", 1, hashA), linkEntry("a", "t"), folder("a")};
    EXPECT_EQ(set.size(), 3u);
    EXPECT_EQ(parseTreeEntryKind("symlink"), Kind::symlink);
    EXPECT_FALSE(parseTreeEntryKind("link"));
}
