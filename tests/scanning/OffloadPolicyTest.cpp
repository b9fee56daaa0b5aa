#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

#include "scanning/Candidate.h"
#include "scanning/OffloadPolicy.h"
#include "scanning/Ranker.h"

using namespace keldwick;

TEST(ContentTypeTest, ConformanceIsTransitive) {
    auto py = ContentType::forExtension("py", ContentType::data);
    ASSERT_TRUE(py);
    EXPECT_TRUE(py->conforms(ContentType::script));
    EXPECT_TRUE(py->conforms(ContentType::sourceCode));
    EXPECT_TRUE(py->conforms(ContentType::plainText));
    EXPECT_TRUE(py->conforms(ContentType::data));
    EXPECT_FALSE(py->conforms(ContentType::image));
    EXPECT_TRUE(ContentType::forExtension("docx", ContentType::data)->conforms(ContentType::archive));
    EXPECT_TRUE(ContentType::forExtension("iso", ContentType::data)->conforms(ContentType::archive));
    EXPECT_FALSE(ContentType::forExtension("app", ContentType::data));
    EXPECT_TRUE(ContentType::forExtension("app", ContentType::package)->conforms(ContentType::application));
    EXPECT_FALSE(ContentType::forExtension("nosuchext", ContentType::data));
    EXPECT_TRUE((ContentType{"org.example.unknown"}).conforms(ContentType{"org.example.unknown"}));
    EXPECT_FALSE((ContentType{"org.example.unknown"}).conforms(ContentType::data));
    // Every type the filter names resolves and reaches data or package.
    for (const auto& list : {OffloadPolicy::sequentialTypes(), OffloadPolicy::randomAccessTypes()}) {
        for (auto type : list) EXPECT_TRUE(type.conforms(ContentType::item) || type.conforms(ContentType::content)) << type.identifier;
    }
    EXPECT_TRUE(ContentType::isPackageExtension("photoslibrary"));
    EXPECT_TRUE(ContentType::isPackageExtension("rtfd"));
    EXPECT_FALSE(ContentType::isPackageExtension("mov"));
    EXPECT_FALSE(ContentType::isPackageExtension(""));
}

TEST(ContentTypeTest, PathExtension) {
    EXPECT_EQ(pathExtension("MOVIE.MKV"), "MKV");
    EXPECT_EQ(pathExtension("/a/b.dir/file"), "");
    EXPECT_EQ(pathExtension("/a/archive.tar.gz"), "gz");
    EXPECT_EQ(pathExtension("/a/Pictures.photoslibrary/"), "photoslibrary");
    EXPECT_EQ(pathExtension("name."), "");
    EXPECT_EQ(pathExtension(""), "");
}

