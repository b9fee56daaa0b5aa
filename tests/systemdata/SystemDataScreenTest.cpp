#include "systemdata/SystemDataScreen.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "support/TempDir.h"
#include "ui/RelativeDate.h"

namespace keldwick {
namespace {

const Date kNow{1'700'000'000};

CacheLocation cache(const std::string& name, int64_t size, bool byDefault = true) {
    CacheLocation location;
    location.name = name;
    location.note = name + " note";
    location.size = size;
    location.selectedByDefault = byDefault;
    return location;
}

MovableData item(const std::string& path, MovableData::Kind kind = MovableData::Kind::appFiles) {
    MovableData data;
    data.path = path;
    data.name = PathUtil::name(path);
    data.kind = kind;
    data.size = 2'000'000'000;
    return data;
}

ModelState ready() {
    ModelState state;
    state.settings.onboardingComplete = true;
    state.driveRoot = "/media/u/Drive";
    return state;
}

TEST(SystemDataScreenTest, ChosenBytesAndTheClearButton) {
    struct Case {
        const char* what;
        std::optional<std::vector<CacheLocation>> caches;
        std::set<std::string> chosen;
        std::optional<std::string> working;
        int64_t bytes;
        bool enabled;
    };
    const std::vector<CacheLocation> two = {cache("Browsers", 1'200'000'000), cache("Tools", 300'000'000)};
    const std::vector<Case> cases = {
        {"before measuring", std::nullopt, {"Browsers"}, std::nullopt, 0, false},
        {"no caches", std::vector<CacheLocation>{}, {}, std::nullopt, 0, false},
        {"nothing ticked", two, {}, std::nullopt, 0, false},
        {"both ticked", two, {"Browsers", "Tools"}, std::nullopt, 1'500'000'000, true},
        {"a vanished name adds nothing", two, {"Tools", "Gone"}, std::nullopt, 300'000'000, true},
        {"busy here", two, {"Tools"}, std::string(kClearingCaches), 300'000'000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SystemDataState view{c.caches, c.chosen, std::nullopt, c.working, std::nullopt};
        EXPECT_EQ(chosenBytes(view), c.bytes);
        const SystemDataScreen screen = systemDataScreen(ready(), view, kNow);
        EXPECT_EQ(screen.clearTitle, "Clear " + byteCountText(c.bytes) + "\u2026");
        EXPECT_EQ(screen.confirmTitle, "Delete " + byteCountText(c.bytes) + " of caches?");
        EXPECT_EQ(screen.clearEnabled, c.enabled);
        EXPECT_EQ(screen.cachesLoading, !c.caches);
        EXPECT_EQ(screen.noCaches, c.caches && c.caches->empty());
    }
}

TEST(SystemDataScreenTest, CacheRowsFollowTheTicks) {
    SystemDataState view;
    view.caches = {cache("Browsers", 1'200'000'000), cache("Tools", 300'000'000, false)};
    view.chosen = {"Browsers"};
    const SystemDataScreen screen = systemDataScreen(ready(), view, kNow);
    ASSERT_EQ(screen.caches.size(), 2u);
    EXPECT_EQ(screen.caches[0], (CacheRow{"Browsers", "Browsers note", byteCountText(1'200'000'000), true}));
    EXPECT_FALSE(screen.caches[1].ticked);
}

TEST(SystemDataScreenTest, ClearedMessages) {
    const std::string freed = byteCountText(1'500'000'000);
    EXPECT_EQ(clearedMessage(1'500'000'000, 0), "Freed " + freed + ".");
    EXPECT_EQ(clearedMessage(1'500'000'000, 1), "Freed " + freed + ". 1 item was open in an app, so it stayed.");
    EXPECT_EQ(clearedMessage(1'500'000'000, 3),
              "Freed " + freed + ". 3 items were open in an app, so they stayed.");
}

TEST(SystemDataScreenTest, SubtitlesAndSymbols) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const Date used = kNow.adding(-3 * 86400);
    const std::string relative = relativeDateText(used, kNow);
    struct Case {
        MovableData::Kind kind;
        std::optional<Date> lastUsed;
        std::optional<std::string> openIn;
        std::string subtitle;
        std::string symbol;
    };
    using K = MovableData::Kind;
    const std::vector<Case> cases = {
        {K::appFiles, used, {}, "App files \u00B7 changed " + relative, "application"},
        {K::appFiles, {}, {}, "App files", "application"},
        {K::emulator, used, {}, "Android emulator \u00B7 changed " + relative, "phone-basic"},
        {K::models, used, {}, "AI models \u00B7 changed " + relative, "brain"},
        {K::emulator, used, "qemu-system-x86_64", "Open in qemu-system-x86_64", "phone-basic"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subtitle);
        MovableData data = item("/home/u/x", c.kind);
        data.lastUsed = c.lastUsed;
        data.openIn = c.openIn;
        EXPECT_EQ(movableSubtitle(data, kNow), c.subtitle);
        EXPECT_EQ(movableSymbol(c.kind), c.symbol);
    }
    QLocale::setDefault(QLocale::c());
}

TEST(SystemDataScreenTest, MovableSectionAndItsGates) {
    struct Case {
        const char* what;
        ModelState state;
        std::optional<std::string> working;
        bool openIn;
        std::string subtitle;
        bool enabled;
    };
    ModelState unplugged = ready();
    unplugged.driveRoot.reset();
    ModelState notSetUp = ready();
    notSetUp.settings.onboardingComplete = false;
    ModelState busy = ready();
    busy.activity = Activity::clearing;
    const std::string plugged = "Whatever uses them needs your drive plugged in.";
    const std::vector<Case> cases = {
        {"ready", ready(), {}, false, plugged, true},
        {"open in an app", ready(), {}, true, plugged, false},
        {"unplugged", unplugged, {}, false, "Plug in your drive to move these.", false},
        {"setup incomplete", notSetUp, {}, false, plugged, false},
        {"model busy", busy, {}, false, plugged, false},
        {"working here", ready(), std::string("Moving"), false, plugged, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SystemDataState view;
        MovableData data = item("/home/u/.android/avd");
        if (c.openIn) data.openIn = "Emulator";
        view.movable = std::vector<MovableData>{data};
        view.working = c.working;
        const SystemDataScreen screen = systemDataScreen(c.state, view, kNow);
        EXPECT_EQ(screen.movableTitle, "Move to your drive");
        EXPECT_EQ(screen.movableSubtitle, c.subtitle);
        ASSERT_EQ(screen.movable.size(), 1u);
        EXPECT_EQ(screen.movable[0].moveEnabled, c.enabled);
        EXPECT_EQ(canMove(c.state, view), c.enabled || c.openIn);
    }
    SystemDataState loading;
    EXPECT_TRUE(systemDataScreen(ready(), loading, kNow).movableLoading);
    loading.movable = std::vector<MovableData>{};
    EXPECT_TRUE(systemDataScreen(ready(), loading, kNow).nothingToMove);
}

TEST(SystemDataScreenTest, FooterShowsWorkOverTheLastOutcome) {
    SystemDataState view;
    EXPECT_EQ(systemDataScreen(ready(), view, kNow).footer, "");
    view.message = "Freed 1 byte.";
    EXPECT_EQ(systemDataScreen(ready(), view, kNow).footer, "Freed 1 byte.");
    view.working = kClearingCaches;
    SystemDataScreen screen = systemDataScreen(ready(), view, kNow);
    EXPECT_TRUE(screen.showsProgress);
    EXPECT_EQ(screen.footer, kClearingCaches);
    EXPECT_EQ(movingText(item("/home/u/Big <b>"), ready()), "Moving \u201CBig <b>\u201D to your drive\u2026");
}

TEST(SystemDataScreenTest, MoveOutcomes) {
    ModelState testMode = ready();
    testMode.settings.dryRunMode = true;
    ModelState testRan = testMode;
    testRan.lastRun = "Test run: would have moved 1 item";
    struct Case {
        const char* what;
        ModelState state;
        bool linked;
        std::optional<std::string> returned;
        MoveOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"linked", ready(), true, std::nullopt, {true, "Moved \u201Cavd\u201D to your drive."}},
        {"linked with a text", ready(), true, std::string("Some note"), {true, "Moved \u201Cavd\u201D to your drive."}},
        {"refused", ready(), false, std::string("Try again later."), {false, "Try again later."}},
        {"nothing said", ready(), false, std::nullopt, {false, "Couldn't move \u201Cavd\u201D."}},
        {"test mode", testMode, false, std::nullopt, {false, kTestModeNothingMoved}},
        {"test run", testRan, false, std::nullopt, {false, "Test run: would have moved 1 item"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(moveOutcome(item("/home/u/.android/avd"), c.state, c.linked, c.returned), c.outcome);
    }
    SystemDataState view;
    view.movable = std::vector<MovableData>{item("/a"), item("/b")};
    removeMovable(view, "/a");
    ASSERT_EQ(view.movable->size(), 1u);
    EXPECT_EQ(view.movable->front().path, "/b");
}

TEST(SystemDataScreenTest, OnlyALinkIntoTheDriveIsAMove) {
    test::TempDir dir;
    const std::string drive = dir / "Drive";
    test::writeFile(drive + "/Keldwick/avd/file", "x");
    test::writeFile(dir / "elsewhere/avd/file", "x");
    test::makeDirs(dir / "home");
    ASSERT_EQ(::symlink((drive + "/Keldwick/avd").c_str(), (dir / "home/moved").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere/avd").c_str(), (dir / "home/other").c_str()), 0);
    ASSERT_EQ(::symlink(drive.c_str(), (dir / "home/root").c_str()), 0);
    ASSERT_EQ(::symlink((drive + "/Keldwick/gone").c_str(), (dir / "home/dangling").c_str()), 0);
    test::makeDirs(dir / "home/folder");
    struct Case {
        const char* what;
        std::string path;
        std::optional<std::string> root;
        bool linked;
    };
    const std::vector<Case> cases = {
        {"a link into the drive", dir / "home/moved", drive, true},
        {"no drive mounted", dir / "home/moved", std::nullopt, false},
        {"a link elsewhere", dir / "home/other", drive, false},
        {"a link to the drive itself", dir / "home/root", drive, false},
        {"a dangling link", dir / "home/dangling", drive, false},
        {"still a folder", dir / "home/folder", drive, false},
        {"nothing there", dir / "home/none", drive, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(linksIntoDrive(c.path, c.root), c.linked);
    }
}

}  // namespace
}  // namespace keldwick