TEST(OffloadPolicyTest, TypeFilter) {
    const auto& light = OffloadPolicy::light();
    OffloadPolicy open;
    struct Case {
        const char* name;
        bool isPackage;
        bool light;
    } cases[] = {
        {"MOVIE.MKV", false, true},      {"clip.mov", false, true},        {"Trip.MP4", false, true},
        {"song.flac", false, true},      {"talk.opus", false, true},       {"photo.CR3", false, true},
        {"book.epub", false, true},      {"report.pdf", false, true},      {"deck.pptx", false, true},
        {"sheet.numbers", true, true},   {"notes.txt", false, true},       {"backup.tar", false, true},
        {"disk.dmg", false, true},       {"vm.qcow2", false, true},        {"/x/Letter.rtfd", true, true},
        {"/x/Letter.rtfd", false, true}, {"data.csv", false, false},       {"README", false, false},
        {"run.sh", false, false},        {"main.c", false, false},         {"tool.py", false, false},
        {"app.js", false, false},        {"lib.so", false, false},         {"setup.exe", false, false},
        {"store.sqlite", false, false},  {"Tool.app", true, false},        {"Kit.framework", true, false},
        {"odd.unknownext", false, false}, {"Tool.AppImage", false, false}, {"bundle.jar", false, false},
        {"movie.mov", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(light.allowsType(c.name, c.isPackage), c.light) << c.name << " package " << c.isPackage;
        EXPECT_TRUE(open.allowsType(c.name, c.isPackage)) << c.name;
    }
    EXPECT_EQ(light.maxFolderFileCount, 20'000);
    EXPECT_FALSE(light.recentLightFiles);
    EXPECT_EQ(OffloadPolicy::sequentialExtensions().size(), 17u);
    EXPECT_EQ(OffloadPolicy::sequentialTypes().size(), 12u);
    EXPECT_EQ(OffloadPolicy::randomAccessTypes().front(), ContentType::sourceCode);
}

TEST(OffloadPolicyTest, DenyBeatsTheExtensionAllowList) {
    OffloadPolicy policy;
    policy.allowedTypes = std::vector<ContentType>{ContentType::movie};
    policy.allowedExtensions = {"py", "weird"};
    policy.deniedTypes = {ContentType::script};
    EXPECT_FALSE(policy.allowsType("x.py", false));
    EXPECT_TRUE(policy.allowsType("x.WEIRD", false));
    EXPECT_TRUE(policy.allowsType("x.mov", false));
    EXPECT_FALSE(policy.allowsType("x.png", false));
    EXPECT_FALSE(policy.allowsType("noextension", false));

    // Without allowedTypes the extension list plays no part, but denial still does.
    OffloadPolicy denyOnly;
    denyOnly.allowedExtensions = {"py"};
    denyOnly.deniedTypes = {ContentType::sourceCode};
    EXPECT_FALSE(denyOnly.allowsType("x.py", false));
    EXPECT_TRUE(denyOnly.allowsType("x.bin", false));
}

TEST(OffloadPolicyTest, DefaultsAndEquality) {
    OffloadPolicy p;
    EXPECT_EQ(p.minimumAge, 2'592'000);
    EXPECT_EQ(p.minimumItemSize, 10'485'760);
    EXPECT_EQ(p.folderInactivity, 7'776'000);
    EXPECT_EQ(p.minimumEmulatorSize, 100'000'000);
    EXPECT_EQ(RecentLightFiles{}.minimumAge, 604'800);
    EXPECT_EQ(RecentLightFiles{}.minimumSize, 100'000'000);
    OffloadPolicy q;
    q.allowedExtensions = {"b", "a"};
    OffloadPolicy r;
    r.allowedExtensions = {"a", "b"};
    EXPECT_EQ(q, r);
    r.allowedTypes = std::vector<ContentType>{};
    EXPECT_NE(q, r);
    EXPECT_NE(OffloadPolicy{}, OffloadPolicy::light());
}

TEST(CandidateTest, DriveSizeNeverBelowSizeAndEqualityCoversEveryField) {
    Candidate a("/h/a", false, 100, 1, Date{10}, LastUsedSource::modificationDate);
    EXPECT_EQ(a.driveSize, 100);
    EXPECT_EQ(Candidate("/h/a", false, 100, 1, Date{10}, LastUsedSource::recentlyUsed, 0, false, std::nullopt, 40).driveSize, 100);
    EXPECT_EQ(Candidate("/h/a", false, 100, 1, Date{10}, LastUsedSource::recentlyUsed, 0, false, std::nullopt, 140).driveSize, 140);
    EXPECT_EQ(a.name(), "a");
    EXPECT_EQ(a.id(), "/h/a");
    EXPECT_EQ(a.displayName(), "a");

    Candidate b = a;
    b.score = 1;
    EXPECT_NE(a, b);
    Candidate plusZero = a, minusZero = a;
    minusZero.score = -0.0;
    EXPECT_EQ(plusZero, minusZero);
    EXPECT_EQ(std::hash<Candidate>{}(plusZero), std::hash<Candidate>{}(minusZero));

    Candidate parent("/h", true, 200, 2, Date{10}, LastUsedSource::modificationDate, 0, false, WholeKind::chosen,
                     std::nullopt, {a});
    Candidate other = parent;
    other.parts[0].score = 3;
    EXPECT_NE(parent, other);
    EXPECT_NE(std::hash<Candidate>{}(parent), std::hash<Candidate>{}(other));
    std::unordered_set<Candidate> set{parent, other, parent};
    EXPECT_EQ(set.size(), 2u);
}

TEST(CandidateTest, LastUsedSourceStrings) {
    for (auto s : {LastUsedSource::recentlyUsed, LastUsedSource::accessDate, LastUsedSource::modificationDate,
                   LastUsedSource::creationDate, LastUsedSource::addedDate}) {
        EXPECT_EQ(parseLastUsedSource(toString(s)), s);
    }
    EXPECT_EQ(toString(LastUsedSource::accessDate), "accessDate");
    EXPECT_FALSE(parseLastUsedSource("RecentlyUsed"));
    EXPECT_FALSE(parseLastUsedSource(""));
}

TEST(RankerTest, Score) {
    Date now{1'000'000'000};
    const int64_t mib = 1'048'576;
    EXPECT_DOUBLE_EQ(Ranker::score(100 * mib, now.adding(-10 * 86'400), now), 100);
    EXPECT_DOUBLE_EQ(Ranker::score(400 * mib, now.adding(-5 * 86'400), now), 100);
    EXPECT_EQ(Ranker::score(0, now.adding(-86'400), now), 0);
    EXPECT_EQ(Ranker::score(mib, now.adding(86'400), now), 0);
    EXPECT_EQ(Ranker::score(-mib, now.adding(-86'400), now), 0);
    EXPECT_EQ(Ranker::score(mib, Date{NAN}, now), 0);
    EXPECT_EQ(Ranker::score(0, Date{-INFINITY}, now), 0);
}

TEST(RankerTest, OrderWithTies) {
    auto make = [](std::string path, int64_t size, double score, bool recent, Date used = Date{0}) {
        return Candidate(std::move(path), false, size, 1, used, LastUsedSource::modificationDate, score, recent);
    };
    EXPECT_TRUE(Ranker{}.rank({}).empty());
    std::vector<Candidate> input = {
        make("/r", 10, 1e12, true),         // recent: last however large
        make("/b", 5, 7, false),
        make("/a", 5, 7, false),            // same score and size: path decides
        make("/c", 9, 7, false),            // same score, larger size first
        make("/d", 1, 9, false),
        make("/a", 5, 7, false, Date{1}),  // equal keys: stays after its twin
        make("/n", 1, NAN, false),
    };
    auto ranked = Ranker{}.rank(input);
    std::vector<std::string> paths;
    for (const auto& c : ranked) paths.push_back(c.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/d", "/c", "/a", "/a", "/b", "/n", "/r"}));
    EXPECT_EQ(ranked[2].lastUsed.secondsSince1970, 0);
    EXPECT_EQ(ranked[3].lastUsed.secondsSince1970, 1);
    EXPECT_EQ(input.front().path, "/r");
}
